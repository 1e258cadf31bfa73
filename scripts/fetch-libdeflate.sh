#!/usr/bin/env bash
# Fetches libdeflate 1.23 from Debian's `libdeflate` source package into $1
# (see fetch-debian-source.sh).
set -euo pipefail
exec bash "$(dirname "$0")/fetch-debian-source.sh" libdeflate \
  1ab18349b9fb0ce8a0ca4116bded725be7dcbfa709e19f6f983d99df1fb8b25f \
  lib/deflate_decompress.c "${1:?usage: fetch-libdeflate.sh DEST}"

#!/usr/bin/env bash
# Fetches zlib 1.3.1 (with minizip in contrib/) from Debian's `zlib` source
# package into $1 (see fetch-debian-source.sh).
set -euo pipefail
exec bash "$(dirname "$0")/fetch-debian-source.sh" zlib \
  60dd315c07f616887caa029408308a018ace66e3d142726a97db164b3b8f69fb \
  contrib/minizip/zip.c "${1:?usage: fetch-zlib.sh DEST}"

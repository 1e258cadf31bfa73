#!/usr/bin/env bash
# Fetches zlib 1.3.1 (with minizip in contrib/) from Debian's source package
# into $1 and checks the tarball against its pinned digest. Nothing of it is
# committed; the build compiles it in the build tree.
set -euo pipefail

dest=${1:?usage: fetch-zlib.sh DEST}
version='1:1.3.dfsg+really1.3.1-1'
tarball='zlib_1.3.dfsg+really1.3.1.orig.tar.gz'
sha256='60dd315c07f616887caa029408308a018ace66e3d142726a97db164b3b8f69fb'

[ -f "$dest/contrib/minizip/zip.c" ] && exit 0

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && apt-get source --download-only -q "zlib=$version" >/dev/null 2>&1) || {
  echo "fetch-zlib: apt-get source zlib=$version failed (is the trixie deb-src entry in place? run scripts/bootstrap.sh)" >&2
  exit 1
}
echo "$sha256  $work/$tarball" | sha256sum -c --quiet - || {
  echo "fetch-zlib: $tarball does not match its pinned SHA-256" >&2
  exit 1
}
mkdir -p "$dest"
tar -xzf "$work/$tarball" -C "$dest" --strip-components=1

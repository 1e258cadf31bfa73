#!/usr/bin/env bash
# Fetches zlib 1.3.1 (with minizip in contrib/) from Debian's source package
# into $1. What is pinned is the upstream tarball's SHA-256, not a Debian
# revision: every revision of the package ships the same orig tarball, and a
# suite that moves to a new revision drops the old one from its index. Any
# revision whose orig tarball has the pinned digest will do. Nothing of it is
# committed; the build compiles it in the build tree.
#
# A verified tarball is kept in KELZAR_DOWNLOAD_CACHE (by default
# ~/.cache/kelzar), named by its digest, so later builds need no network.
set -euo pipefail

dest=${1:?usage: fetch-zlib.sh DEST}
sha256='60dd315c07f616887caa029408308a018ace66e3d142726a97db164b3b8f69fb'
cache=${KELZAR_DOWNLOAD_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/kelzar}
cached=$cache/zlib-$sha256.tar.gz

[ -f "$dest/contrib/minizip/zip.c" ] && exit 0

fail() {
  echo "fetch-zlib: $*" >&2
  exit 1
}

digest_ok() {
  [ -f "$1" ] && echo "$sha256  $1" | sha256sum -c --quiet - >/dev/null 2>&1
}

# "version file" for every source stanza of zlib whose files include one
# with the pinned digest.
matching_revisions() {
  apt-cache showsrc zlib 2>/dev/null | awk -v want="$sha256" '
    /^Version:/ { version = $2 }
    /^[^ ]/ && !/^Checksums-Sha256:/ { in_sums = 0 }
    /^Checksums-Sha256:/ { in_sums = 1; next }
    in_sums && $1 == want { print version, $3 }
  ' | sort -u
}

download() {
  local work=$1 version file
  while read -r version file; do
    rm -f "$work/$file"
    (cd "$work" && apt-get source --download-only --tar-only -q "zlib=$version" >/dev/null 2>&1) || continue
    if digest_ok "$work/$file"; then
      tarball=$work/$file
      # Best effort: without a cache the next build downloads again.
      { mkdir -p "$cache" && cp "$tarball" "$cached.new" && mv "$cached.new" "$cached"; } 2>/dev/null || true
      return 0
    fi
  done < <(matching_revisions)
  return 1
}

tarball=$cached
if ! digest_ok "$cached"; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  if ! download "$work"; then
    # The index may name a revision the archive no longer has.
    if [ "$(id -u)" -eq 0 ]; then
      apt-get update -q >/dev/null 2>&1 || true
    fi
    if ! download "$work"; then
      seen=$(apt-cache showsrc zlib 2>/dev/null | sed -n 's/^Version: //p' | sort -u | paste -sd' ')
      fail "no revision of Debian's zlib source package has an orig tarball with SHA-256 $sha256" \
        "(revisions in the index: ${seen:-none; is the trixie deb-src entry of scripts/bootstrap.sh in place?})"
    fi
  fi
fi

mkdir -p "$dest"
tar -xzf "$tarball" -C "$dest" --strip-components=1

#!/usr/bin/env bash
# Fetches the upstream source of one of Debian's source packages into DEST:
#   fetch-debian-source.sh PACKAGE SHA256 MARKER DEST
# What is pinned is the upstream (orig) tarball's SHA-256, not a Debian
# revision: every revision of the package ships the same orig tarball, and a
# suite that moves to a new revision drops the old one from its index. Any
# revision whose orig tarball has the pinned digest will do. Nothing of it is
# committed; the build compiles it in the build tree. MARKER, a file of the
# tree relative to DEST, says the source is already there.
#
# A verified tarball is kept in KELZAR_DOWNLOAD_CACHE (by default
# ~/.cache/kelzar), named by the package and its digest, so later builds
# need no network.
set -euo pipefail

usage='usage: fetch-debian-source.sh PACKAGE SHA256 MARKER DEST'
package=${1:?$usage}
sha256=${2:?$usage}
marker=${3:?$usage}
dest=${4:?$usage}
cache=${KELZAR_DOWNLOAD_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/kelzar}
cached=$cache/$package-$sha256.tar.gz

[ -f "$dest/$marker" ] && exit 0

fail() {
  echo "fetch-$package: $*" >&2
  exit 1
}

digest_ok() {
  [ -f "$1" ] && echo "$sha256  $1" | sha256sum -c --quiet - >/dev/null 2>&1
}

# "version file" for every source stanza of the package whose files include
# one with the pinned digest.
matching_revisions() {
  apt-cache showsrc "$package" 2>/dev/null | awk -v want="$sha256" '
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
    (cd "$work" && apt-get source --download-only --tar-only -q "$package=$version" >/dev/null 2>&1) || continue
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
      seen=$(apt-cache showsrc "$package" 2>/dev/null | sed -n 's/^Version: //p' | sort -u | paste -sd' ')
      fail "no revision of Debian's $package source package has an orig tarball with SHA-256 $sha256" \
        "(revisions in the index: ${seen:-none; is the trixie deb-src entry of scripts/bootstrap.sh in place?})"
    fi
  fi
fi

mkdir -p "$dest"
tar -xzf "$tarball" -C "$dest" --strip-components=1

#!/usr/bin/env bash
# Installs everything the build and the tests need on a fresh Debian 12 machine
# (run as root). Safe to run again: it only installs what is missing.
set -euo pipefail

# The stamp names this script's own digest: a changed package list installs again.
stamp=/var/lib/kelzar-bootstrap.$(sha256sum "$0" | cut -c1-16)
[ -f "$stamp" ] && exit 0

export DEBIAN_FRONTEND=noninteractive

# wine32 is an i386 package.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi

# zlib 1.3.1 comes as source from trixie; a deb-src entry changes no installed binary.
src=/etc/apt/sources.list.d/kelzar-trixie-src.sources
if [ ! -f "$src" ]; then
  cat >"$src" <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: trixie
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
fi

apt-get update -q
apt-get install -y -q --no-install-recommends \
  cmake ninja-build make g++ clang libclang-rt-14-dev googletest libgtest-dev \
  g++-mingw-w64-i686 mingw-w64-i686-dev dpkg-dev \
  wine wine32:i386 \
  p7zip-full unzip zip python3 python3-pytest \
  xvfb xdotool imagemagick python3-pefile x11-utils \
  clang-format
touch "$stamp"

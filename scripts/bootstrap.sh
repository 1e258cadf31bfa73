#!/usr/bin/env bash
# Installs everything the build and the tests need on a fresh Debian 12 machine
# (run as root). Safe to run again: it only installs what is missing.
#
# A mirror in the middle of a sync must not stop a new machine: apt-get update
# is retried and then used with whatever indexes loaded; an install that
# fails is retried once with a temporary preference that keeps amd64 and i386
# candidates from the same suite. Only an install that still fails fails the
# bootstrap, naming the packages that could not be had.
#
# KELZAR_BOOTSTRAP_ROOT (a scratch tree standing in for /), KELZAR_APT_TRIES and
# KELZAR_APT_BACKOFF exist for the tests of this script.
set -euo pipefail

root=${KELZAR_BOOTSTRAP_ROOT:-}
tries=${KELZAR_APT_TRIES:-4}
backoff=${KELZAR_APT_BACKOFF:-5}

packages=(
  cmake ninja-build make g++ clang libclang-rt-14-dev googletest libgtest-dev
  g++-mingw-w64-i686 mingw-w64-i686-dev g++-mingw-w64-x86-64-win32 mingw-w64-x86-64-dev dpkg-dev
  wine wine32:i386 wine64
  p7zip-full unzip zip python3 python3-pytest
  xvfb xdotool imagemagick python3-pefile x11-utils locales
  clang-format
  pigz libarchive-tools gnuplot-nox
)

# The stamp names this script's own digest: a changed package list installs again.
stamp=$root/var/lib/kelzar-bootstrap.$(sha256sum "$0" | cut -c1-16)
[ -f "$stamp" ] && exit 0

export DEBIAN_FRONTEND=noninteractive
work=$(mktemp -d)
pin=$root/etc/apt/preferences.d/kelzar-bootstrap-consistent-suites
trap 'rm -rf "$work" "$pin"' EXIT
: >"$work/failed"

worked_around=()
need_update=0

# wine32 is an i386 package.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  need_update=1
fi

# zlib 1.3.1 comes as source from trixie; a deb-src entry changes no installed binary.
src=$root/etc/apt/sources.list.d/kelzar-trixie-src.sources
if [ ! -f "$src" ]; then
  mkdir -p "$(dirname "$src")"
  cat >"$src" <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: trixie
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  need_update=1
fi

missing_packages() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${db:Status-Abbrev}' "$p" 2>/dev/null | grep -q '^ii' || echo "$p"
  done
}
mapfile -t missing < <(missing_packages "${packages[@]}")
[ ${#missing[@]} -gt 0 ] && need_update=1

# The indexes apt-get could not load, one "suite/component arch kind" per line,
# from its "Err:" lines and its "Failed to fetch .../dists/..." lines.
failed_indexes() {
  sed -nE \
    -e 's|^Err:[0-9]+ [^ ]+ ([^ ]+( [^ ]+)*)$|\1|p' \
    -e 's|^[EW]: Failed to fetch [^ ]*/dists/([^/]+/[^/]+)/binary-([^/]+)/([^ ./]+).*|\1 \2 \3|p' \
    "$1" | sort -u
}

apt_update() {
  local try
  for ((try = 1; try <= tries; try++)); do
    if apt-get update -q >"$work/update.log" 2>&1; then
      [ "$try" -gt 1 ] && worked_around+=("apt-get update loaded every index on try $try")
      return 0
    fi
    [ "$try" -lt "$tries" ] && sleep $((backoff * try))
  done
  failed_indexes "$work/update.log" >"$work/failed"
  local list
  list=$(paste -sd, "$work/failed" | sed 's/,/, /g')
  worked_around+=("after $tries tries apt-get update still failed on ${list:-an index}; went on with the indexes that loaded")
}

# The suites to lower: those whose index failed to load (their packages may be
# there for one architecture and missing for the other), else the security
# suite, whose updates reach the architectures at different times.
write_pin() {
  local suites
  suites=$(sed -E 's|^([^/ ]+).*|\1|' "$work/failed" | sort -u)
  mkdir -p "$(dirname "$pin")"
  : >"$pin"
  if [ -z "$suites" ]; then
    printf 'Package: *\nPin: release l=Debian-Security\nPin-Priority: 100\n' >"$pin"
    echo "the security suite"
    return
  fi
  local s
  for s in $suites; do
    printf 'Package: *\nPin: release n=%s\nPin-Priority: 100\n\n' "$s" >>"$pin"
  done
  echo "$suites" | paste -sd, | sed 's/,/, /g'
}

install() {
  apt-get install -y -q --no-install-recommends "$@" >"$work/install.log" 2>&1
}

report_unavailable() {
  local p bad=()
  for p in "$@"; do
    apt-get install -s -y -q --no-install-recommends "$p" >/dev/null 2>&1 || bad+=("$p")
  done
  echo "bootstrap: could not install ${bad[*]:-the packages} (see apt's words below)" >&2
  grep -E '^(E:| [^ ].* : )' "$work/install.log" | head -n 20 >&2 || true
}

if [ "$need_update" -eq 1 ]; then
  apt_update
fi
if [ ${#missing[@]} -gt 0 ] && ! install "${missing[@]}"; then
  lowered=$(write_pin)
  if install "${missing[@]}"; then
    worked_around+=("the install went through once $lowered was lowered to priority 100")
  else
    report_unavailable "${missing[@]}"
    exit 1
  fi
fi
rm -f "$pin"

if [ ${#worked_around[@]} -gt 0 ]; then
  printf -v joined '%s; ' "${worked_around[@]}"
  echo "bootstrap: worked around: ${joined%; }"
fi
mkdir -p "$(dirname "$stamp")"
touch "$stamp"

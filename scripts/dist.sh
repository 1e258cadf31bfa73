#!/usr/bin/env bash
# Makes the release bundles build/dist/kelzar-<version>-win32.zip (the x86
# build) and -win64.zip (the x64 build), each with kelzar.exe, zlib.dll,
# README.md, LICENSE and the SHA256SUMS of those four, and build/dist/SHA256SUMS
# for both bundles. Both are written by the kelzar.exe that this machine
# runs (KELZAR_ARCH's build), under Wine, and then read back with readers
# that owe nothing to it. The bundles are reproducible: their files carry the
# last commit's time (or SOURCE_DATE_EPOCH) and Wine runs in UTC, so the same
# commit gives the same bytes whichever build wrote them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/wine-env.sh"
writer=$build
work=$root/build/dist-work
out=$root/build/dist

version=$(sed -nE 's/^project\(kelzar VERSION ([0-9]+)\.([0-9]+).*/\1.\2/p' "$root/CMakeLists.txt")
epoch=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || true)}
[ -n "$epoch" ] || { echo "dist: no commit time; set SOURCE_DATE_EPOCH" >&2; exit 1; }

export WINEPREFIX="$work/prefix-$arch" TZ=UTC

rm -rf "$work/stage" "$work/check" "$out"
mkdir -p "$work" "$out"

# The server first and alone, its output in a file: one started by a Wine
# call would hold that call's output open long after it ended.
mkdir -p "$WINEPREFIX"
wineserver -p >"$work/wineserver.log" 2>&1
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
[ -f "$WINEPREFIX/system.reg" ] || "$wine_loader" wineboot -i >"$work/wineboot.log" 2>&1
ln -sfn "$out" "$WINEPREFIX/dosdevices/q:"

# bundle NAME FROM: stages FROM's program beside the documents and zips it.
bundle() {
  local name=$1 from=$2 stage=$work/stage/$1
  mkdir -p "$stage"
  cp "$from/kelzar.exe" "$from/zlib.dll" "$root/README.md" "$root/LICENSE" "$stage/"
  (cd "$stage" && sha256sum kelzar.exe zlib.dll README.md LICENSE >SHA256SUMS)
  touch -d "@$epoch" "$stage"/*
  ln -sfn "$stage" "$WINEPREFIX/dosdevices/p:"
  local status=0
  "$wine_loader" "$writer/kelzar.exe" "q:\\$name" 'p:\*.*' </dev/null >"$work/$name.log" 2>&1 ||
    status=$?
  if [ "$status" -ne 0 ]; then
    echo "dist: kelzar.exe exited with $status writing $name" >&2
    exit 1
  fi
  check "$out/$name" "$stage"
}

# Independent checks: Info-ZIP's test, Python's CRC-checked read of exactly
# the staged files, and the sums from inside the bundle.
check() {
  local zip=$1 stage=$2
  unzip -tq "$zip" >/dev/null
  python3 - "$zip" "$stage" <<'PY'
import sys, zipfile
from pathlib import Path
bundle, stage = Path(sys.argv[1]), Path(sys.argv[2])
want = sorted(p.name for p in stage.iterdir())
with zipfile.ZipFile(bundle) as z:
    names = sorted(z.namelist())
    if names != want:
        sys.exit(f"dist: {bundle.name} holds {names}, not {want}")
    for name in names:
        if z.read(name) != (stage / name).read_bytes():
            sys.exit(f"dist: {name} in {bundle.name} differs from the staged file")
PY
  local unpacked=$work/check/$(basename "$zip")
  mkdir -p "$unpacked"
  unzip -q "$zip" -d "$unpacked"
  (cd "$unpacked" && sha256sum -c --quiet SHA256SUMS)
}

bundle "kelzar-$version-win32.zip" "$root/build/windows-x86"
bundle "kelzar-$version-win64.zip" "$root/build/windows-x64"
(cd "$out" && sha256sum "kelzar-$version-win32.zip" "kelzar-$version-win64.zip" >SHA256SUMS)
cat "$out/SHA256SUMS"

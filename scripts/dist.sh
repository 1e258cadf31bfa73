#!/usr/bin/env bash
# Makes the release bundle build/dist/kelzar-<version>-win32.zip: kelzar.exe,
# zlib.dll, README.md, LICENSE and SHA256SUMS. The archive is written by the
# kelzar.exe just built, under Wine, and then read back with readers that owe
# nothing to it. The bundle is reproducible: its files carry the last
# commit's time (or SOURCE_DATE_EPOCH) and Wine runs in UTC, so the same
# commit gives the same bytes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KELZAR_BUILD_DIR:-$root/build/windows}
work=$root/build/dist-work
out=$root/build/dist

version=$(sed -nE 's/^project\(kelzar VERSION ([0-9]+)\.([0-9]+).*/\1.\2/p' "$root/CMakeLists.txt")
bundle=kelzar-$version-win32.zip
epoch=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || true)}
[ -n "$epoch" ] || { echo "dist: no commit time; set SOURCE_DATE_EPOCH" >&2; exit 1; }

export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win32 TZ=UTC
unset DISPLAY WAYLAND_DISPLAY

rm -rf "$work/stage" "$out"
mkdir -p "$work/stage" "$out"
cp "$build/kelzar.exe" "$build/zlib.dll" "$work/stage/"
cp "$root/README.md" "$root/LICENSE" "$work/stage/"
(cd "$work/stage" && sha256sum kelzar.exe zlib.dll README.md LICENSE >SHA256SUMS)
touch -d "@$epoch" "$work/stage"/*

# The server first and alone, its output in a file: one started by a Wine
# call would hold that call's output open long after it ended.
mkdir -p "$WINEPREFIX"
wineserver -p >"$work/wineserver.log" 2>&1
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
[ -f "$WINEPREFIX/system.reg" ] || wineboot -i >"$work/wineboot.log" 2>&1
ln -sfn "$work/stage" "$WINEPREFIX/dosdevices/p:"
ln -sfn "$out" "$WINEPREFIX/dosdevices/q:"

status=0
wine "$build/kelzar.exe" "q:\\$bundle" 'p:\*.*' </dev/null >"$work/kelzar.log" 2>&1 || status=$?
if [ "$status" -ne 0 ]; then
  echo "dist: kelzar.exe exited with $status" >&2
  exit 1
fi

# Independent checks: Info-ZIP's test, Python's CRC-checked read of exactly
# the staged files, and the sums from inside the bundle.
unzip -tq "$out/$bundle" >/dev/null
python3 - "$out/$bundle" "$work/stage" <<'PY'
import sys, zipfile
from pathlib import Path
bundle, stage = Path(sys.argv[1]), Path(sys.argv[2])
want = sorted(p.name for p in stage.iterdir())
with zipfile.ZipFile(bundle) as z:
    names = sorted(z.namelist())
    if names != want:
        sys.exit(f"dist: the bundle holds {names}, not {want}")
    for name in names:
        if z.read(name) != (stage / name).read_bytes():
            sys.exit(f"dist: {name} in the bundle differs from the staged file")
PY
rm -rf "$work/check"
mkdir -p "$work/check"
unzip -q "$out/$bundle" -d "$work/check"
(cd "$work/check" && sha256sum -c --quiet SHA256SUMS)
(cd "$out" && sha256sum "$bundle")

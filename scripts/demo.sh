#!/usr/bin/env bash
# Runs kelzar.exe under Wine on a sample folder, as a Windows user would:
#   kelzar.exe d:\out\sample.zip d:\src\*.txt
# and lists the archive it made. The build is the one KELZAR_ARCH names.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/wine-env.sh"
demo="$root/build/demo-$arch"
export WINEPREFIX="$demo/wineprefix"

rm -rf "$demo/d"
mkdir -p "$demo/d/src/notes" "$demo/d/out"
printf 'Kelzar puts files into ZIP archives.\r\n' >"$demo/d/src/readme.txt"
seq 1 20000 >"$demo/d/src/numbers.txt"
printf 'not a text file\n' >"$demo/d/src/image.bin"
printf 'in a subfolder\n' >"$demo/d/src/notes/todo.txt"

# The server first and alone, its output in a file: one started by a Wine
# call would hold that call's output open long after it ended.
mkdir -p "$WINEPREFIX"
wineserver -p >"$demo/wineserver.log" 2>&1
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "Creating a Wine prefix ($WINEARCH) in $WINEPREFIX ..."
  "$wine_loader" wineboot -i >"$demo/wineboot.log" 2>&1
fi
ln -sfn "$demo/d" "$WINEPREFIX/dosdevices/d:"

status=0
run() {
  echo "> kelzar.exe $*"
  local code=0
  "$wine_loader" "$build/kelzar.exe" "$@" </dev/null >/dev/null 2>&1 || code=$?
  echo "exit code: $code"
  [ "$code" -eq 0 ] || status=1
}

run 'd:\out\sample.zip' 'd:\src\*.txt'
unzip -lv "$demo/d/out/sample.zip"
run 'd:\out\tree.zip' 'd:\src\*.txt' 1
unzip -lv "$demo/d/out/tree.zip"
exit "$status"

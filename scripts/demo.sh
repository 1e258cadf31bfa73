#!/usr/bin/env bash
# Runs kelzar.exe under Wine on a sample folder, as a Windows user would:
#   kelzar.exe d:\out\sample.zip d:\src\*.txt
# and lists the archive it made.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
demo="$root/build/demo"
export WINEPREFIX="$demo/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

rm -rf "$demo/d"
mkdir -p "$demo/d/src/notes" "$demo/d/out"
printf 'Kelzar puts files into ZIP archives.\r\n' >"$demo/d/src/readme.txt"
seq 1 20000 >"$demo/d/src/numbers.txt"
printf 'not a text file\n' >"$demo/d/src/image.bin"
printf 'in a subfolder\n' >"$demo/d/src/notes/todo.txt"

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "Creating a Wine prefix in $WINEPREFIX ..."
  wineboot -i >/dev/null 2>&1
fi
ln -sfn "$demo/d" "$WINEPREFIX/dosdevices/d:"

run() {
  echo "> kelzar.exe $*"
  set +e
  wine "$root/build/windows/kelzar.exe" "$@" </dev/null >/dev/null 2>&1
  echo "exit code: $?"
  set -e
}

run 'd:\out\sample.zip' 'd:\src\*.txt'
unzip -lv "$demo/d/out/sample.zip"
run 'd:\out\tree.zip' 'd:\src\*.txt' 1
unzip -lv "$demo/d/out/tree.zip"
wineserver -k 2>/dev/null || true

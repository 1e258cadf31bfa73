#!/usr/bin/env bash
# Which Windows build this machine can run under Wine, and why.
#
#   build-under-test.sh WHAT CMD...   prints one line naming the build that
#                                     WHAT (a make target) runs and why, then
#                                     runs CMD with KELZAR_ARCH set to it
#   build-under-test.sh --runs-i386   exits 0 when this machine runs 32-bit
#                                     programs
#
# Wine's 32-bit loader is an i386 program, and some kernels run none (IA-32
# emulation off): there only the x64 build, under Wine's 64-bit loader, can
# be run. KELZAR_ARCH=x86|x64 chooses the build; KELZAR_ASSUME_NO_I386=1
# makes the probe answer "no", so that the x64-only path can be tried on any
# machine. CMD also gets KELZAR_RUNS_I386=1 or 0, the probe's answer.
set -euo pipefail

# The i386 dynamic loader, run for its version, starts only where the kernel
# runs 32-bit programs (it is installed with Wine's 32-bit half), or where
# qemu's i386 emulation is registered for them, which is far too slow to
# test on and is not counted.
runs_i386() {
  [ "${KELZAR_ASSUME_NO_I386:-0}" != 1 ] || return 1
  local handler
  for handler in /proc/sys/fs/binfmt_misc/*; do
    [ -f "$handler" ] && grep -qx enabled "$handler" 2>/dev/null &&
      grep -q '^interpreter .*qemu-i386' "$handler" 2>/dev/null && return 1
  done
  /lib/ld-linux.so.2 --version >/dev/null 2>&1
}

if [ "${1:-}" = --runs-i386 ]; then
  runs_i386 && exit 0 || exit 1
fi

what=${1:?usage: build-under-test.sh WHAT CMD...}
shift

if runs_i386; then
  export KELZAR_RUNS_I386=1
  machine="this machine runs 32-bit programs"
elif [ "${KELZAR_ASSUME_NO_I386:-0}" = 1 ]; then
  export KELZAR_RUNS_I386=0
  machine="KELZAR_ASSUME_NO_I386=1 takes this machine as one that runs no 32-bit programs"
else
  export KELZAR_RUNS_I386=0
  machine="this machine's kernel runs no 32-bit programs"
fi

case "${KELZAR_ARCH:-}" in
  x86 | x64)
    reason="KELZAR_ARCH=$KELZAR_ARCH chooses it ($machine)"
    ;;
  "")
    if [ "$KELZAR_RUNS_I386" = 1 ]; then KELZAR_ARCH=x86; else KELZAR_ARCH=x64; fi
    reason=$machine
    ;;
  *)
    echo "$what: KELZAR_ARCH must be x86 or x64, not '$KELZAR_ARCH'" >&2
    exit 2
    ;;
esac
export KELZAR_ARCH

echo "$what: $reason: running the $KELZAR_ARCH build"
exec "$@"

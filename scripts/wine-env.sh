# Sourced by the scripts that run kelzar.exe under Wine (demo, dist): the
# build KELZAR_ARCH names (make's targets set it; unset, the one this
# machine runs) and the Wine loader of its bitness, in a prefix of that
# kind. The wine command picks the 32-bit loader whenever Wine's 32-bit half
# is installed, so the 64-bit one is named directly.
#   needs: root (the repository); sets: arch, build, wine_loader
if [ -n "${KELZAR_ARCH:-}" ]; then
  arch=$KELZAR_ARCH
elif bash "$root/scripts/build-under-test.sh" --runs-i386; then
  arch=x86
else
  arch=x64
fi
case $arch in
  x86) wine_loader=wine; export WINEARCH=win32; unset WINELOADER ;;
  x64) wine_loader=/usr/lib/wine/wine64; export WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64 ;;
  *) echo "KELZAR_ARCH must be x86 or x64, not '$arch'" >&2; exit 2 ;;
esac
build=${KELZAR_BUILD_DIR:-$root/build/windows-$arch}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

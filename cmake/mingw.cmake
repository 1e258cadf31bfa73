# Cross-compiles for Windows with Debian's mingw-w64 toolchains:
# KELZAR_WINDOWS_ARCH (set by the preset) is x86 (i686, 32-bit) or x64
# (x86_64). The -win32 compilers by name: Windows threads and no winpthread
# DLL to ship, whichever variant the machine's alternatives point at.
# No emulator: tests start Windows programs through their own harness,
# which picks the Wine loader for the build.
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KELZAR_WINDOWS_ARCH)
if(KELZAR_WINDOWS_ARCH STREQUAL "x86")
  set(triple i686-w64-mingw32)
  set(CMAKE_SYSTEM_PROCESSOR i686)
elseif(KELZAR_WINDOWS_ARCH STREQUAL "x64")
  set(triple x86_64-w64-mingw32)
  set(CMAKE_SYSTEM_PROCESSOR x86_64)
else()
  message(FATAL_ERROR "KELZAR_WINDOWS_ARCH must be x86 or x64, not '${KELZAR_WINDOWS_ARCH}'")
endif()
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${triple}-gcc-win32)
set(CMAKE_CXX_COMPILER ${triple}-g++-win32)
set(CMAKE_RC_COMPILER ${triple}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# The same commit gives the same kelzar.exe and zlib.dll bytes on any machine
# with the same toolchain, wherever the clone lies, so that a binary can be
# checked against its source.
#  - No link time stamps in the PE headers or the export and resource tables.
#  - Source and build paths recorded as relative names wherever the compiler
#    would record them (__FILE__, debug info before stripping). GCC uses the
#    last map that matches, so the folders inside the source tree come after it.
#  - Nothing may read the build's clock: __DATE__ and friends are errors
#    rather than a dependence on SOURCE_DATE_EPOCH being set.
if(WIN32)
  add_link_options(-Wl,--no-insert-timestamp)
endif()
add_compile_options(
  "-ffile-prefix-map=${CMAKE_SOURCE_DIR}=."
  "-ffile-prefix-map=${KELZAR_ZLIB_SOURCE_DIR}=zlib"
  "-ffile-prefix-map=${KELZAR_LIBDEFLATE_SOURCE_DIR}=libdeflate"
  "-ffile-prefix-map=${CMAKE_BINARY_DIR}=build"
  -Werror=date-time)

# libdeflate 1.23, as a static library of what the read-back needs of it:
# whole-buffer raw inflate and CRC-32 (with the processor feature checks
# that choose their fastest code). Linked into kelzar.exe itself, so the
# program still binds no DLL but Windows' own and zlib.dll; natively, into
# the tests and fuzzers as any other library.
set(dsrc "${KELZAR_LIBDEFLATE_SOURCE_DIR}")
set(KELZAR_LIBDEFLATE_SOURCES
  lib/deflate_decompress.c lib/crc32.c lib/utils.c lib/x86/cpu_features.c)
list(TRANSFORM KELZAR_LIBDEFLATE_SOURCES PREPEND "${dsrc}/")
add_library(libdeflate STATIC ${KELZAR_LIBDEFLATE_SOURCES})
set_target_properties(libdeflate PROPERTIES OUTPUT_NAME deflate POSITION_INDEPENDENT_CODE ON
                                            C_STANDARD 99)
target_compile_options(libdeflate PRIVATE -O2 -w)
target_compile_definitions(libdeflate PRIVATE NDEBUG)
target_include_directories(libdeflate SYSTEM PUBLIC "${dsrc}")

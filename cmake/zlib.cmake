# zlib 1.3.1 with its minizip zip/unzip layer.
#  - Windows: one 32-bit zlib.dll (plus import library) that kelzar.exe binds at
#    load time; minizip's Win32 file layer (iowin32) is part of it.
#  - Native: a static library, so that the code that talks only to minizip
#    handles can be unit-tested and fuzzed on the build machine.
set(zsrc "${KELZAR_ZLIB_SOURCE_DIR}")
set(KELZAR_ZLIB_CORE_SOURCES
  adler32.c compress.c crc32.c deflate.c gzclose.c gzlib.c gzread.c gzwrite.c
  infback.c inffast.c inflate.c inftrees.c trees.c uncompr.c zutil.c)
list(TRANSFORM KELZAR_ZLIB_CORE_SOURCES PREPEND "${zsrc}/")
# minizip looks for the end record in the last 65,535 bytes only, 22 short of
# an end record followed by the longest comment: such archives, which every
# other reader opens, would be refused. The build compiles a copy of
# unzip.c whose search reaches the whole record.
file(READ "${zsrc}/contrib/minizip/unzip.c" unzip_source)
set(short_window "ZPOS64_T uMaxBack=0xffff; /* maximum size of global comment */")
string(FIND "${unzip_source}" "${short_window}" found)
if(found EQUAL -1)
  message(FATAL_ERROR "minizip's unzip.c is not the expected version")
endif()
string(REPLACE "${short_window}" "ZPOS64_T uMaxBack=0xffff+22; /* comment and end record */"
       unzip_source "${unzip_source}")
set(patched_unzip "${CMAKE_BINARY_DIR}/minizip/unzip.c")
file(WRITE "${patched_unzip}.new" "${unzip_source}")
file(COPY_FILE "${patched_unzip}.new" "${patched_unzip}" ONLY_IF_DIFFERENT)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${zsrc}/contrib/minizip/unzip.c")
set(KELZAR_MINIZIP_SOURCES
  "${zsrc}/contrib/minizip/ioapi.c"
  "${zsrc}/contrib/minizip/zip.c"
  "${patched_unzip}")

if(WIN32)
  add_library(zlib SHARED ${KELZAR_ZLIB_CORE_SOURCES} ${KELZAR_MINIZIP_SOURCES}
              "${zsrc}/contrib/minizip/iowin32.c")
  # The DLL is named exactly zlib.dll; no "lib" prefix.
  set_target_properties(zlib PROPERTIES PREFIX "" OUTPUT_NAME zlib IMPORT_PREFIX "lib")
  target_link_options(zlib PRIVATE -static-libgcc -s)
else()
  add_library(zlib STATIC ${KELZAR_ZLIB_CORE_SOURCES} ${KELZAR_MINIZIP_SOURCES})
  set_target_properties(zlib PROPERTIES POSITION_INDEPENDENT_CODE ON)
endif()
target_compile_options(zlib PRIVATE -O2 -w)
# minizip reads and writes Zip64; NOCRYPT: the program never encrypts.
target_compile_definitions(zlib PRIVATE NOCRYPT)
target_include_directories(zlib SYSTEM PUBLIC "${zsrc}" "${zsrc}/contrib/minizip")

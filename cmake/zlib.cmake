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
# A few changes to minizip, made to copies in the build tree (the fetched
# source stays as it is); each replaced text must be found as many times as
# expected, or the source is not the version these changes were made for.
function(kelzar_replace variable name times old new)
  string(REPLACE "${old}" "" without "${${variable}}")
  string(LENGTH "${${variable}}" with_length)
  string(LENGTH "${without}" without_length)
  string(LENGTH "${old}" old_length)
  math(EXPR found "(${with_length} - ${without_length}) / ${old_length}")
  if(NOT found EQUAL times)
    message(FATAL_ERROR "minizip's ${name} is not the expected version")
  endif()
  string(REPLACE "${old}" "${new}" replaced "${${variable}}")
  set(${variable} "${replaced}" PARENT_SCOPE)
endfunction()

function(kelzar_write_minizip_copy name source)
  set(copy "${CMAKE_BINARY_DIR}/minizip/${name}")
  file(WRITE "${copy}.new" "${source}")
  file(COPY_FILE "${copy}.new" "${copy}" ONLY_IF_DIFFERENT)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${zsrc}/contrib/minizip/${name}")
endfunction()

# unzip.c:
#  - it looks for the end records (both of them) in the last 65,535 bytes
#    only, 22 short of
#    an end record followed by the longest comment: such archives, which
#    every other reader opens, would be refused;
#  - raw reads (entries copied as they are) compute a CRC of the compressed
#    bytes that nothing ever checks.
file(READ "${zsrc}/contrib/minizip/unzip.c" unzip_source)
kelzar_replace(unzip_source unzip.c 2
  "ZPOS64_T uMaxBack=0xffff; /* maximum size of global comment */"
  "ZPOS64_T uMaxBack=0xffff+22; /* comment and end record */")
kelzar_replace(unzip_source unzip.c 1
  "            pfile_in_zip_read_info->crc32 = crc32(pfile_in_zip_read_info->crc32,
                                pfile_in_zip_read_info->stream.next_out,"
  "            if (!pfile_in_zip_read_info->raw) /* raw data has no CRC to check */
            pfile_in_zip_read_info->crc32 = crc32(pfile_in_zip_read_info->crc32,
                                pfile_in_zip_read_info->stream.next_out,")
kelzar_write_minizip_copy(unzip.c "${unzip_source}")

# zip.c: raw writes compute a CRC of the compressed bytes that the CRC given
# when the entry is closed replaces.
file(READ "${zsrc}/contrib/minizip/zip.c" zip_source)
kelzar_replace(zip_source zip.c 1
  "    zi->ci.crc32 = crc32(zi->ci.crc32,buf,(uInt)len);"
  "    if (!zi->ci.raw) /* a raw entry's CRC comes with zipCloseFileInZipRaw */
    zi->ci.crc32 = crc32(zi->ci.crc32,buf,(uInt)len);")
kelzar_write_minizip_copy(zip.c "${zip_source}")

set(KELZAR_MINIZIP_SOURCES
  "${zsrc}/contrib/minizip/ioapi.c"
  "${CMAKE_BINARY_DIR}/minizip/zip.c"
  "${CMAKE_BINARY_DIR}/minizip/unzip.c")

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

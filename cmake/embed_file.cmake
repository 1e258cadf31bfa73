# Turns a binary file into a C++ source that holds its bytes as a constant
# array. Run as a script:
#   cmake -DINPUT=file -DOUTPUT=file.cpp -DNAME=kName -DHEADER=dir/name.h -P embed_file.cmake
# The source defines kelzar::${NAME} and kelzar::${NAME}Size, as declared in
# ${HEADER}.
foreach(var INPUT OUTPUT NAME HEADER)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "embed_file.cmake: ${var} is not set")
  endif()
endforeach()

file(SIZE "${INPUT}" size)
if(size EQUAL 0)
  message(FATAL_ERROR "embed_file.cmake: ${INPUT} is empty")
endif()
file(READ "${INPUT}" hex HEX)
# Sixteen bytes to a line.
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n    " bytes "${bytes}")
get_filename_component(input_name "${INPUT}" NAME)

file(WRITE "${OUTPUT}.new"
  "// Generated at build time from ${input_name} by cmake/embed_file.cmake; do not edit.\n"
  "#include \"${HEADER}\"\n\n"
  "namespace kelzar {\n\n"
  "extern const unsigned char ${NAME}[] = {\n    ${bytes}\n};\n"
  "extern const std::size_t ${NAME}Size = ${size};\n\n"
  "} // namespace kelzar\n")
# Only a changed image touches the source, so nothing rebuilds needlessly.
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")

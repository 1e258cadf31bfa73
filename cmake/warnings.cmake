# Warnings and sanitizers for the project's own code (not for zlib).
add_library(kelzar_options INTERFACE)
target_compile_options(kelzar_options INTERFACE
  $<$<COMPILE_LANGUAGE:CXX>:-Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion>)
if(KELZAR_SANITIZE AND NOT WIN32)
  target_compile_options(kelzar_options INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(kelzar_options INTERFACE -fsanitize=address,undefined)
endif()
if(KELZAR_TSAN AND NOT WIN32)
  target_compile_options(kelzar_options INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(kelzar_options INTERFACE -fsanitize=thread)
endif()
if(KELZAR_FUZZ)
  # Coverage for the fuzzer in everything the harnesses link, zlib included.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# TELHID_SANITIZE selects one sanitizer build for the whole tree.
if(TELHID_SANITIZE STREQUAL "address,undefined")
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined -fno-sanitize-recover=all)
elseif(TELHID_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(TELHID_SANITIZE)
  message(FATAL_ERROR "TELHID_SANITIZE must be empty, address,undefined or thread")
endif()

# Fuzz builds instrument all code for coverage; only fuzz targets link libFuzzer.
if(TELHID_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

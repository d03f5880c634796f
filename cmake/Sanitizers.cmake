# Sanitizers apply to everything in the build tree, so the host, the device library and the
# plug-in are instrumented alike.
if(KIVOROVA_ENABLE_SANITIZER STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(KIVOROVA_ENABLE_SANITIZER STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT KIVOROVA_ENABLE_SANITIZER STREQUAL "")
  message(FATAL_ERROR "KIVOROVA_ENABLE_SANITIZER must be '', 'address' or 'thread'")
endif()

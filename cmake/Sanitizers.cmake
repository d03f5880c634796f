# Sanitizers apply to everything in the build tree, so the host, the device library and the
# plug-in are instrumented alike. Their presets build at -O1 with line tables only (-g1): enough
# for the sanitizers' stack traces to name files and lines, and half the compile time of -O2 -g
# (Boost.Asio's units take minutes each under instrumentation).
if(KIVOROVA_ENABLE_SANITIZER STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(KIVOROVA_ENABLE_SANITIZER STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT KIVOROVA_ENABLE_SANITIZER STREQUAL "")
  message(FATAL_ERROR "KIVOROVA_ENABLE_SANITIZER must be '', 'address' or 'thread'")
endif()

# kivorova_warnings(TARGET): the project's warning set, applied to every target we build.
function(kivorova_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
                                           -Wold-style-cast -Woverloaded-virtual -Wnull-dereference
                                           -Wimplicit-fallthrough)
  if(KIVOROVA_WARNING_AS_ERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

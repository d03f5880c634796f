# kivorova_warnings(TARGET): the project's warning set, applied to every target we build.
function(kivorova_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
                                           -Wold-style-cast -Woverloaded-virtual
                                           -Wimplicit-fallthrough)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    # GCC 12 reports -Wrestrict/-Wstringop-overflow inside libstdc++'s own string code at -O2 and
    # above (a known false positive of that release), which -Werror would turn into a failure.
    target_compile_options(${target} PRIVATE -Wno-restrict -Wno-stringop-overflow)
  endif()
  if(KIVOROVA_WARNING_AS_ERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# kivorova_inlined_warnings(TARGET): for targets that compile Boost.Beast or std::regex. With the
# sanitizers' instrumentation GCC 12 reports -Wmaybe-uninitialized inside Boost's optional and
# std::regex's compiler, code it inlined from the system headers (a false positive of that
# release).
function(kivorova_inlined_warnings target)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(${target} PRIVATE -Wno-maybe-uninitialized)
  endif()
  # Boost.Asio's atomics use std::atomic_thread_fence, which GCC warns ThreadSanitizer does not
  # model; its own synchronisation goes through mutexes and atomics the sanitizer does see.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND KIVOROVA_ENABLE_SANITIZER STREQUAL "thread")
    target_compile_options(${target} PRIVATE -Wno-tsan)
  endif()
endfunction()

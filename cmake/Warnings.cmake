# Warnings on for every target of ours; the build stays clean of them. The strict
# presets (linux, windows and linux-clang-threads, which `make test` builds) also warn of
# shadowed names and of implicit conversions that may change a value, and fail on any
# warning.
option(KELVATONE_STRICT "Warn of shadowing and lossy conversions, and fail on any warning" OFF)
add_compile_options(-Wall -Wextra)
if(KELVATONE_STRICT)
  add_compile_options(-Wshadow -Wconversion -Werror)
  # Clang's -Wconversion also covers changes of signedness, which g++'s leaves out in C++;
  # the strict set is the same under both compilers (the web and thread-rule presets).
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    add_compile_options(-Wno-sign-conversion)
  endif()
endif()
# Clang checks the thread rules the code states in its annotations (analysis/ThreadSafety.h);
# other compilers read the annotations as nothing. The linux-clang-threads preset turns it on,
# with the strict set, for the libraries and programs (the tests are not annotated).
option(KELVATONE_THREAD_SAFETY "Check the thread-rule annotations (clang's -Wthread-safety)" OFF)
if(KELVATONE_THREAD_SAFETY)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "KELVATONE_THREAD_SAFETY needs clang")
  endif()
  add_compile_options(-Wthread-safety)
endif()

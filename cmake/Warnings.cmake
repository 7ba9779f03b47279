# Warnings on for every target of ours; the build stays clean of them. The strict
# presets (linux and windows, the ones `make test` builds) also warn of shadowed names
# and of implicit conversions that may change a value, and fail on any warning.
option(KELVATONE_STRICT "Warn of shadowing and lossy conversions, and fail on any warning" OFF)
add_compile_options(-Wall -Wextra)
if(KELVATONE_STRICT)
  add_compile_options(-Wshadow -Wconversion -Werror)
  # clang's -Wconversion also warns of signedness, which g++'s leaves out for C++; the
  # strict clang build (the web preset) keeps to g++'s set.
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    add_compile_options(-Wno-sign-conversion)
  endif()
endif()

# Warnings on for every target of ours; the build stays clean of them. The strict
# presets (linux and windows, the ones `make test` builds) also warn of shadowed names
# and of implicit conversions that may change a value, and fail on any warning.
option(KELVATONE_STRICT "Warn of shadowing and lossy conversions, and fail on any warning" OFF)
add_compile_options(-Wall -Wextra)
if(KELVATONE_STRICT)
  add_compile_options(-Wshadow -Wconversion -Werror)
endif()

# Warnings on for every target of ours; the build stays clean of them.
add_compile_options(-Wall -Wextra)

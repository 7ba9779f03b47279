#!/bin/sh
# The namespace check on small trees of its own: it passes files in their folder's
# namespace, entry files and forward declarations of other folders' classes, names each
# file that opens another namespace or none, and refuses a list it cannot read.
# usage: check-namespaces-test.sh SCRIPT
set -u
script=$1
. "$(dirname "$0")/expect.sh"

mkdir -p "$tree/low" "$tree/high" "$tree/layer" "$tree/docs"
printf 'low: app::low\nhigh: app::high\nlayer: app::layer optional\n' >"$tree/docs/names.txt"
printf '#pragma once\nnamespace app::low {\nnamespace {\n}\nstruct Base {};\n}\n' >"$tree/low/Base.h"
printf 'namespace app::low::detail {\nint helper();\n}\n' >"$tree/low/Detail.cpp"
printf 'namespace app::low {\nclass Base;\n}\nnamespace app::high {\n}\n' >"$tree/high/Top.h"
printf 'namespace {\nint f();\n}\nint main(int, char**) {\n}\n' >"$tree/high/main.cpp"
printf 'extern "C" int entryPoint() {\n    return 0;\n}\n' >"$tree/high/Entry.cpp"
printf 'int GlobalApi();\n' >"$tree/layer/Api.cpp"
expect 0 '' --list "$tree/docs/names.txt" "$tree"

printf 'namespace app::low {\nint misplaced();\n}\n' >"$tree/high/Stray.cpp"
expect 1 '^high/Stray.cpp: opens namespace app::low$' --list "$tree/docs/names.txt" "$tree"
expect 1 '^high/Stray.cpp: does not open namespace app::high$' --list "$tree/docs/names.txt" "$tree"
rm "$tree/high/Stray.cpp"

printf 'struct Global {};\n' >"$tree/low/Global.h"
expect 1 '^low/Global.h: does not open namespace app::low$' --list "$tree/docs/names.txt" "$tree"
rm "$tree/low/Global.h"

printf 'namespace app::high {\n}\nint main() {\n}\n' >"$tree/high/main.cpp"
expect 1 "^high/main.cpp: is an entry file and opens its folder's namespace$" \
    --list "$tree/docs/names.txt" "$tree"

printf 'low app::low\n' >"$tree/bad.txt"
expect 2 'expected "folder: namespace \[optional\]"' --list "$tree/bad.txt" "$tree"
expect 2 'No such file' --list "$tree/missing.txt" "$tree"

[ "$failures" -eq 0 ] && echo "check-namespaces: all cases passed"
exit "$failures"

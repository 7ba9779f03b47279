#!/bin/sh
# The layering check on small trees of its own: it passes a tree that keeps its list,
# names each include that goes against the list, finds a cycle in the list, and
# refuses a list it cannot read.
# usage: check-layering-test.sh SCRIPT
set -u
script=$1
. "$(dirname "$0")/expect.sh"

mkdir -p "$tree/low" "$tree/high/inner" "$tree/docs"
printf 'low:\nhigh: low\nhigh/inner: high low\n' >"$tree/docs/layering.txt"
printf '#include "low/Base.h"\n' >"$tree/high/Top.cpp"
printf '#include "high/Top.h"\n#include "low/Base.h"\n' >"$tree/high/inner/Deep.cpp"
printf '#include <vector>\n#include "Local.h"\n' >"$tree/low/Base.h"
expect 0 '' "$tree"

printf '#include "high/inner/Deep.h"\n' >"$tree/high/Wrong.cpp"
expect 1 '^high/Wrong.cpp:1: high may not include from high/inner$' "$tree"
rm "$tree/high/Wrong.cpp"

printf '#include "high/Top.h"\n' >>"$tree/low/Base.h"
expect 1 '^low/Base.h:3: low may not include from high$' "$tree"

printf 'low: high\nhigh: low\n' >"$tree/cycle.txt"
expect 1 '^layering cycle: high -> low -> high$' --list "$tree/cycle.txt" "$tree"

printf 'low: nowhere\n' >"$tree/unknown.txt"
expect 2 'depends on unlisted nowhere' --list "$tree/unknown.txt" "$tree"
expect 2 'No such file' --list "$tree/missing.txt" "$tree"

[ "$failures" -eq 0 ] && echo "check-layering: all cases passed"
exit "$failures"

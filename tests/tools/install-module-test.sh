#!/bin/sh
# install-module puts the module into $VST_PATH's first folder or ~/.vst, says where,
# and uninstall removes it again.
set -eu
script=$1
module=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

out=$(HOME="$work/home" VST_PATH= "$script" install "$module")
[ -f "$work/home/.vst/kelvatone.so" ] || fail "not installed into ~/.vst"
cmp -s "$module" "$work/home/.vst/kelvatone.so" || fail "installed copy differs"
echo "$out" | grep -q "$work/home/.vst/kelvatone.so" || fail "does not say where: $out"

HOME="$work/home" VST_PATH="$work/a:$work/b" "$script" install "$module" >/dev/null
[ -f "$work/a/kelvatone.so" ] || fail "not installed into the first VST_PATH folder"
[ ! -e "$work/b/kelvatone.so" ] || fail "installed into a later VST_PATH folder"

HOME="$work/home" VST_PATH= "$script" uninstall kelvatone.so >/dev/null
[ ! -e "$work/home/.vst/kelvatone.so" ] || fail "uninstall left the module"
HOME="$work/home" VST_PATH= "$script" uninstall kelvatone.so | grep -q "nothing to remove" ||
    fail "a second uninstall does not say there was nothing"
if HOME="$work/home" "$script" install "$work/missing.so" 2>/dev/null; then
    fail "installing a missing module succeeded"
fi
echo "install-module: ok"

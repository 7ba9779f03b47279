#!/bin/sh
# Checks that a module exports exactly VSTPluginMain and main as one function and, for
# the Windows module, that it imports nothing but Windows system DLLs.
# usage: check-module-exports.sh linux|windows MODULE
set -eu
kind=$1
module=$2
fail() { echo "FAIL: $*" >&2; exit 1; }

if [ "$kind" = linux ]; then
    exports=$(nm -D --defined-only "$module" | awk '$2 ~ /^[TtWw]$/ {print $3}' | sort | tr '\n' ' ')
    [ "$exports" = "VSTPluginMain main " ] || fail "exported functions are: $exports"
    addresses=$(nm -D --defined-only "$module" | awk '$3 == "VSTPluginMain" || $3 == "main" {print $1}' | sort -u | wc -l)
    [ "$addresses" -eq 1 ] || fail "VSTPluginMain and main are different functions"
    others=$(nm -D --defined-only "$module" | awk '$2 !~ /^[TtWwAa]$/ {print $3}' | tr '\n' ' ')
    [ -z "$others" ] || fail "also exported: $others"
else
    dump=$(x86_64-w64-mingw32-objdump -p "$module")
    exports=$(echo "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '/\[/ && !/Table/ {print $NF}' | sort | tr '\n' ' ')
    [ "$exports" = "VSTPluginMain main " ] || fail "exported names are: $exports"
    rvas=$(echo "$dump" | sed -n '/Export Address Table/,/^$/p' | awk '/Export RVA/ {print $(NF-2)}' | sort -u | wc -l)
    [ "$rvas" -eq 1 ] || fail "VSTPluginMain and main are different functions"
    system="ADVAPI32.DLL GDI32.DLL KERNEL32.DLL MSVCRT.DLL OLE32.DLL USER32.DLL"
    for dll in $(echo "$dump" | awk '/DLL Name:/ {print toupper($3)}'); do
        case " $system " in
            *" $dll "*) ;;
            *) fail "imports $dll, which is not a Windows system DLL" ;;
        esac
    done
fi
echo "exports of $module: VSTPluginMain, main (one function)"

#!/bin/sh
# The shared library exports exactly the C ABI listed in exported_symbols.txt: no missing
# entry point, and no internal or C++ symbol leaking out of the hidden-visibility build.
set -eu
lib=$1
expected=$2
# AddressSanitizer adds one __odr_asan.<name> marker per exported variable; not our ABI.
actual=$(nm -D --defined-only "$lib" | awk '{print $3}' | grep -v '^__odr_asan\.' | sort)
if [ "$actual" != "$(sort "$expected")" ]; then
    echo "exported symbols differ from $expected:"
    printf '%s\n' "$actual" | diff "$expected" - || true
    exit 1
fi
echo "$(printf '%s\n' "$actual" | wc -l) exported symbols as expected"

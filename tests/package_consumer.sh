#!/usr/bin/env bash
# Builds the Debian package with CPack from the build tree, unpacks it into a scratch root
# with dpkg -x, and compiles, links and runs a small C consumer against the unpacked files
# through pkg-config (PKG_CONFIG_SYSROOT_DIR and PKG_CONFIG_LIBDIR point into the root).
# Usage: package_consumer.sh BUILD_DIR C_COMPILER [SANITIZER]
set -euo pipefail
build_dir=$1
cc=$2
sanitize=${3:-}

scratch=$(mktemp -d "${TMPDIR:-/tmp}/pltfm-package.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

cpack --config "$build_dir/CPackConfig.cmake" -G DEB -B "$scratch/out" >"$scratch/cpack.log" 2>&1 || {
    cat "$scratch/cpack.log" >&2
    echo "FAIL: cpack could not build the package" >&2
    exit 1
}
deb=$(find "$scratch/out" -maxdepth 1 -name 'libpltfm_*.deb' | head -n 1)
[ -n "$deb" ] || { echo "FAIL: no libpltfm_*.deb produced" >&2; exit 1; }
echo "package: $(basename "$deb")"

root="$scratch/root"
dpkg -x "$deb" "$root"

# Contents: library with SONAME links, headers, pkg-config file, tools and their manual pages.
fail=0
need() { [ -e "$root$1" ] || [ -L "$root$1" ] || { echo "FAIL: $1 missing from the package" >&2; fail=1; }; }
pcfile=$(cd "$root" && find . -name pltfm.pc | head -n 1)
[ -n "$pcfile" ] || { echo "FAIL: pltfm.pc missing" >&2; exit 1; }
pcdir="$root/$(dirname "$pcfile")"
libdir=$(dirname "$pcdir")
libdir=${libdir#"$root"}
# The library links hiredis: the package depends on its runtime, pltfm.pc lists it privately.
depends=$(dpkg-deb -f "$deb" Depends)
case "$depends" in *libhiredis*) ;; *) echo "FAIL: Depends has no hiredis runtime: $depends" >&2; fail=1 ;; esac
grep -q '^Libs.private:.*-lhiredis' "$pcdir/pltfm.pc" || { echo "FAIL: pltfm.pc does not list hiredis privately" >&2; fail=1; }
need "$libdir/libpltfm.so"
need "$libdir/libpltfm.so.1"
need /usr/include/pltfm/platform_serdes.h
need /usr/include/pltfm/platform_types.h
if [ -e "$build_dir/tools/pltfmctl" ]; then need /usr/bin/pltfmctl; need /usr/share/man/man1/pltfmctl.1.gz; fi
if [ -e "$build_dir/tools/pltfm-sim" ]; then need /usr/bin/pltfm-sim; need /usr/share/man/man1/pltfm-sim.1.gz; fi
soname=$(objdump -p "$root$libdir/libpltfm.so.1" | awk '/SONAME/ {print $2}')
[ "$soname" = "libpltfm.so.1" ] || { echo "FAIL: SONAME is '$soname'" >&2; fail=1; }
[ "$fail" = 0 ] || exit 1

# The consumer: a plain C program that includes the public headers and calls the library.
cat >"$scratch/consumer.c" <<'C'
#include <stdio.h>
#include <platform_hw.h>
#include <platform_serdes.h>
#include <platform_types.h>

int main(void) {
    char good[] = "SwitchSDK";
    char bad[] = "switchsdk";
    int rc_good = pltfm_init(good);
    int rc_bad = pltfm_init(bad);
    int rc_hook = pltfm_an_lt_validate(NULL, NULL, NULL, NULL);
    printf("pltfm_init good=%d bad=%d an_lt=%d\n", rc_good, rc_bad, rc_hook);
    return (rc_good == PLTFM_SUCCESS && rc_bad == PLTFM_UNINIT && rc_hook == PLTFM_SUCCESS) ? 0 : 1;
}
C

export PKG_CONFIG_SYSROOT_DIR="$root"
export PKG_CONFIG_LIBDIR="$pcdir"
unset PKG_CONFIG_PATH
cflags=$(pkg-config --cflags pltfm)
libs=$(pkg-config --libs pltfm)
echo "pkg-config --cflags --libs pltfm: $cflags $libs"
case "$cflags" in *"$root"*) ;; *) echo "FAIL: cflags do not point into the unpacked root" >&2; exit 1;; esac

san_flags=()
case "$sanitize" in
    address) san_flags=(-fsanitize=address,undefined) ;;
    thread) san_flags=(-fsanitize=thread) ;;
esac
# shellcheck disable=SC2086
"$cc" -std=c11 -Wall -Wextra -Werror -pedantic "${san_flags[@]}" -o "$scratch/consumer" \
    "$scratch/consumer.c" $cflags $libs
# The consumer must need the installed library by its SONAME.
objdump -p "$scratch/consumer" | grep -q 'NEEDED *libpltfm.so.1' || {
    echo "FAIL: consumer does not record libpltfm.so.1 as needed" >&2; exit 1; }
# Run it against the unpacked library, not a copy in the build tree.
LD_LIBRARY_PATH="$root$libdir" "$scratch/consumer" 2>"$scratch/consumer.log" || {
    cat "$scratch/consumer.log" >&2; echo "FAIL: consumer run failed" >&2; exit 1; }
echo "PASS"

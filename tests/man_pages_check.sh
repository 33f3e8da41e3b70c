#!/usr/bin/env bash
# Renders the tools' manual pages of the build tree with man -l and checks that groff warns
# about nothing, that the usual sections are there, and that every option the tool's --help
# lists is described on its page.
# Usage: man_pages_check.sh BUILD_DIR
set -euo pipefail
build_dir=$1
scratch=$(mktemp -d "${TMPDIR:-/tmp}/pltfm-man.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
fail=0

check_page() {  # tool, help command...
    local tool=$1; shift
    local page="$build_dir/tools/man/$tool.1.gz"
    [ -f "$page" ] || { echo "FAIL: $page missing"; fail=1; return; }
    # Wide lines and no hyphenation, so that an option never breaks across lines.
    if ! MANWIDTH=200 MANROFFOPT=-rHY=0 man --warnings -l "$page" >"$scratch/$tool.txt" 2>"$scratch/$tool.err"; then
        echo "FAIL: man -l $page failed"; cat "$scratch/$tool.err"; fail=1; return
    fi
    if [ -s "$scratch/$tool.err" ]; then echo "FAIL: $tool.1 renders with warnings:"; cat "$scratch/$tool.err"; fail=1; fi
    for section in NAME SYNOPSIS DESCRIPTION "EXIT STATUS" "SEE ALSO"; do
        grep -q "^$section" "$scratch/$tool.txt" || { echo "FAIL: $tool.1 has no $section section"; fail=1; }
    done
    "$@" >"$scratch/$tool.help"
    for opt in $(grep -o -- '--[a-z][a-z-]*' "$scratch/$tool.help" | sort -u); do
        grep -q -- "$opt" "$scratch/$tool.txt" || { echo "FAIL: $tool.1 does not describe $opt"; fail=1; }
    done
    echo "$tool.1: $(wc -l <"$scratch/$tool.txt") lines rendered, $(grep -o -- '--[a-z][a-z-]*' "$scratch/$tool.help" | sort -u | wc -l) options described"
}

check_page pltfmctl "$build_dir/tools/pltfmctl" --help-all
check_page pltfm-sim "$build_dir/tools/pltfm-sim" --help
[ "$fail" = 0 ] && echo PASS
exit "$fail"

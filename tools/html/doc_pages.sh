#!/bin/sh
# Writes the pages the README shows and their screenshots into docs/ (run by `make docs` from
# the top of the tree, after the build): the report of the sample tuning directory with the
# simulated switch's ports, the report of a copy with a hole, an outlier and a repeated port,
# and a full run of the simulated switch. The pages name no path of the machine that made
# them: paths below the tree are written relative to it and the run's temporary directories
# as their templates (/tmp/pltfm-sim-XXXXXX), so the screenshots are the same on any machine.
set -eu
build=${1:-build}
pages=$build/docs
shot=tools/html/chromium.sh
rm -rf "$pages"
mkdir -p "$pages" docs
tmp=$(mktemp -d "${TMPDIR:-/tmp}/pltfm-docs.XXXXXX")
trap 'rm -rf "$tmp"' EXIT

coverage="--port-config examples/platform/port_config.ini --cable-types OPTICS,DAC_1M,DAC_3M"
# Exit status 1 only says the report flagged something; the page is written.
report() { "$build/tools/pltfmctl" report "$@" >/dev/null || [ $? -eq 1 ]; }
# shellcheck disable=SC2086
report examples/platform/CSV $coverage --html "$pages/tuning-report.html"

# The same slips as the tests' flawed copy: DAC_1M front port 5 deleted (lines 50-58),
# TX_EQ_PRE1 of OPTICS 50G/400G front port 7 lane 2 (line 71, cell 31) set to -20, and DAC_3M
# front port 13 (lines 123-130) given the values of front port 12 (lines 114-121).
flawed=$pages/CSV
cp -r examples/platform/CSV "$flawed"
sed -i '50,58d' "$flawed/generic_dac_1m.csv"
awk -F, -v OFS=, 'NR == 71 { $31 = -20 } { print }' examples/platform/CSV/generic_optics.csv \
  > "$flawed/generic_optics.csv"
awk -F, -v OFS=, 'NR >= 114 && NR <= 121 { v[NR + 9] = $0 }
  NR >= 123 && NR <= 130 { split(v[NR], c, ","); for (i = 4; i <= NF; ++i) $i = c[i] } { print }' \
  examples/platform/CSV/generic_dac_3m.csv > "$flawed/generic_dac_3m.csv"
# shellcheck disable=SC2086
report "$flawed" $coverage --html "$pages/tuning-report-flawed.html"

TMPDIR=$tmp "$build/tools/pltfm-sim" --html "$pages/switch-run.html" --log "$pages/pltfm-sim.log" >/dev/null

# Machine paths out of the pages: the build tree, then the source tree, then the temporary
# directories (a mkdtemp name ends in six random characters).
re() { printf '%s' "$1" | sed 's/[]\/$*.^+?(){}|[]/\\&/g'; }
build_abs=$(cd "$build" && pwd -P)
tree_abs=$(pwd -P)
for page in "$pages"/*.html; do
  sed -i -E -e "s/$(re "$build_abs")\//build\//g" -e "s/$(re "$tree_abs")\///g" \
    -e "s/$(re "$PWD")\///g" -e "s/$(re "$tmp")\/([a-z-]+-)[A-Za-z0-9]{6}/\/tmp\/\1XXXXXX/g" "$page"
  for p in "$build_abs" "$tree_abs" "$PWD" "$tmp"; do
    if grep -qF "$p" "$page"; then echo "doc_pages.sh: $page still names $p" >&2; exit 1; fi
  done
done

"$shot" shot "$pages/tuning-report.html" docs/tuning-report.png 1400x1700
"$shot" shot "$pages/tuning-report-flawed.html" docs/tuning-report-flawed.png 1400x1700
"$shot" shot "$pages/switch-run.html" docs/switch-run.png 1400x2350
echo "docs/tuning-report.png docs/tuning-report-flawed.png docs/switch-run.png"

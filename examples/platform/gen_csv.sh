#!/usr/bin/env bash
# Writes the sample tuning files of examples/platform/CSV. The values are invented: they
# follow simple formulas of (cable, port, lane, group) so that tests can tell lanes apart.
# Usage: examples/platform/gen_csv.sh [output directory]
set -euo pipefail
out="${1:-$(dirname "$0")/CSV}"
mkdir -p "$out"

# gen FILE CABLE VENDOR CABLE_OFFSET GROUPS PORTS LANES
#   GROUPS: any of A (10G/40G NRZ), B (25G/100G NRZ), C (50G/400G PAM4), e.g. "ABC"
#   PORTS:  "first-last" range of front-panel keys; LANES: lanes per port
gen() {
    awk -v cable="$2" -v vendor="$3" -v c="$4" -v groups="$5" -v ports="$6" -v lanes="$7" '
    function group_cols(g) {
        cols = "TX_EQ_PRE1,TX_EQ_PRE2,TX_EQ_MAIN,TX_EQ_POST,TX_EQ_ATTN,RX_CTLE_LF,RX_CTLE_HF," \
               "RX_CTLE_BW,RX_GAINSHAPE1,RX_GAINSHAPE2,RX_AGC_TARGET"
        if (g == "A") return cols ",LINK_TRAINING,AN"
        if (g == "B") return cols ",RX_EQ_COARSE_TUNE_EFFORT_25G,SD_RESET_25G,LINK_TRAINING"
        return cols ",RX_EQ_COARSE_TUNE_EFFORT_50G,LINK_TRAINING,AN"
    }
    function speed(g) { return g == "A" ? "10G/40G" : (g == "B" ? "25G/100G" : "50G/400G") }
    function encoding(g) { return g == "C" ? "PAM4" : "NRZ" }
    function effort(p, l) { e = (p + l) % 3; return e == 0 ? "LOW" : (e == 1 ? "MEDIUM" : "HIGH") }
    # Tuning values of one lane in group g (gi = 0, 1, 2 for A, B, C).
    function values(g, gi, p, l) {
        v = -(2 + (p + l) % 5 + c) "," (l % 3) "," (40 + gi * 4 + c * 2 + p % 16 + l) "," \
            (-(4 + (3 * p + l) % 10)) "," (l % 4) "," (2 + (p + 2 * l) % 7) "," \
            (4 + (p + 3 * l) % 11) "," ((p + l) % 8) "," (l % 4) "," (p % 4) "," \
            (8 + (p + l) % 7)
        lt = (cable ~ /^DAC/) ? 1 : 0
        if (g == "A") return v "," lt "," lt
        if (g == "B") return v "," effort(p, l) "," (cable == "OPTICS" ? "TRUE" : "FALSE") "," lt
        return v "," effort(p + 1, l) "," lt "," lt
    }
    function line(s) { print s }
    function empties(n,   s, i) { s = ""; for (i = 1; i < n; i++) s = s ","; return s }
    BEGIN {
        ng = length(groups); head5 = "INDEX,FRONT PORT,LANE"; head3 = ",,"; head4 = ",,"
        for (i = 1; i <= ng; i++) {
            g = substr(groups, i, 1); cols = group_cols(g); k = split(cols, parts, ",")
            head5 = head5 "," cols
            head3 = head3 ",SPEED,ENCODING" empties(k - 1)
            head4 = head4 "," speed(g) "," encoding(g) empties(k - 1)
        }
        n = split(head5, all, ",")
        line("VERSION,CABLE TYPE,VENDOR" empties(n - 2))
        line("1.0," cable "," vendor empties(n - 2))
        line(head3); line(head4); line(head5)
        split(ports, pr, "-"); idx = 0
        for (p = pr[1]; p <= pr[2]; p++) {
            if (p > pr[1]) line(empties(n))
            for (l = 0; l < lanes; l++) {
                row = (++idx) "," p "," l
                for (i = 1; i <= ng; i++) {
                    g = substr(groups, i, 1)
                    row = row "," values(g, index("ABC", g) - 1, p, l)
                }
                line(row)
            }
        }
    }' > "$out/$1"
}

for cable in OPTICS:0 DAC_1M:1 DAC_3M:2; do
    name="${cable%%:*}"; off="${cable##*:}"
    lower=$(echo "$name" | tr 'A-Z' 'a-z')
    gen "generic_${lower}.csv" "$name" GENERIC "$off" ABC 0-31 8
    gen "generic_${lower}_port32.csv" "$name" GENERIC "$off" ABC 32-32 2
done
gen "generic_rj45_port32.csv" RJ45 GENERIC 3 A 32-32 2
gen "quilloptic_optics.csv" OPTICS QUILLOPTIC 4 BC 0-3 8

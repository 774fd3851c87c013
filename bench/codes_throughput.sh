#!/usr/bin/env bash
# Throughput of qz418-codes: N lines (default 20 million) of mixed kinds through the tool.
set -euo pipefail
tool=${1:?usage: codes_throughput.sh PATH_TO_QZ418_CODES [LINES]}
lines=${2:-20000000}
input=$(mktemp)
trap 'rm -f "$input"' EXIT
awk -v n="$lines" 'BEGIN { srand(1); split("time amp att freq am", k, " ");
  for (i = 0; i < n; i++) { j = i % 5 + 1;
    if (j == 1) v = sprintf("%.3f", rand() * 320); else if (j == 2) v = sprintf("%.1f", -rand() * 60);
    else if (j == 3) v = sprintf("%.1f", -rand() * 10); else if (j == 4) v = sprintf("%.2f", 0.1 + rand() * 15.9);
    else v = sprintf("%.2f", 0.01 + rand() * 99.99);
    print k[j], v } }' > "$input"
start=$(date +%s.%N)
"$tool" < "$input" > /dev/null
end=$(date +%s.%N)
awk -v s="$start" -v e="$end" -v n="$lines" 'BEGIN { t = e - s; printf "%d lines in %.2f s: %.1f million lines/s\n", n, t, n / t / 1e6 }'

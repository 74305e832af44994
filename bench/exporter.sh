#!/usr/bin/env bash
# qrt-exporter and qrtctl on 12 PoE cards, in the rig with real pauses (the readings take
# seconds, as on the cards): the wall time of `qrtctl list` and `qrtctl metrics`, the scrape
# latency of the exporter while it reads its cards, and the CPU time and memory of the daemon
# left alone, with the 12 cards and with none. Prints Markdown tables. Usage: bench/exporter.sh BUILD_DIR
# (QRTCTL=another qrtctl to time instead, for a comparison; SCRAPES, IDLE_SECONDS: see
# bench/exporter_bench.py).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$(dirname "$here")/build}
qrtctl=${QRTCTL:-$build/bin/qrtctl}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for ((i = 0; i < 12; i++)); do
  printf '[card%02d]\nmodel = PCIe-RHX54P\nsn = SN%04d\npoe_class0 = 4\n' "$i" "$i" >>"$work/rig"
done

# seconds COMMAND... : wall time of one run in the rig.
seconds() {
  local start end
  start=$(date +%s.%N)
  "$build/bin/qrt-sim" --rig "$work/rig" --violations -- "$@" >/dev/null 2>"$work/log" ||
    { cat "$work/log" >&2; return 1; }
  end=$(date +%s.%N)
  grep -q 'protocol violations: 0' "$work/log" || { cat "$work/log" >&2; return 1; }
  awk -v s="$start" -v e="$end" 'BEGIN { printf "%.1f", e - s }'
}

echo "| 12 PCIe-RHX54P, real pauses | Seconds |"
echo "|---|---|"
echo "| \`qrtctl list\` | $(seconds "$qrtctl" list) |"
echo "| \`qrtctl metrics\` | $(seconds "$qrtctl" metrics) |"
echo
printf '[driver]\npresent = 0\n' >"$work/none.rig"
echo "| qrt-exporter, real pauses | |"
echo "|---|---|"
# exporter RIG MODE WHAT
exporter() {
  "$build/bin/qrt-sim" --rig "$1" -- env EXPORTER="$build/bin/qrt-exporter" MODE="$2" WHAT="$3" \
    python3 "$here/exporter_bench.py"
}
exporter "$work/rig" scrape "12 PCIe-RHX54P"
exporter "$work/rig" idle "12 PCIe-RHX54P"
exporter "$work/none.rig" idle "no products"

#!/usr/bin/env bash
# Detection and memory: runs bench_detection (loads of libQRT_SDK) under qrt-sim with skipped
# pauses in generated rigs: no driver, then 1, 4, 16 and 32 boards of mixed models (USB3, PoE,
# 10G), then 32 boards of each single model (memory and traffic per product). Prints Markdown
# tables. Usage: bench/detection.sh BUILD_DIR [LOADS]
set -euo pipefail
build=$1
loads=${2:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mixed=(PCIe-W508 PCIe-RHX54P PCIe-RHX10T PCIe-W512 PCIe-RHX54PPRO PCIe-W504P PCIe-RHXGPU-P1000
  PCIe-RHX54 PCIe-RHX44+)
singles=(PCIe-W504 PCIe-W508 PCIe-W512 PCIe-RHX54 PCIe-RHX54P PCIe-RHX54PPRO
  PCIe-RHXGPU-P1000 PCIe-RHX10T PCIe-RHX44+)

# rig FILE COUNT MODEL... : COUNT boards, the models taken in turn.
rig() {
  local file=$1 count=$2
  shift 2
  local models=("$@")
  : >"$file"
  if [ "$count" -eq 0 ]; then printf '[driver]\npresent = 0\n' >"$file"; fi
  for ((i = 0; i < count; i++)); do
    local model=${models[i % ${#models[@]}]}
    printf '[card%02d]\nmodel = %s\n' "$i" "$model" >>"$file"
    # The PCIe-RHX44+ has nowhere to keep a serial number.
    if [ "$model" != PCIe-RHX44+ ]; then printf 'sn = SN%04d\n' "$i" >>"$file"; fi
  done
}

# measure RIG : the line of bench_detection.
measure() {
  "$build/bin/qrt-sim" --rig "$1" --skip-pauses --violations --trace "$work/trace" -- \
    env QRT_BENCH_TRACE="$work/trace" "$build/bin/bench_detection" "$loads" 2>"$work/log" ||
    { cat "$work/log" >&2; return 1; }
}

field() { sed -n "s/.*\\b$1=\\([0-9.]*\\).*/\\1/p" <<<"$2"; }

echo "| Boards | Products | Load, pauses skipped (ms) | Pauses (ms) | Pauses / board (ms) | Requests / board | I2C messages / board | Resident (kB) |"
echo "|---|---|---|---|---|---|---|---|"
for count in 0 1 4 16 32; do
  rig "$work/rig" "$count" "${mixed[@]}"
  line=$(measure "$work/rig")
  per=$((count > 0 ? count : 1))
  awk -v n="$count" -v per="$per" -v p="$(field products "$line")" -v l="$(field load_ms "$line")" \
    -v pm="$(field pause_ms "$line")" -v r="$(field requests "$line")" -v i="$(field i2c "$line")" \
    -v k="$(field rss_kb "$line")" \
    'BEGIN { printf "| %d | %d | %.2f | %.0f | %.0f | %.1f | %.1f | %d |\n", n, p, l, pm, pm / per, r / per, i / per, k }'
  if [ "$count" -eq 0 ]; then resident0=$(field rss_kb "$line"); fi
done
echo
echo "| Model (32 boards) | Products | Pauses / board (ms) | Requests / board | I2C messages / board | Resident / board over no hardware (kB) |"
echo "|---|---|---|---|---|---|"
for model in "${singles[@]}"; do
  rig "$work/rig" 32 "$model"
  line=$(measure "$work/rig")
  awk -v m="$model" -v p="$(field products "$line")" -v pm="$(field pause_ms "$line")" \
    -v r="$(field requests "$line")" -v i="$(field i2c "$line")" -v k="$(field rss_kb "$line")" \
    -v k0="$resident0" \
    'BEGIN { printf "| %s | %d | %.0f | %.1f | %.1f | %.1f |\n", m, p, pm / 32, r / 32, i / 32, (k - k0) / 32 }'
done

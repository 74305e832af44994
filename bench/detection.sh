#!/usr/bin/env bash
# Detection and memory: runs bench_detection (loads of libQRT_SDK) under qrt-sim in generated
# rigs. With skipped pauses and one card probed after the other (QRT_DETECT_THREADS=1, so that
# the pauses are skipped and the load time is the CPU cost): no driver, then 1, 4, 16 and 32
# boards of mixed models (USB3, PoE, 10G), then 32 boards of each single model (memory and
# traffic per product). With real pauses, one load each: 1, 4, 12 and 32 mixed boards probed one
# after the other and all at once, against the slowest single card; then `qrtctl list` and
# `qrtctl metrics` on 12 PCIe-RHX54P, detecting them one after the other and at once. Prints
# Markdown tables.
# Usage: bench/detection.sh BUILD_DIR [LOADS]; QRT_BENCH_SMOKE=1 runs the real-pause tables for
# one board only.
set -euo pipefail
build=$1
loads=${2:-5}
smoke=${QRT_BENCH_SMOKE:-}
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

# measure RIG : the line of bench_detection, one card after the other, pauses skipped.
measure() {
  "$build/bin/qrt-sim" --rig "$1" --skip-pauses --violations --trace "$work/trace" -- \
    env QRT_BENCH_TRACE="$work/trace" QRT_DETECT_THREADS=1 "$build/bin/bench_detection" \
    "$loads" 2>"$work/log" || { cat "$work/log" >&2; return 1; }
}

# real RIG THREADS [OPTIONS] : the line of one load with real pauses (a process with threads
# sleeps its pauses under --skip-pauses too, and they are counted).
real() {
  local rig=$1 threads=$2
  shift 2
  "$build/bin/qrt-sim" --rig "$rig" --violations "$@" -- \
    env QRT_DETECT_THREADS="$threads" "$build/bin/bench_detection" 1 2>"$work/log" ||
    { cat "$work/log" >&2; return 1; }
  if grep -q 'protocol violations: [1-9]' "$work/log"; then cat "$work/log" >&2; return 1; fi
}

# command_ms RIG THREADS COMMAND... : the time of one run of COMMAND in the rig, real pauses.
command_ms() {
  local rig=$1 threads=$2
  shift 2
  "$build/bin/qrt-sim" --rig "$rig" --violations -- env QRT_DETECT_THREADS="$threads" sh -c \
    'start=$(date +%s%N); "$@" >/dev/null; end=$(date +%s%N); echo $(((end - start) / 1000000))' \
    sh "$@" 2>"$work/log" || { cat "$work/log" >&2; return 1; }
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

echo
echo "Real pauses, one load each:"
echo
# The slowest single card among the first COUNT models of the mix (each model loaded alone once).
declare -A single
for model in "${mixed[@]}"; do
  if [ -n "$smoke" ] && [ "$model" != "${mixed[0]}" ]; then continue; fi
  rig "$work/single.rig" 1 "$model"
  single[$model]=$(field load_ms "$(real "$work/single.rig" 1)")
done
slowest() {
  local worst=0
  for ((i = 0; i < $1 && i < ${#mixed[@]}; i++)); do
    worst=$(awk -v a="$worst" -v b="${single[${mixed[i]}]}" 'BEGIN { print (b > a ? b : a) }')
  done
  echo "$worst"
}
echo "| Boards | One by one (ms) | At once (ms) | Slowest single card (ms) | Goal: 1.2 x slowest + 50 (ms) | Pauses, sum (ms) | Pauses, longest path (ms) |"
echo "|---|---|---|---|---|---|---|"
counts=(1 4 12 32)
if [ -n "$smoke" ]; then counts=(1); fi
for count in "${counts[@]}"; do
  rig "$work/rig" "$count" "${mixed[@]}"
  worst=$(slowest "$count")
  one=$(field load_ms "$(real "$work/rig" 1)")
  all=$(field load_ms "$(real "$work/rig" 32)")
  # Counted in a run with skipped pauses: the workers sleep theirs, one card alone skips them.
  line=$(real "$work/rig" 32 --skip-pauses)
  awk -v n="$count" -v one="$one" -v all="$all" -v s="$worst" \
    -v pm="$(field pause_ms "$line")" -v path="$(field path_ms "$line")" \
    'BEGIN { printf "| %d | %.0f | %.0f | %.0f | %.0f | %.0f | %.0f |\n", n, one, all, s, 1.2 * s + 50, pm, path }'
done
if [ -n "$smoke" ]; then exit 0; fi

echo
# The 12 cards of bench/exporter.sh, whose readings it times.
rig "$work/poe.rig" 12 PCIe-RHX54P
echo "| qrtctl on 12 PCIe-RHX54P, detection | One by one (ms) | At once (ms) |"
echo "|---|---|---|"
for command in list metrics; do
  echo "| $command | $(command_ms "$work/poe.rig" 1 "$build/bin/qrtctl" "$command") |" \
    "$(command_ms "$work/poe.rig" 32 "$build/bin/qrtctl" "$command") |"
done

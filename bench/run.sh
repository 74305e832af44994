#!/usr/bin/env bash
# Builds the benchmarks (Release, in build-bench/ unless BUILD_DIR says otherwise) and runs each
# program inside the virtual rig with pauses skipped, so that the times are the CPU cost of a
# call and the "pause_ms" column is the pause the hardware protocol asks for per call:
#   - bench_c_api, bench_rig_bridge, bench_usb3_power on bench/bench.rig;
#   - bench_calls (every C API operation of every product, against its protocol minimum) on
#     bench/bench.rig and on docs/embedded.rig, with the rig's trace counting the traffic;
#   - bench/detection.sh (library load with 0 to 32 boards, memory per product; with real pauses,
#     one card after the other and all at once; qrtctl on 12 PoE cards).
# Arguments are passed to every benchmark program (for example --benchmark_filter=PowCtrl or
# --benchmark_min_time=2). --smoke (first argument) runs everything once, briefly, on a build
# that exists already (BUILD_DIR), without building.
#
# Environment: BUILD_DIR, QRT_BENCH_NO_BUILD=1 (use BUILD_DIR as it is), RIG (another rig file), QRT_BENCH_I2C=ADAPTER:ADDRESS (see
# RigBridgeBench.cpp), QRT_SIM_ARGS (more qrt-sim options, such as --plugin LIB).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(dirname "$here")
build=${BUILD_DIR:-$repo/build-bench}
rig=${RIG:-$here/bench.rig}
loads=5
smoke=
if [ "${1:-}" = "--smoke" ]; then
  shift
  set -- --benchmark_min_time=0.0001 "$@"
  loads=1
  smoke=1
elif [ -z "${QRT_BENCH_NO_BUILD:-}" ]; then
  cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQRT_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build" -j2 --target benchmarks >/dev/null
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
# run RIG PROGRAM ARGS... : one benchmark program in the rig, its trace counting the traffic.
run() {
  local program_rig=$1 program=$2
  shift 2
  echo "== $program ($(basename "$program_rig"))"
  # The benchmark library's machine description and qrt-sim's notes go to standard error:
  # keep them for a failure, show the pause summary and the violation total.
  # shellcheck disable=SC2086
  if "$build/bin/qrt-sim" --rig "$program_rig" --skip-pauses --violations \
      --trace "$work/trace" ${QRT_SIM_ARGS:-} -- env QRT_BENCH_TRACE="$work/trace" \
      "$build/bin/$program" --benchmark_counters_tabular=true "$@" 2>"$work/log"; then
    grep '^qrt-sim: \(pauses\|protocol violations\)' "$work/log" || true
  else
    status=1
    cat "$work/log" >&2
  fi
  echo
}
for program in bench_c_api bench_rig_bridge bench_usb3_power bench_calls; do
  run "$rig" "$program" "$@"
done
run "$repo/docs/embedded.rig" bench_calls "$@"
echo "== detection (bench/detection.sh)"
QRT_BENCH_SMOKE=$smoke "$here/detection.sh" "$build" "$loads" || status=1
exit $status

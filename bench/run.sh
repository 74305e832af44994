#!/usr/bin/env bash
# Builds the benchmarks (Release, in build-bench/ unless BUILD_DIR says otherwise) and runs each
# program inside the virtual rig of bench/bench.rig with pauses skipped, so that the times are
# the CPU cost of a call and the "pause_ms" column is the pause the hardware protocol asks for
# per call. Arguments are passed to every benchmark program (for example
# --benchmark_filter=PowCtrl or --benchmark_min_time=2).
#
# Environment: BUILD_DIR, RIG (another rig file), QRT_BENCH_I2C=ADAPTER:ADDRESS (see
# RigBridgeBench.cpp), QRT_SIM_ARGS (more qrt-sim options, such as --plugin LIB).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(dirname "$here")
build=${BUILD_DIR:-$repo/build-bench}
rig=${RIG:-$here/bench.rig}

cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQRT_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target benchmarks >/dev/null

log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
for program in bench_c_api bench_rig_bridge bench_usb3_power; do
  echo "== $program"
  # The benchmark library's machine description and qrt-sim's notes go to standard error:
  # keep them for a failure, show the pause summary.
  # shellcheck disable=SC2086
  if "$build/bin/qrt-sim" --rig "$rig" --skip-pauses ${QRT_SIM_ARGS:-} -- \
      "$build/bin/$program" --benchmark_counters_tabular=true "$@" 2>"$log"; then
    grep '^qrt-sim: pauses' "$log" || true
  else
    status=1
    cat "$log" >&2
  fi
  echo
done
exit $status

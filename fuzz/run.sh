#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer;
# the SDK and the rig instrumented too, in build-fuzz/ or FUZZ_BUILD_DIR) and runs each one briefly from its
# checked-in seed corpus, which also holds the inputs of findings fixed since (regressions).
# New inputs go to a scratch directory, so the seeds stay as they are; a finding is written to
# the build directory and fails the run. Prints the executions of each target.
# Usage: fuzz/run.sh [seconds per target, default 20] [target...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(dio_uevent_fuzzer config_fuzzer rig_file_fuzzer
                                    info_text_fuzzer c_api_fuzzer)
# FUZZ_BUILD_DIR names an existing clang sanitizer build (-DQRT_SANITIZE=ON with clang builds
# the fuzz targets beside the tests), so that CI compiles the instrumented tree once.
out=${FUZZ_BUILD_DIR:-build-fuzz}
if [ -z "${FUZZ_BUILD_DIR:-}" ]; then
  launcher=()
  command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache
                                            -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  cmake -S . -B "$out" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQRT_FUZZ=ON -DQRT_BUILD_TESTS=OFF \
    -DCMAKE_C_COMPILER="${FUZZ_CC:-clang}" -DCMAKE_CXX_COMPILER="${FUZZ_CXX:-clang++}" \
    "${launcher[@]}" >/dev/null
fi
cmake --build "$out" -j"$(nproc)" --target "${targets[@]}"

export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
summary=()
for name in "${targets[@]}"; do
  scratch=$(mktemp -d)
  echo "== fuzz $name for ${seconds} s =="
  log="$out/$name.log"
  status=0
  # A fixed seed: a run explores the same inputs in the same order on every machine, so what
  # CI finds is found again here (FUZZ_SEED=0 lets libFuzzer choose).
  "$out/bin/$name" -seed="${FUZZ_SEED:-1}" -max_total_time="$seconds" -timeout=10 -max_len=4096 -print_final_stats=1 \
    -artifact_prefix="$out/$name-" "$scratch" "fuzz/corpus/$name" >"$log" 2>&1 || status=$?
  rm -rf "$scratch"
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  summary+=("$name: ${runs:-?} executions in ${seconds} s")
  if [ "$status" -ne 0 ]; then
    tail -n 60 "$log"
    echo "fuzz $name: finding (status $status); the input is in $out/$name-*"
    exit 1
  fi
done
printf '%s\n' "== fuzz summary ==" "${summary[@]}"

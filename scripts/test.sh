#!/usr/bin/env bash
# Builds the SDK, the virtual rig and the tests, runs the whole suite and builds the API
# reference (docs/api.md); builds and runs the suite a second time with AddressSanitizer and
# UndefinedBehaviorSanitizer under clang (any error fails the run) and runs that build's fuzz
# targets briefly (fuzz/run.sh); last builds the concurrency tests with ThreadSanitizer and runs
# them (any report fails).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

# Debug information for backtraces and the sanitizers' reports is line tables only: full debug
# information made each compilation about half as long again, and nothing here reads variables.
# The AddressSanitizer build is optimised as its authors advise (-O1), which compiles faster.
line_tables() {
  echo "-DCMAKE_C_FLAGS_RELWITHDEBINFO=$1 $2 -DNDEBUG"
  echo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=$1 $2 -DNDEBUG"
}
mapfile -t gcc_debug < <(line_tables -O2 -g1)
mapfile -t clang_debug < <(line_tables -O1 -gline-tables-only)

# run_suite DIR [CMAKE_ARGS...] [-- CTEST_ARGS...]
run_suite() {
  local dir=$1; shift
  local configure=() select=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do configure+=("$1"); shift; done
  [ $# -gt 0 ] && shift && select=("$@")
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${configure[@]}" >/dev/null
  cmake --build "$dir" -j"$jobs"
  ctest --test-dir "$dir" --output-on-failure -j"$jobs" --timeout 600 "${select[@]}"
}

echo "== build and test =="
run_suite build "${gcc_debug[@]}"
echo "== API reference (Doxygen; any warning, such as an undocumented function, fails) =="
cmake --build build --target docs
echo "== build and test with AddressSanitizer + UndefinedBehaviorSanitizer (clang) =="
# One instrumented build serves the suite and the fuzz targets. The tests that wait out the
# SDK's ten-second lock bound, or a card whose probe hangs for seconds, measure waiting, not
# memory: they run in the plain build only.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
bounded_waits='^(PoeSeriesLock\.ABusyCard|HeldBusLock\.|ObjectLock\.AHeldLockIsGivenUp|DetectionAtOnce\.ACardWhoseProbeHangs)'
# The benchmarks' smoke run is the plain build's.
run_suite build-asan "${clang_debug[@]}" -DQRT_SANITIZE=ON -DQRT_BUILD_BENCHMARKS=OFF \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -- -E "$bounded_waits"
echo "== fuzz the parsers, the configuration files, rig files and the C API (libFuzzer, seed corpus, brief) =="
FUZZ_BUILD_DIR=build-asan fuzz/run.sh 10
echo "== concurrency tests with ThreadSanitizer =="
# Only what those tests need: the locks' unit tests, the processes and threads under qrt-sim, and
# detection with its workers (on the bench and on the rigs under qrt-sim).
# A report ends the reporting program with an error, which fails its test.
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
concurrency='^(ObjectLock|DeviceAccessLock|PexAccessLock|Crowds/|Processes\.|Teams/|OneByOneAndAtOnce/|DetectionAtOnce\.|Rigs/DetectionOnEveryRig\.)'
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo "${gcc_debug[@]}" -DQRT_SANITIZE_THREAD=ON \
  >/dev/null
cmake --build build-tsan -j"$jobs" --target test_common test_pciswitch test_e2e_concurrency \
  test_framework test_e2e_detection
ctest --test-dir build-tsan --output-on-failure -j"$jobs" --timeout 600 -R "$concurrency" \
  -E "$bounded_waits"

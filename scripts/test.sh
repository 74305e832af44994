#!/usr/bin/env bash
# Builds the SDK, the virtual rig and the tests, runs the whole suite, builds the API reference
# (docs/api.md), runs the fuzz targets briefly (fuzz/run.sh), then builds and runs the suite a
# second time with AddressSanitizer and UndefinedBehaviorSanitizer (any error fails the run),
# and last builds the concurrency tests with ThreadSanitizer and runs them (any report fails).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
  ctest --test-dir "$dir" --output-on-failure -j"$jobs" --timeout 600
}

echo "== build and test =="
run_suite build
echo "== API reference (Doxygen; any warning, such as an undocumented function, fails) =="
cmake --build build --target docs
echo "== fuzz the parsers, the configuration files, rig files and the C API (libFuzzer, seed corpus, brief) =="
fuzz/run.sh 10
echo "== build and test with AddressSanitizer + UndefinedBehaviorSanitizer =="
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
run_suite build-asan -DQRT_SANITIZE=ON
echo "== concurrency tests with ThreadSanitizer =="
# Only what those tests need: the locks' unit tests and the processes and threads under qrt-sim.
# A report ends the reporting program with an error, which fails its test.
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
concurrency='^(ObjectLock|DeviceAccessLock|PexAccessLock|Crowds/|Processes\.|Teams/)'
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQRT_SANITIZE_THREAD=ON >/dev/null
cmake --build build-tsan -j"$jobs" --target test_common test_pciswitch test_e2e_concurrency
ctest --test-dir build-tsan --output-on-failure -j"$jobs" --timeout 600 -R "$concurrency"

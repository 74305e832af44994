#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer)
# and runs each one briefly from its checked-in seed corpus. New inputs go to a scratch
# directory, so the seeds stay as they are. Usage: fuzz/run.sh [seconds per target, default 20]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
out=build-fuzz
mkdir -p "$out"
CXX=${FUZZ_CXX:-clang++}
flags=(-std=c++17 -g -O1 -I. -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all)

build_and_run() {
    local name=$1; shift
    "$CXX" "${flags[@]}" "fuzz/$name.cpp" "$@" -o "$out/$name"
    local scratch
    scratch=$(mktemp -d)
    trap 'rm -rf "$scratch"' RETURN
    echo "== fuzz $name for ${seconds} s =="
    "$out/$name" -max_total_time="$seconds" -timeout=5 -max_len=1024 -print_final_stats=1 \
        "$scratch" "fuzz/corpus/$name"
}

build_and_run dio_uevent_fuzzer product/dio/DioUevent.cpp

#!/usr/bin/env bash
# Builds everything and lists the products of the default virtual rig with qrtctl.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
exec build/bin/qrt-sim -- build/bin/qrtctl list

#!/usr/bin/env bash
# Builds everything and lists the products of the default virtual rig through the C API.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
if [ -x build/bin/qrt-sim ]; then
  exec build/bin/qrt-sim -- build/bin/qrt_list_products
else
  exec build/bin/qrt_list_products
fi

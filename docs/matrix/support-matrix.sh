#!/bin/sh
# Writes the support matrix page: runs `qrt_support_matrix probe` under qrt-sim on every rig in
# docs/ and tests/ and turns the answers into markdown.
#
#   support-matrix.sh QRT_SIM MATRIX SOURCE_DIR OUTPUT           write OUTPUT
#   support-matrix.sh QRT_SIM MATRIX SOURCE_DIR OUTPUT --check   fail when OUTPUT differs
#
# The embedded system's rig and those with host interfaces need qrt-sim's namespaces, which
# take root; --check without root skips (exit 77). A rig that qrt-sim cannot set up here (one
# whose boards come from a test's plugin) is left out and named on standard error. Every run
# must end without a protocol violation: the probes only read or make calls the products
# refuse.
set -eu
sim=$1 matrix=$2 src=$3 output=$4 mode=${5:-write}
if [ "$mode" = --check ] && [ "$(id -u)" -ne 0 ]; then
  echo "support-matrix: needs root for the rigs' namespaces; skipped" >&2
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
: >"$work/answers"
for rig in $(cd "$src" && find docs tests -name '*.rig' | LC_ALL=C sort); do
  status=0
  "$sim" --skip-pauses --violations --rig "$src/$rig" -- "$matrix" probe \
    >"$work/probe" 2>"$work/errors" || status=$?
  if [ "$status" -eq 2 ] && ! [ -s "$work/probe" ]; then
    echo "support-matrix: $rig left out: $(head -n1 "$work/errors")" >&2
    continue
  fi
  if [ "$status" -ne 0 ] || ! grep -q 'protocol violations: 0$' "$work/errors"; then
    echo "support-matrix: $rig: the probe failed (status $status)" >&2
    cat "$work/errors" >&2
    exit 1
  fi
  if [ -s "$work/probe" ]; then
    printf 'rig\t%s\n' "$rig" >>"$work/answers"
    cat "$work/probe" >>"$work/answers"
  fi
done
"$matrix" table "$work/answers" >"$work/page.md"
if [ "$mode" = --check ]; then
  if ! diff -u "$output" "$work/page.md"; then
    echo "support-matrix: $output is not what the products answer;" \
      "write it with: cmake --build <build> --target support-matrix" >&2
    exit 1
  fi
else
  cp "$work/page.md" "$output"
fi

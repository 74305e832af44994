#!/bin/sh
# Usage: man_pages.sh MAN_SOURCE_DIR QRTCTL QRT_SIM [QRT_EXPORTER]
# The manual pages follow the tools: every qrtctl command and every long option that the
# tools' --help lists has its entry in the page (scdoc sources: *poe set*, *--rig* _FILE_).
set -eu
pages=$1
shift

missing() {
  "$1" --help-all | awk '/^[a-z]/ { family = $1; order[++n] = family }
                         /^    [a-z]/ { nested[family] = 1; print family " " $1 }
                         END { for (i = 1; i <= n; ++i) if (!nested[order[i]]) print order[i] }' |
    while read -r command; do
      grep -q "^\*$command\*" "$pages/qrtctl.1.scd" || echo "qrtctl.1: $command"
    done
  for tool in "$@"; do
    name=$(basename "$tool")
    "$tool" --help | grep -o -- '--[a-z][a-z-]*' | sort -u | while read -r option; do
      grep -q -- "^\*$option\*\|^\*-[a-z], $option\*" "$pages/$name.1.scd" || echo "$name.1: $option"
    done
  done
}

gaps=$(missing "$@")
[ -z "$gaps" ] || { printf 'FAIL: not in the manual pages:\n%s\n' "$gaps" >&2; exit 1; }
echo "manual pages: ok"

#!/bin/sh
# Usage: man_pages.sh MAN_SOURCE_DIR QRTCTL QRT_SIM [QRT_EXPORTER]
# The manual pages follow the tools: every qrtctl command has its entry in qrtctl(1) (*poe
# set*), and every long option that a tool's or a command's --help lists is in the tool's page
# (*--rig*). Read from the scdoc sources.
set -eu
pages=$1
qrtctl=$2
shift

# The commands a --help lists under "Subcommands:", one per line.
subcommands() {
  "$@" --help | awk '/^Subcommands:/ { inside = 1; next } /^[^ ]/ { inside = 0 }
                     inside && /^  [a-z]/ { print $1 }'
}
# Long options of a --help that the page does not name.
options() {
  page=$1
  shift
  "$@" --help | grep -o -- '--[a-z][a-z-]*' | sort -u | while read -r option; do
    grep -q -- "[*, ]$option\*" "$page" || echo "$(basename "$page" .scd): $option ($*)"
  done
}

missing() {
  for family in $(subcommands "$qrtctl"); do
    commands=$(subcommands "$qrtctl" "$family")
    [ -n "$commands" ] || commands=" "
    for command in $commands; do
      name=$(echo "$family $command" | sed 's/ *$//')
      # shellcheck disable=SC2086
      grep -q "^\*$name\*" "$pages/qrtctl.1.scd" || echo "qrtctl.1: command $name"
      # shellcheck disable=SC2086
      options "$pages/qrtctl.1.scd" "$qrtctl" $name
    done
  done
  for tool in "$@"; do
    options "$pages/$(basename "$tool").1.scd" "$tool"
  done
}

gaps=$(missing "$@")
[ -z "$gaps" ] || { printf 'FAIL: not in the manual pages:\n%s\n' "$gaps" >&2; exit 1; }
echo "manual pages: ok"

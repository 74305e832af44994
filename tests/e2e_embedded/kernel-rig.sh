#!/bin/sh
# Stands in for qrt-sim where the kernel's simulated DIO block (driver/dio-sim) is the hardware:
# in the kernel module's test machine, the end-to-end cases of the embedded system run through
# it unchanged (QRT_E2E_SIM names this script). It takes qrt-sim's options as the tests pass
# them and writes the same files:
#
#     kernel-rig.sh [--skip-pauses] --rig FILE --state FILE --trace FILE -- PROGRAM ARGS...
#
# From the rig file's TULAN-KQX section it loads dio_sim.ko ($DIO_SIM_MODULE, default
# /dio_sim.ko) with the section's DIO keys as module parameters and writes the system file with
# its bus keys; then it runs the program with the control file of the block in QRT_DIO_CONTROL,
# the command that removes the block in QRT_DIO_REMOVE and "kernel" as the rig's namespaces,
# writes the state document (the block's state under the section's board, and the refused
# writes it counted as the violations) and unloads the module. Keys of the PoE board are not
# modelled here; a rig without a TULAN-KQX section runs the program with no block. Exit status:
# the program's, or 125 when the block cannot be set up.
module=${DIO_SIM_MODULE:-/dio_sim.ko}
control=/sys/kernel/debug/dio-sim/control
rig= state= trace=
while [ $# -gt 0 ]; do
  case $1 in
    --rig | --state | --trace)
      eval "${1#--}=\$2"
      shift 2
      ;;
    --)
      shift
      break
      ;;
    *) shift ;;
  esac
done
die() {
  echo "kernel-rig: $1" >&2
  exit 125
}
[ $# -gt 0 ] || die "no program to run"

# "section key value" for every key of the TULAN-KQX section.
keys=$([ -n "$rig" ] && awk '
  /^\[.*\]$/ { section = substr($0, 2, length($0) - 2); next }
  /=/ {
    key = $0; sub(/[ \t]*=.*/, "", key)
    value = $0; sub(/^[^=]*=[ \t]*/, "", value); sub(/[ \t]*$/, "", value)
    keys[section, key] = value; sections[section] = 1
  }
  END { for (s in sections) if (keys[s, "model"] == "TULAN-KQX")
          for (k in keys) { split(k, p, SUBSEP); if (p[1] == s) print s, p[2], keys[k] } }' "$rig")
section=$(echo "$keys" | awk 'NR == 1 { print $1 }')
if [ -z "$section" ]; then
  # A rig without the embedded system: no block to load, the program runs as it is.
  QRT_SIM_NAMESPACES=kernel "$@"
  status=$?
  [ -n "$state" ] && echo '{"boards":[],"violations":0}' >"$state"
  [ -n "$trace" ] && : >"$trace"
  exit $status
fi
value() { echo "$keys" | awk -v k="$1" '$2 == k { $1 = ""; $2 = ""; sub(/^  /, ""); print }'; }

parameters=
for key in di_count do_count di_edge di_absent do_readable di_levels hwid; do
  v=$(value $key | tr -d ' ')
  [ -n "$v" ] && parameters="$parameters $key=$v"
done
mkdir -p /etc/tulankqx
rm -f /etc/tulankqx/system.ini
if [ "$(value system_file)" != absent ]; then
  {
    echo "# TULAN-KQX platform settings"
    [ -n "$(value mcu_bus)" ] && echo "MCU.I2CBUS = $(value mcu_bus)"
    [ -n "$(value eeprom_bus)" ] && echo "EEPROM.I2CBUS = $(value eeprom_bus)"
  } >/etc/tulankqx/system.ini
fi
grep -qs '^debugfs ' /proc/mounts || mount -t debugfs debugfs /sys/kernel/debug
rmmod dio_sim 2>/dev/null
# shellcheck disable=SC2086
insmod "$module" $parameters || die "insmod $module$parameters failed"

QRT_DIO_CONTROL=$control QRT_DIO_REMOVE="rmmod dio_sim" QRT_SIM_NAMESPACES=kernel "$@"
status=$?

dio=null
violations=0
if [ -e $control ]; then
  dio=$(cat $control)
  violations=$(echo "$dio" | sed -n 's/.*"violations":{\([^}]*\)}.*/\1/p' | tr ',' '\n' |
    awk -F: '{ total += $2 } END { print total + 0 }')
fi
[ -n "$state" ] && printf '{"boards":[{"section":"%s","model":"TULAN-KQX","dio":%s}],"violations":%d}\n' \
  "$section" "$dio" "$violations" >"$state"
[ -n "$trace" ] && : >"$trace"
rmmod dio_sim 2>/dev/null
exit $status

#!/bin/busybox sh
# The init of the kernel module's test machine (scripts/driver-vm-test.sh builds the initramfs
# around it). It runs every function named group_* below, in the order they are defined; each
# group is one story about the driver. Output lines the host reads:
#
#   GROUP BEGIN <name> / GROUP END <name>      around each group
#   CHECK ok: <text> / CHECK FAIL: <text>      one line per check
#   CASES BEGIN <name> <filter> [<program>] ... CASES END <name> exit=<status>
#                                              a run of the driver cases, or of another test
#                                              program (GoogleTest output between the markers);
#                                              the host counts the cases the filter selects and
#                                              wants them all passed (another program's may
#                                              skip, as long as some pass)
#   VM START / VM DONE                         the machine came up / ran every group
#
# A new group is a new function; nothing else needs to change.

/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
dmesg -n 1
echo "VM START"

node=/dev/___nk_pcimap
export PATH=/bin:/sdk/bin

check() {
  name=$1
  shift
  if "$@" >/dev/null 2>&1; then echo "CHECK ok: $name"; else echo "CHECK FAIL: $name"; fi
}

# cases NAME FILTER [USER]: the driver cases the filter selects, as root or as USER.
cases() {
  echo "CASES BEGIN $1 $2"
  if [ -n "${3:-}" ]; then
    su -s /bin/sh "$3" -c "/sdk/bin/driver_cases --gtest_color=no --gtest_filter='$2'"
  else
    driver_cases --gtest_color=no --gtest_filter="$2"
  fi
  echo "CASES END $1 exit=$?"
}

# module [PARAMETERS]: the module loaded afresh.
module() {
  rmmod nk_pcimap 2>/dev/null
  insmod /nk_pcimap.ko "$@"
}

opens() {
  sh -c "exec 3<>$node"
}

group_load() {
  for mode in 0755 0666 0644 0606; do
    check "node mode $mode is refused" sh -c "! insmod /nk_pcimap.ko node_mode=$mode"
  done
  check "test identifiers must name a known chip" sh -c '! insmod /nk_pcimap.ko test_ids=1234:11e8:gpu'
  check "the module loads with node mode 0660" sh -c "insmod /nk_pcimap.ko node_mode=0660 && [ \$(stat -c %a $node) = 660 ] && rmmod nk_pcimap"
  check "the module loads" module
  check "the node is a character device of mode 0600" sh -c "[ -c $node ] && [ \$(stat -c %a $node) = 600 ]"
}

# As shipped, nothing of this machine is the kit's: QEMU's devices are not found.
group_allowlist() {
  module
  cases allowlist 'KernelAllowlist.*'
}

# Taken for X550 controllers, the devices show what a chip's windows let through.
group_windows() {
  module test_ids=1234:11e8:x550
  cases windows 'KernelWindows.*'
}

group_cases() {
  module test_ids=1234:11e8
  cases shared 'DriverCase.*'
  cases kernel 'KernelAccess.*:KernelLocks.*:KernelPower.*'
}

# The udev rule's effect (no udev here): the node's group and mode as the rule gives them. A
# member of the group uses the driver; anyone else cannot open the node.
group_users() {
  rule=/etc/udev/rules.d/99-nk-pcimap.rules
  rule_group=$(sed -n 's/.*GROUP="\([^"]*\)".*/\1/p' $rule)
  rule_mode=$(sed -n 's/.*MODE="\([0-7]*\)".*/\1/p' $rule)
  mkdir -p /etc /home
  echo "root:x:0:0::/:/bin/sh" >/etc/passwd
  echo "member:x:1001:1001::/home:/bin/sh" >>/etc/passwd
  echo "outsider:x:1002:1002::/home:/bin/sh" >>/etc/passwd
  printf 'root:x:0:\n%s:x:990:member\n' "$rule_group" >/etc/group
  check "the rule names a group and mode 0660" sh -c "[ -n '$rule_group' ] && [ '$rule_mode' = 0660 ]"
  chgrp "$rule_group" $node && chmod "$rule_mode" $node
  cases member 'DriverCase.RegistersAnswerAsTheChipDoes:DriverCase.OnlyTheHoldersKeyReachesALockedFunction' member
  check "a user outside the group cannot open the node" sh -c "! su -s /bin/sh outsider -c 'exec 3<$node'"
  check "the SDK of a user outside the group finds no driver" sh -c \
    "su -s /bin/sh outsider -c /sdk/bin/qrt_list_products | grep -q '^0 products' && ! su -s /bin/sh outsider -c /sdk/bin/qrt_list_products | grep -q 'Driver Version'"
}

group_removal() {
  check "pci-stub loads" insmod /pci-stub.ko
  cases removal 'KernelRemoval.*'
}

group_sdk() {
  qrt_list_products >/sdk.out 2>&1
  cat /sdk.out
  check "the SDK reports the module's version line" grep -q '^Driver Version:1.5.0' /sdk.out
  check "the SDK finds no product without a card" grep -q '^0 products' /sdk.out
}

# The simulated DIO block (driver/dio-sim) as sysfs shows it: what its attributes refuse fails
# at open or write, even for root.
group_dio_files() {
  grep -qs '^debugfs ' /proc/mounts || mount -t debugfs debugfs /sys/kernel/debug
  insmod /dio_sim.ko di_count=2 do_count=2 do_readable=1 hwid=KQX-B2
  dio=/sys/class/vorel_dio
  check "the block loads with its class files" sh -c "[ -f $dio/DI_1_TrigMod ] && [ -f $dio/DO_1 ] && [ ! -e $dio/DI_2 ]"
  check "the HWID file reads as its first line" sh -c "[ \"\$(cat /sys/class/norvikhw/HWID)\" = KQX-B2 ]"
  check "a write-only output cannot be read" sh -c "[ \$(stat -c %a $dio/DO_0) = 200 ] && ! cat $dio/DO_0"
  check "an output takes 1 and reads it back" sh -c "printf 1 >$dio/DO_1 && [ \$(cat $dio/DO_1) = 1 ]"
  check "an output refuses 5" sh -c "! printf 5 >$dio/DO_1 && [ \$(cat $dio/DO_1) = 1 ]"
  check "a trigger mode refuses 3" sh -c "! echo 3 >$dio/DI_0_TrigMod && [ \$(cat $dio/DI_0_TrigMod) = 2 ]"
  check "an input cannot be written" sh -c "! echo 1 >$dio/DI_0"
  check "no file can be made in the class directory" sh -c "! touch $dio/DO_9"
  check "the control file refuses an input the block lacks" sh -c "[ -e /sys/kernel/debug/dio-sim/control ] && ! echo 'di 7 1' >/sys/kernel/debug/dio-sim/control"
  echo "DIO STATE $(cat /sys/kernel/debug/dio-sim/control)"
  check "the block counted the two refused values" grep -q '"do-value":1,"trigger-mode-value":1' /sys/kernel/debug/dio-sim/control
  check "the block unloads" rmmod dio_sim
  check "its class directories are gone" sh -c "[ ! -e $dio ] && [ ! -e /sys/class/norvikhw ]"
}

# The embedded system's end-to-end cases, the table the rig runs, with the simulated DIO block
# as its hardware: kernel-rig stands in for qrt-sim, and the cases the block cannot carry (PoE
# board, cards) skip.
group_dio_embedded() {
  mkdir -p /tmp
  echo "CASES BEGIN embedded EmbeddedEndToEnd.* test_e2e_embedded"
  QRT_E2E_SIM=/sdk/bin/kernel-rig test_e2e_embedded --gtest_color=no --gtest_filter='EmbeddedEndToEnd.*'
  echo "CASES END embedded exit=$?"
  rm -rf /etc/tulankqx
}

group_unload() {
  exec 3<$node
  check "the module stays while its node is open" sh -c '! rmmod nk_pcimap'
  exec 3<&-
  check "the module unloads" rmmod nk_pcimap
  check "the node is gone" sh -c "[ ! -e $node ]"
  check "the module loads again" sh -c 'insmod /nk_pcimap.ko && rmmod nk_pcimap'
}

# Last: lockdown cannot be lifted. Under it the node does not open.
group_lockdown() {
  module
  check "the node opens before lockdown" opens
  mount -t securityfs securityfs /sys/kernel/security
  check "the kernel has lockdown" sh -c 'echo integrity >/sys/kernel/security/lockdown'
  check "under lockdown the node does not open" sh -c "! sh -c 'exec 3<>$node'"
  rmmod nk_pcimap
}

for group in $(sed -n 's/^\(group_[a-z0-9_]*\)() {$/\1/p' /init); do
  echo "GROUP BEGIN ${group#group_}"
  $group
  echo "GROUP END ${group#group_}"
done
echo "KERNEL LOG BEGIN"
dmesg
echo "KERNEL LOG END"
echo "VM DONE"
poweroff -f

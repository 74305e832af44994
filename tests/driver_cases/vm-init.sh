#!/bin/busybox sh
# The init of the kernel module's test machine (scripts/driver-vm-test.sh builds the initramfs
# around it). It runs every function named group_* below, in the order they are defined; each
# group is one story about the driver. Output lines the host reads:
#
#   GROUP BEGIN <name> / GROUP END <name>      around each group
#   CHECK ok: <text> / CHECK FAIL: <text>      one line per check
#   CASES BEGIN <name> <filter> ... CASES END <name> exit=<status>
#                                              a run of the driver cases (GoogleTest output
#                                              between the markers); the host counts the cases
#                                              the filter selects and wants them all passed
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

# cases NAME FILTER: the driver cases the filter selects, as root.
cases() {
  echo "CASES BEGIN $1 $2"
  driver_cases --gtest_color=no --gtest_filter="$2"
  echo "CASES END $1 exit=$?"
}

group_load() {
  check "a node mode beyond read and write bits is refused" sh -c '! insmod /nk_pcimap.ko node_mode=0755'
  check "the module loads" insmod /nk_pcimap.ko
  check "the node is a character device of mode 0600" sh -c "[ -c $node ] && [ \$(stat -c %a $node) = 600 ]"
}

group_cases() {
  cases shared 'DriverCase.*'
}

group_sdk() {
  qrt_list_products >/sdk.out 2>&1
  cat /sdk.out
  check "the SDK reports the module's version line" grep -q '^Driver Version:1.4.2' /sdk.out
  check "the SDK finds no product without a card" grep -q '^0 products' /sdk.out
}

group_unload() {
  exec 3<$node
  check "the module stays while its node is open" sh -c '! rmmod nk_pcimap'
  exec 3<&-
  check "the module unloads" rmmod nk_pcimap
  check "the node is gone" sh -c "[ ! -e $node ]"
  check "the module loads again" sh -c 'insmod /nk_pcimap.ko && rmmod nk_pcimap'
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

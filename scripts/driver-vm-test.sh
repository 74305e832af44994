#!/usr/bin/env bash
# Tests the kernel module on a real kernel: builds and installs it with DKMS (private trees
# under BUILD_DIR) against the Debian kernel headers that match the kernel linux-image-amd64
# depends on, boots that kernel under QEMU (KVM where it works, else software emulation) on a
# q35 machine with two of QEMU's educational PCI devices (one on the root bus, one behind a
# root port with a slot) and a busybox initramfs, and runs inside the groups of
# tests/driver_cases/vm-init.sh: the driver cases through the SDK's own driver channel (the
# shared list the rig runs, and the module's own), the unmodified SDK library, users in and out
# of the udev rule's group, removal and driver changes, load, unload and lockdown; and, with the
# simulated DIO block of driver/dio-sim (built with make), its sysfs files and the embedded
# system's end-to-end cases (tests/e2e_embedded through kernel-rig.sh). Then it
# looks for "BUG", "Oops" and "WARNING" in the kernel log. Ends with the line "N passed, N failed"; fails unless every group ran to its end and
# every run of the driver cases exited 0 with all the cases its filter selects passed.
#
#     scripts/driver-vm-test.sh [BUILD_DIR]     (default build/, a build without sanitizers)
#
# Outside CI it skips, saying why, when QEMU, busybox-static or the kernel headers are missing,
# and builds with make when dkms is (scripts/install-deps.sh installs them all); under CI
# (CI=true) a missing piece is a failure.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS
build=${1:-build}
work=$build/driver-vm
init=tests/driver_cases/vm-init.sh

passed=0
failed=0
pass() {
  passed=$((passed + 1))
  echo "CHECK ok: $1"
}
fail() {
  failed=$((failed + 1))
  echo "CHECK FAIL: $1"
}

fail_setup() {
  echo "driver-vm-test: $1" >&2
  echo "0 passed, 1 failed"
  exit 1
}
skip() {
  [ "${CI:-}" = true ] && fail_setup "$1"
  echo "driver-vm-test: skipped: $1"
  exit 0
}

command -v qemu-system-x86_64 >/dev/null || skip "qemu-system-x86_64 is missing"
command -v cpio >/dev/null || skip "cpio is missing"
# The initramfs has no C library for busybox: it must be the static one.
{ [ -x /bin/busybox ] && ! ldd /bin/busybox >/dev/null 2>&1; } ||
  skip "/bin/busybox is not the static busybox (package busybox-static)"
kernel=$(apt-cache depends linux-image-amd64 2>/dev/null |
  sed -n 's/^ *Depends: linux-image-\([0-9].*-amd64\)$/\1/p' | head -n1)
[ -n "$kernel" ] || skip "the package lists do not name the kernel of linux-image-amd64"
headers=/usr/src/linux-headers-$kernel
[ -d "$headers" ] || skip "linux-headers-$kernel is not installed"

fetch_kernel() {
  # The kernel image is downloaded, never installed; its vmlinuz is unpacked to the ELF kernel,
  # which QEMU boots directly (PVH entry) without decompressing it under emulation first. Its
  # pci-stub module stands in for a driver taking a device over.
  [ -s "$work/vmlinux-$kernel" ] && [ -s "$work/pci-stub.ko" ] && return
  (cd "$work" && { ls linux-image-"$kernel"_*.deb >/dev/null 2>&1 ||
    apt-get download -q "linux-image-$kernel" >/dev/null 2>&1; }) ||
    skip "cannot download linux-image-$kernel"
  dpkg-deb --fsys-tarfile "$work"/linux-image-"$kernel"_*.deb |
    tar -xO "./boot/vmlinuz-$kernel" >"$work/vmlinuz-$kernel"
  dpkg-deb --fsys-tarfile "$work"/linux-image-"$kernel"_*.deb |
    tar -xO "./lib/modules/$kernel/kernel/drivers/pci/pci-stub.ko" >"$work/pci-stub.ko"
  offset=$(LC_ALL=C grep -obUaP '\xfd7zXZ\x00' "$work/vmlinuz-$kernel" | head -n1 | cut -d: -f1)
  tail -c +$((offset + 1)) "$work/vmlinuz-$kernel" | xz -dcq >"$work/vmlinux-$kernel" 2>/dev/null || true
  rm -f "$work"/linux-image-*.deb
}

# The module as a user gets it: driver/ as DKMS's source tree /usr/src/<name>-<version>/, built
# and installed for the machine's kernel (trees of its own under $work, nothing of the host's
# DKMS changes). Without dkms, outside CI, a plain make. A warning fails the run.
build_module() {
  local name version dkms_work log
  name=$(sed -n 's/^PACKAGE_NAME="\(.*\)"$/\1/p' driver/dkms.conf)
  version=$(sed -n 's/^PACKAGE_VERSION="\(.*\)"$/\1/p' driver/dkms.conf)
  if ! command -v dkms >/dev/null; then
    [ "${CI:-}" = true ] && fail_setup "dkms is missing"
    echo "driver-vm-test: dkms is missing; the module is built with make"
    rm -rf "$work/module" && cp -r driver "$work/module"
    log=$work/module/make.log
    make -s -C "$headers" M="$(realpath "$work/module")" modules >"$log" 2>&1 ||
      { cat "$log"; fail_setup "the module does not build against $kernel"; }
    module=$work/module/nk_pcimap.ko
  else
    dkms_work=$(realpath "$work")/dkms
    rm -rf "$dkms_work" && mkdir -p "$dkms_work"/{source,tree,install/"$kernel"}
    cp -r driver "$dkms_work/source/$name-$version"
    dkms_run() {
      dkms --dkmstree "$dkms_work/tree" --sourcetree "$dkms_work/source" \
        --installtree "$dkms_work/install" "$@" -m "$name" -v "$version" >>"$dkms_work/dkms.log" 2>&1
    }
    log=$dkms_work/tree/$name/$version/build/make.log
    { dkms_run add && dkms_run build -k "$kernel" && dkms_run install -k "$kernel"; } ||
      { cat "$dkms_work/dkms.log" "$log" 2>/dev/null; fail_setup "dkms does not build and install the module for $kernel"; }
    module=$dkms_work/install/$kernel/updates/dkms/nk_pcimap.ko
    [ -s "$module" ] || fail_setup "dkms installed no nk_pcimap.ko for $kernel"
    pass "dkms built $name $version from driver/ and installed it for $kernel"
  fi
  if grep -i 'warning' "$log" | grep -v -q 'Skipping BTF generation'; then
    cat "$log"
    fail_setup "the module builds with warnings"
  fi
}

# The simulated DIO block (driver/dio-sim), a test-only module: built with make against the same
# headers, warnings being errors.
build_dio_sim() {
  rm -rf "$work/dio-sim" && cp -r driver/dio-sim "$work/dio-sim"
  make -s -C "$headers" M="$(realpath "$work/dio-sim")" modules >"$work/dio-sim/make.log" 2>&1 ||
    { cat "$work/dio-sim/make.log"; fail_setup "dio_sim does not build against $kernel"; }
  if grep -i 'warning' "$work/dio-sim/make.log" | grep -v -q 'Skipping BTF generation'; then
    cat "$work/dio-sim/make.log"
    fail_setup "dio_sim builds with warnings"
  fi
}

# Copies programs into the initramfs at PREFIX with every shared library they load; the
# programs without their debugging sections, which the machine only has to unpack.
copy_programs() {
  local prefix=$1
  shift
  local program
  for program in "$@"; do
    strip --strip-debug -o "$root$prefix/bin/$(basename "$program")" "$program"
  done
  for library in $(LD_LIBRARY_PATH="$build/lib" ldd "$@" "$build"/lib/libQRT_*.so.*.* |
    awk '$2 == "=>" && $3 ~ /^\// { print $3 } $1 ~ /^\// { print $1 }' | sort -u); do
    case $library in */libQRT_*) continue ;; esac
    mkdir -p "$root$(dirname "$library")"
    cp -L "$library" "$root$library"
  done
}

build_initramfs() {
  root=$work/root
  rm -rf "$root" && mkdir -p "$root"/{bin,dev,proc,sys,sdk/bin,sdk/lib}
  cp /bin/busybox "$root/bin/"
  cp "$module" "$work/pci-stub.ko" "$work/dio-sim/dio_sim.ko" "$root/"
  mkdir -p "$root/etc/udev/rules.d"
  cp driver/99-nk-pcimap.rules "$root/etc/udev/rules.d/"
  cp -P "$build"/lib/libQRT_*.so* "$root/sdk/lib/"
  strip --strip-debug "$root"/sdk/lib/libQRT_*.so.*.*
  copy_programs /sdk "$build/bin/driver_cases" "$build/bin/qrt_list_products" \
    "$build/bin/test_e2e_embedded" "$build/bin/embedded_probe"
  cp -p tests/e2e_embedded/kernel-rig.sh "$root/sdk/bin/kernel-rig"
  # The end-to-end test runs the probe by the path it was built with: the build directory's
  # as CMake knows it.
  probe=$(sed -n 's/^CMAKE_CACHEFILE_DIR:INTERNAL=//p' "$build/CMakeCache.txt")/bin/embedded_probe
  mkdir -p "$root$(dirname "$probe")"
  ln -s /sdk/bin/embedded_probe "$root$probe"
  cp "$init" "$root/init"
  chmod +x "$root/init"
  (cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$work/initramfs.gz"
}

# Boots the machine with accelerator $1; gives up (status 2) when it has not come up within $2
# seconds (KVM brings it up in about two), which is how a KVM that cannot run this guest
# shows itself.
boot() {
  local accel=$1 deadline=$2 pid waited=0
  rm -f "$console"
  timeout 170 qemu-system-x86_64 -nodefaults -no-user-config -display none -no-reboot \
    -accel "$accel" -bios /usr/share/qemu/qboot.rom -serial stdio -m 512 -smp 1 -machine q35 \
    -device pcie-root-port,id=slot1,chassis=1,slot=1 -device edu,bus=slot1 -device edu \
    -kernel "$boot_image" -initrd "$work/initramfs.gz" \
    -append "console=ttyS0 quiet panic=-1 rdinit=/init" </dev/null >"$console" 2>&1 &
  pid=$!
  until grep -q 'VM START' "$console" 2>/dev/null; do
    if ! kill -0 "$pid" 2>/dev/null || [ "$waited" -ge $((deadline * 2)) ]; then
      kill "$pid" 2>/dev/null || true
      wait "$pid" || true
      return 2
    fi
    sleep 0.5
    waited=$((waited + 1))
  done
  wait "$pid" || true
}

run_machine() {
  console=$work/console.log
  boot_image=$work/vmlinux-$kernel
  [ -s "$boot_image" ] || boot_image=$work/vmlinuz-$kernel
  accel=tcg
  if [ -r /dev/kvm ] && [ -w /dev/kvm ] && boot kvm 10; then
    accel=kvm
  else
    [ -e /dev/kvm ] && echo "driver-vm-test: KVM did not bring the machine up; software emulation"
    boot tcg 120 || true
  fi
  tr -d '\r' <"$console" >"$console.txt"
}


# Every group the init defines ran to its end; its checks are counted.
judge_groups() {
  local group
  sed -n '/^CHECK /p; /^GROUP /p; /^\[ *\(RUN\|OK\|FAILED\|SKIPPED\) *\]/p; /^CASES /p; /^Driver Version:/p; /products$/p; /^DIO STATE /p' \
    "$console.txt"
  passed=$((passed + $(grep -c '^CHECK ok: ' "$console.txt" || true)))
  failed=$((failed + $(grep -c '^CHECK FAIL: ' "$console.txt" || true)))
  for group in $(sed -n 's/^group_\([a-z0-9_]*\)() {$/\1/p' "$init"); do
    grep -q "^GROUP END $group\$" "$console.txt" || fail "the group $group ran to its end"
  done
}

# Each run of the driver cases exited 0 and passed every case its filter selects, as the host's
# copy of the program counts them.
judge_cases() {
  local name filter expected summary status
  local program run skipped
  while read -r _ _ name filter program; do
    program=${program:-driver_cases}
    expected=$("$build/bin/$program" --gtest_list_tests --gtest_filter="$filter" | grep -c '^  ' || true)
    status=$(sed -n "s/^CASES END $name exit=\([0-9]*\)\$/\1/p" "$console.txt")
    run=$(sed -n "/^CASES BEGIN $name /,/^CASES END $name /p" "$console.txt")
    summary=$(echo "$run" | sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\?\.$/\1/p')
    skipped=$(echo "$run" | sed -n 's/^\[  SKIPPED \] \([0-9]*\) tests\?, listed below:$/\1/p')
    skipped=${skipped:-0}
    # The driver cases all run in the machine; another program's cases may skip there.
    [ "$program" = driver_cases ] || summary=$((${summary:-0} + skipped))
    if [ "$status" = 0 ] && [ "$summary" = "$expected" ] && [ "$expected" -gt "$skipped" ]; then
      if [ "$skipped" -eq 0 ]; then
        pass "$program $name: all $expected passed"
      else
        pass "$program $name: $((expected - skipped)) passed, $skipped skipped (they say why)"
      fi
    else
      fail "$program $name: exit ${status:-none}, ${summary:-no} of $expected passed or skipped"
    fi
  done < <(grep '^CASES BEGIN ' "$console.txt")
}

judge_machine() {
  if grep -q '^VM DONE$' "$console.txt"; then
    pass "the virtual machine ran every group"
  else
    fail "the virtual machine did not run every group; its console:"
    tail -n 40 "$console.txt"
  fi
  if grep -n -E '\bBUG\b|Oops|WARNING|segfault' "$console.txt"; then
    fail "the kernel log is clean"
  else
    pass "the kernel log is clean"
  fi
}

mkdir -p "$work"
fetch_kernel
build_module
build_dio_sim
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# The embedded end-to-end cases are built with the virtual rig (they need nlohmann-json).
targets=$(cmake --build "$build" --target help)
grep -q ' test_e2e_embedded$' <<<"$targets" ||
  skip "the build in $build has no test_e2e_embedded (it is built with the virtual rig)"
cmake --build "$build" -j"$(nproc)" --target driver_cases qrt_list_products test_e2e_embedded \
  embedded_probe >/dev/null
build_initramfs
run_machine
judge_groups
judge_cases
judge_machine
echo "driver-vm-test: kernel $kernel, $accel, $((SECONDS - started)) s"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]

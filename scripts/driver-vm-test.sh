#!/usr/bin/env bash
# Tests the kernel module on a real kernel: builds it against the Debian kernel headers that
# match the kernel linux-image-amd64 depends on, boots that kernel under QEMU (software
# emulation) with QEMU's educational PCI device and a busybox initramfs, and runs inside: the
# driver cases through the SDK's driver channel (the same list the rig runs), the unmodified SDK
# library, the module's load and unload checks, and a look at the kernel log for "BUG", "Oops"
# and "WARNING". Ends with the line "N passed, N failed".
#
#     scripts/driver-vm-test.sh [BUILD_DIR]     (default build/, a build without sanitizers)
#
# Outside CI it skips, saying why, when QEMU, busybox-static or the kernel headers are missing
# (scripts/install-deps.sh installs them); under CI (CI=true) a missing piece is a failure.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS
build=${1:-build}
work=$build/driver-vm

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

mkdir -p "$work"
# The kernel image is downloaded, never installed; its vmlinuz is unpacked to the ELF kernel,
# which QEMU boots directly (PVH entry) without decompressing it under emulation first.
if [ ! -s "$work/vmlinux-$kernel" ]; then
  (cd "$work" && rm -f linux-image-*.deb && apt-get download -q "linux-image-$kernel" >/dev/null 2>&1) ||
    skip "cannot download linux-image-$kernel"
  dpkg-deb --fsys-tarfile "$work"/linux-image-"$kernel"_*.deb |
    tar -xO "./boot/vmlinuz-$kernel" >"$work/vmlinuz-$kernel"
  offset=$(LC_ALL=C grep -obUaP '\xfd7zXZ\x00' "$work/vmlinuz-$kernel" | head -n1 | cut -d: -f1)
  tail -c +$((offset + 1)) "$work/vmlinuz-$kernel" | xz -dcq >"$work/vmlinux-$kernel" 2>/dev/null || true
  rm -f "$work"/linux-image-*.deb
fi
boot_image=$work/vmlinux-$kernel
[ -s "$boot_image" ] || boot_image=$work/vmlinuz-$kernel

# The module, built outside the source tree.
rm -rf "$work/module" && mkdir -p "$work/module"
cp driver/Kbuild driver/*.c driver/*.h "$work/module/"
make -s -C "$headers" M="$(realpath "$work/module")" modules >"$work/module.log" 2>&1 ||
  { cat "$work/module.log"; fail_setup "the module does not build against $kernel"; }
if grep -q -i 'warning' "$work/module.log"; then
  cat "$work/module.log"
  fail_setup "the module builds with warnings"
fi

[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target driver_cases_static qrt_list_products >/dev/null

# The initramfs: busybox, the module, the static driver cases, and the SDK's libraries with the
# example program and the C and C++ libraries they need.
root=$work/root
rm -rf "$root" && mkdir -p "$root"/{bin,dev,proc,sys,sdk/bin,sdk/lib}
cp /bin/busybox "$root/bin/"
cp "$work/module/nk_pcimap.ko" "$build/bin/driver_cases_static" "$root/"
cp "$build/bin/qrt_list_products" "$root/sdk/bin/"
cp -P "$build"/lib/libQRT_*.so* "$root/sdk/lib/"
for library in $(LD_LIBRARY_PATH="$build/lib" ldd "$build/bin/qrt_list_products" "$build"/lib/libQRT_*.so.*.* |
  awk '$2 == "=>" && $3 ~ /^\// { print $3 } $1 ~ /^\// { print $1 }' | sort -u); do
  case $library in */libQRT_*) continue ;; esac
  mkdir -p "$root$(dirname "$library")"
  cp -L "$library" "$root$library"
done
cat >"$root/init" <<'EOF'
#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
dmesg -n 1
check() {
  name=$1
  shift
  if "$@" >/dev/null 2>&1; then echo "CHECK ok: $name"; else echo "CHECK FAIL: $name"; fi
}
node=/dev/___nk_pcimap
check "a node mode beyond read and write bits is refused" sh -c '! insmod /nk_pcimap.ko node_mode=0755'
check "the module loads" insmod /nk_pcimap.ko
check "the node is a character device of mode 0600" sh -c "[ -c $node ] && [ \$(stat -c %a $node) = 600 ]"
/driver_cases_static --gtest_color=no
/sdk/bin/qrt_list_products >/sdk.out 2>&1
cat /sdk.out
check "the SDK reports the module's version line" grep -q '^Driver Version:1.4.2' /sdk.out
check "the SDK finds no product without a card" grep -q '^0 products' /sdk.out
exec 3</dev/___nk_pcimap
check "the module stays while its node is open" sh -c '! rmmod nk_pcimap'
exec 3<&-
check "the module unloads" rmmod nk_pcimap
check "the node is gone" sh -c "[ ! -e $node ]"
check "the module loads again" sh -c 'insmod /nk_pcimap.ko && rmmod nk_pcimap'
echo "KERNEL LOG BEGIN"
dmesg
echo "KERNEL LOG END"
echo "VM DONE"
poweroff -f
EOF
chmod +x "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$work/initramfs.gz"

console=$work/console.log
timeout 170 qemu-system-x86_64 -nodefaults -no-user-config -display none -no-reboot \
  -serial stdio -m 512 -smp 1 -device edu \
  -kernel "$boot_image" -initrd "$work/initramfs.gz" \
  -append "console=ttyS0 quiet panic=-1 rdinit=/init" </dev/null >"$console" 2>&1 || true
tr -d '\r' <"$console" >"$console.txt"
sed -n '/^CHECK /p; /^\[ *\(RUN\|OK\|FAILED\|SKIPPED\) *\]/p; /^Driver Version:/p; /products$/p' "$console.txt"

passed=$(grep -c -E '^(CHECK ok: |\[       OK \] .* \([0-9]+ ms\)$)' "$console.txt" || true)
failed=$(grep -c -E '^(CHECK FAIL: |\[  FAILED  \] .* \([0-9]+ ms\)$)' "$console.txt" || true)
if grep -q '^VM DONE$' "$console.txt"; then
  passed=$((passed + 1))
  echo "CHECK ok: the virtual machine ran every step"
else
  failed=$((failed + 1))
  echo "CHECK FAIL: the virtual machine did not run every step; its console:"
  tail -n 40 "$console.txt"
fi
if grep -n -E '\bBUG\b|Oops|WARNING' "$console.txt"; then
  failed=$((failed + 1))
  echo "CHECK FAIL: the kernel log is clean"
else
  passed=$((passed + 1))
  echo "CHECK ok: the kernel log is clean"
fi
echo "driver-vm-test: kernel $kernel, $((SECONDS - started)) s"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]

#!/bin/sh
# Runs inside a clean Debian root in which apt has installed the SDK's packages (from
# scripts/package-test.sh, as root): what a user of the packages relies on.
set -eu
fail() { echo "FAIL: $*" >&2; exit 1; }
triplet=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -dumpmachine)
libdir=/usr/lib/$triplet
work=$(mktemp -d)
cd "$work"

# The kernel module: DKMS built and installed it for the kernel whose headers are installed;
# the node goes to group qrt, which sysusers made.
dkms status nk-pcimap | grep -q ': installed' || { dkms status; fail "nk-pcimap not installed by DKMS"; }
getent group qrt >/dev/null || fail "no group qrt"
grep -q 'GROUP="qrt"' /lib/udev/rules.d/99-nk-pcimap.rules || fail "udev rule"
grep -qx nk_pcimap /usr/lib/modules-load.d/nk_pcimap.conf || fail "modules-load file"

# No run paths in a system install, but qrt-sim's to its private libraries, which stay out of
# the linker's cache.
for file in /usr/bin/qrtctl /usr/bin/qrt-exporter "$libdir"/libQRT_*.so.1 "$libdir"/qrt/*.so; do
  ! readelf -d "$file" | grep -q 'R.*PATH' || fail "$file has a run path"
done
readelf -d /usr/bin/qrt-sim | grep -q "RUNPATH.*\[\$ORIGIN/../lib/$triplet/qrt\]" ||
  fail "qrt-sim's run path: $(readelf -d /usr/bin/qrt-sim | grep PATH)"
! ldconfig -p | grep -q libqrt_sim || fail "the rig's libraries are in the linker's cache"
pkg-config --libs qrt-sdk | grep -qv rpath || fail "qrt-sdk.pc adds a run path"

# The tools on the built-in rig (a PCIe-W504 and a PCIe-RHX54P, its ports cabled to host
# interfaces in the rig's network namespace), and on the embedded system's example rig (its
# files in the rig's mount namespace): qrt-sim gets every namespace in the root, and says so
# on standard error when it does not.
qrt-sim --skip-pauses -- qrtctl list >list.txt 2>sim.txt || { cat list.txt sim.txt; fail "qrtctl list"; }
grep -q 'PCIe-W504' list.txt && grep -q 'PCIe-RHX54P' list.txt || { cat list.txt; fail "qrtctl list"; }
qrt-sim --skip-pauses --rig /usr/share/doc/qrt-sdk-doc/docs/embedded.rig -- qrtctl list \
  >list.txt 2>>sim.txt || { cat list.txt sim.txt; fail "qrtctl list on the embedded rig"; }
grep -q 'TULAN-KQX' list.txt || { cat list.txt sim.txt; fail "qrtctl list on the embedded rig"; }
! grep '^qrt-sim: no ' sim.txt || fail "qrt-sim lacks namespaces in the root"
qrt-exporter --help >/dev/null || fail "qrt-exporter does not start"

# The binding finds the library by its soname, without LD_LIBRARY_PATH.
qrt-sim --skip-pauses -- python3 -c 'import qrt
print(qrt.library().path, [p.model for p in qrt.products()])' >python.txt ||
  { cat python.txt; fail "import qrt"; }
grep -qx "libQRT_SDK.so.1 \['PCIe-W504', 'PCIe-RHX54P'\]" python.txt || { cat python.txt; fail "import qrt"; }

# Applications: one built through pkg-config, the others through find_package(QRTSDK).
examples=/usr/share/doc/libqrt-sdk-dev/examples
# shellcheck disable=SC2046
cc -std=c99 -Wall -Wextra -Werror -o usb3_power "$examples/usb3_power.c" $(pkg-config --cflags --libs qrt-sdk)
! readelf -d usb3_power | grep -q 'R.*PATH' || fail "pkg-config gave the application a run path"
cmake -S "$examples/standalone" -B cmake >cmake.log && cmake --build cmake >>cmake.log ||
  { cat cmake.log; fail "find_package(QRTSDK) example"; }
! readelf -d cmake/list_products | grep -q 'R.*PATH' || fail "find_package gave the application a run path"
qrt-sim --skip-pauses -- sh -c './usb3_power 0 && ./cmake/list_products' >run.txt 2>&1 ||
  { cat run.txt; fail "the examples"; }
grep -q '^port 1: off' run.txt && grep -q 'PCIe-RHX54P' run.txt || { cat run.txt; fail "the examples"; }
echo "installed packages: ok"

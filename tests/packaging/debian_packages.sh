#!/bin/sh
# Usage: debian_packages.sh BUILD_DIR WORK_DIR
# Builds the .deb packages, unpacks them into a scratch root and checks their files and
# control data; lintian must report no error.
set -eu
build=$1
work=$2
fail() { echo "FAIL: $*" >&2; exit 1; }

rm -rf "$work"
mkdir -p "$work/root"
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack"; }
for package in libqrt-sdk1 libqrt-sdk-dev qrt-sdk-tools; do
  deb=$(ls "$work/${package}"_*.deb) || fail "no package $package"
  dpkg -x "$deb" "$work/root"
  dpkg-deb -f "$deb" Package Version Depends >"$work/$package.control"
  if command -v lintian >/dev/null; then
    lintian --fail-on error "$deb" >"$work/$package.lintian" 2>&1 ||
      { cat "$work/$package.lintian"; fail "lintian errors in $package"; }
  fi
done
grep -q "Depends: libqrt-sdk1 (= 1.7.7-1)" "$work/libqrt-sdk-dev.control" || fail "dev depends"
root=$work/root/usr
libdir=$(dirname "$(find "$root" -name libQRT_SDK.so.1 | head -n 1)")
for file in "$libdir/libQRT_SDK.so.1" "$libdir/libQRT_Product.so.1" "$libdir/libQRT_CoreSDK.so.1" \
    "$libdir/libQRT_Utilities.so.1" "$libdir/libQRT_SDK.so" "$libdir/pkgconfig/qrt-sdk.pc" \
    "$libdir/cmake/QRTSDK/QRTSDKTargets.cmake" "$libdir/libqrt_simbridge.so" \
    "$root/include/qrt/QRT_SDK.h" "$root/include/qrt/QRT_Types.h" "$root/bin/qrtctl" \
    "$root/bin/qrt-sim" "$root/share/man/man1/qrtctl.1.gz" \
    "$root/share/doc/libqrt-sdk1/copyright" "$root/share/doc/libqrt-sdk-dev/examples/poe.c"; do
  [ -e "$file" ] || fail "$file missing"
done
echo "debian packages: ok"

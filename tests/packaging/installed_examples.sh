#!/bin/sh
# Usage: installed_examples.sh BUILD_DIR WORK_DIR C_COMPILER [EXTRA_FLAGS...]
set -eu
build=$1
work=$2
cc=$3
shift 3
fail() { echo "FAIL: $*" >&2; exit 1; }

rm -rf "$work"
mkdir -p "$work"
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >"$work/install.log"

libdir=$(dirname "$(find "$prefix" -name libQRT_SDK.so | head -n 1)")
for lib in QRT_SDK QRT_Product QRT_CoreSDK QRT_Utilities; do
  real=$libdir/lib$lib.so.1.7.7
  [ -f "$real" ] && [ -L "$libdir/lib$lib.so.1" ] && [ -L "$libdir/lib$lib.so" ] ||
    fail "lib$lib: library or its symlinks missing"
  soname=$(objdump -p "$real" | awk '/SONAME/ { print $2 }')
  [ "$soname" = "lib$lib.so.1" ] || fail "lib$lib: soname '$soname'"
done
for file in include/qrt/QRT_SDK.h include/qrt/QRT_Types.h bin/qrtctl bin/qrt-sim; do
  [ -e "$prefix/$file" ] || fail "$file not installed"
done
[ -e "$libdir/qrt/libqrt_simbridge.so" ] && [ -e "$libdir/qrt/libqrt_sim.so" ] &&
  [ -e "$libdir/cmake/QRTSDK/QRTSDKConfig.cmake" ] ||
  fail "rig libraries or CMake package not installed"
# A relocated prefix: the kit's binaries find their libraries from where they are, and the
# pkg-config file gives applications the prefix's library directory.
# A sanitizer build links clang's shared sanitizer runtime, whose directory the compiler adds to
# the run path; that entry is the build's, not the install's.
runpath() {
  readelf -d "$1" | sed -n 's/.*R\(UN\)\{0,1\}PATH.*\[\(.*\)\]/\2/p' |
    tr ':' '\n' | grep -v '/lib/clang/[^/]*/lib/' | paste -sd:
}
[ "$(runpath "$prefix/bin/qrtctl")" = "\$ORIGIN/../${libdir#"$prefix"/}" ] &&
  [ "$(runpath "$libdir/libQRT_SDK.so.1")" = "\$ORIGIN" ] ||
  fail "run paths of a relocated install: $(runpath "$prefix/bin/qrtctl"), $(runpath "$libdir/libQRT_SDK.so.1")"
grep -q "^Libs: -L\${libdir} -Wl,-rpath,\${libdir} -lQRT_SDK" "$libdir/pkgconfig/qrt-sdk.pc" ||
  fail "qrt-sdk.pc of a relocated prefix: $(grep ^Libs: "$libdir/pkgconfig/qrt-sdk.pc")"

examples=$prefix/share/doc/libqrt-sdk-dev/examples
flags=$(PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --cflags --libs qrt-sdk)
for source in "$examples"/*.c; do
  # shellcheck disable=SC2086
  "$cc" -std=c99 -Wall -Wextra -Werror "$@" -o "$work/pc-$(basename "$source" .c)" "$source" $flags
done
cmake -S "$examples/standalone" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_C_FLAGS="$*" >"$work/cmake.log"
cmake --build "$work/cmake" >>"$work/cmake.log"

# Every example runs in the installed rig and ends well; the DIO example waits 0 seconds for
# events.
"$prefix/bin/qrt-sim" --skip-pauses --rig "$(dirname "$0")/examples.rig" -- sh -c "
  for example in '$work'/pc-* '$work/cmake/usb3_power'; do
    echo \"== \$example\"; \"\$example\" 0 || exit 1
  done" >"$work/run.log" 2>&1 || { cat "$work/run.log"; fail "an example failed"; }
grep -q "^port 1: off" "$work/run.log" && grep -q "^product 0: status 0" "$work/run.log" ||
  { cat "$work/run.log"; fail "USB3 example did not switch port 1"; }
[ "$(grep -c "^product 0: status 0" "$work/run.log")" -eq 2 ] || fail "find_package example"
grep -q "^port 0: device key 0x12345678, group key 0x00000001, group mask 0xffffffff" "$work/run.log" &&
  grep -q "^port 0: on, 4[0-9.]* V, 0.4[0-9]* A" "$work/run.log" ||
  { cat "$work/run.log"; fail "PoE or ToE example"; }
echo "installed examples: ok"

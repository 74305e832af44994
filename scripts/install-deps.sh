#!/usr/bin/env bash
# Installs what building and testing the SDK needs on Debian 12 (run as root or through sudo).
set -euo pipefail
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
# tshark dissects the rig's frame captures in the tests; its packaging would otherwise ask
# whether non-root users may capture. qrt-exporter serves HTTP with cpp-httplib; its end-to-end
# test runs a real Prometheus server (prometheus, which brings promtool), which the package does
# not start on a machine without systemd.
echo "wireshark-common wireshark-common/install-setuid boolean false" | $SUDO debconf-set-selections
$SUDO apt-get install -y -qq --no-install-recommends \
  build-essential cmake pkg-config clang-format \
  libgtest-dev libgmock-dev googletest libbenchmark-dev \
  nlohmann-json3-dev libcli11-dev libcpp-httplib-dev prometheus iproute2 binutils util-linux tshark \
  python3 python3-prometheus-client python3-pytest python3-pip python3-setuptools python3-wheel \
  dpkg-dev fakeroot file lintian help2man doxygen \
  clang libclang-rt-14-dev >/dev/null
# The kernel module's virtual-machine test: QEMU, a static busybox for the initramfs, DKMS, and the
# headers of the kernel that linux-image-amd64 depends on (scripts/driver-vm-test.sh).
kernel=$(apt-cache depends linux-image-amd64 | sed -n 's/^ *Depends: linux-image-\([0-9].*-amd64\)$/\1/p' | head -n1)
$SUDO apt-get install -y -qq --no-install-recommends \
  qemu-system-x86 busybox-static cpio xz-utils dkms "linux-headers-$kernel" >/dev/null

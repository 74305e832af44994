#!/usr/bin/env bash
# Installs what building and testing the SDK needs on Debian 12 (run as root or through sudo).
set -euo pipefail
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
# tshark dissects the rig's frame captures in the tests; its packaging would otherwise ask
# whether non-root users may capture.
echo "wireshark-common wireshark-common/install-setuid boolean false" | $SUDO debconf-set-selections
$SUDO apt-get install -y -qq --no-install-recommends \
  build-essential cmake pkg-config clang-format \
  libgtest-dev libgmock-dev googletest libbenchmark-dev \
  nlohmann-json3-dev libcli11-dev iproute2 binutils util-linux tshark \
  python3 python3-prometheus-client dpkg-dev fakeroot file lintian help2man >/dev/null

#!/usr/bin/env bash
# Installs what building and testing the SDK needs on Debian 12 (run as root or through sudo).
set -euo pipefail
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends \
  build-essential cmake pkg-config clang-format \
  libgtest-dev libgmock-dev googletest libbenchmark-dev \
  nlohmann-json3-dev libcli11-dev iproute2 binutils util-linux \
  clang libclang-rt-14-dev >/dev/null

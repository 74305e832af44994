#!/usr/bin/env bash
# The Debian packages as a user gets them: builds them from this source tree (dpkg-buildpackage,
# in a copy of the tree), checks them with lintian (no error, no warning), builds a clean
# Debian 12 root from Debian's archive (mmdebstrap), installs them there with apt, so that
# their dependencies are proven, and runs tests/packaging/installed_packages.sh inside it as
# root: DKMS built the module, no run paths, qrtctl and Python under qrt-sim, an example built
# with pkg-config and one with find_package(QRTSDK).
# Usage: scripts/package-test.sh [WORK_DIR]   (default build-packages; removed and made anew)
# Needs root (the chroot, and qrt-sim's namespaces inside it) and Debian's mirror through apt.
# The root is built while the packages compile; nothing is kept for a later run.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
work=$(realpath -m "${1:-build-packages}")
fail() { echo "package-test: FAIL: $*" >&2; exit 1; }
step() { echo "== package-test: $* ($(date +%T))"; }
[ "$(id -u)" -eq 0 ] || fail "needs root (chroot, namespaces)"

rm -rf --one-file-system "$work"
mkdir -p "$work/src" "$work/root"

step "a clean Debian 12 root (in the background), and the packages"
# The host's Debian sources (its mirror and the security archive), nothing else.
sources=$(grep -lE '^(Suites:.*[[:space:]]|deb .* )bookworm([[:space:]]|$)' \
  /etc/apt/sources.list /etc/apt/sources.list.d/*.sources /etc/apt/sources.list.d/*.list \
  2>/dev/null | head -n 1) || true
[ -n "$sources" ] || sources=http://deb.debian.org/debian
# Only what the checks bring of their own: a compiler, CMake and pkg-config for the example
# programs, and kernel headers for DKMS to build the module against. apt finds everything the
# packages need when it installs them.
mmdebstrap --variant=apt --mode=root --format=directory --skip=cleanup/apt/lists \
  --include=build-essential,cmake,pkg-config,linux-headers-amd64 \
  bookworm "$work/root" "$sources" >"$work/mmdebstrap.log" 2>&1 &
root_job=$!

# A copy of the tree as checked out (tracked and new files, no build directories): the
# packages land beside it, in $work.
if git -C "$source_dir" rev-parse --git-dir >/dev/null 2>&1; then
  git -C "$source_dir" ls-files -z -c -o --exclude-standard |
    while IFS= read -r -d '' file; do [ -e "$file" ] && printf '%s\0' "$file"; done |
    xargs -0 cp --parents -t "$work/src"
else
  tar -C "$source_dir" --exclude='./build*' --exclude='./obj-*' -cf - . | tar -C "$work/src" -xf -
fi
# A compiler cache where the machine has one (developers' machines; CI builds afresh).
if command -v ccache >/dev/null; then
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
fi
(cd "$work/src" &&
  DEB_BUILD_OPTIONS="parallel=$(nproc) nocheck" dpkg-buildpackage -b -uc -us >"$work/build.log" 2>&1) ||
  { kill "$root_job" 2>/dev/null; wait "$root_job" || true
    tail -n 40 "$work/build.log"; fail "dpkg-buildpackage (log: $work/build.log)"; }

step "lintian (in the background); apt installs the packages in the root"
lintian --fail-on error,warning --info "$work"/*.changes >"$work/lintian.log" 2>&1 &
lintian_job=$!
wait "$root_job" || { tail -n 40 "$work/mmdebstrap.log"; fail "mmdebstrap"; }
mkdir -p "$work/root/tmp/debs"
for deb in "$work"/*.deb; do
  case $deb in *-dbgsym_*) ;; *) cp "$deb" "$work/root/tmp/debs/" ;; esac
done
cp /etc/resolv.conf "$work/root/etc/resolv.conf"
cp "$source_dir/tests/packaging/installed_packages.sh" "$work/root/tmp/"
# In a mount namespace of its own, the root is bound onto itself (so that its / is a mount
# point, which qrt-sim's private mounts need) and gets its own /proc, /sys, /dev and /run;
# everything is unmounted when the checks end.
unshare --mount --propagation private sh -c '
  root=$1
  mount --bind "$root" "$root" && mount -t proc proc "$root/proc" &&
    mount -t sysfs sysfs "$root/sys" && mount --rbind /dev "$root/dev" &&
    mount -t tmpfs tmpfs "$root/run" || exit 1
  exec chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
    DEBIAN_FRONTEND=noninteractive sh -c "
      apt-get install -y -q --no-install-recommends /tmp/debs/*.deb >/tmp/apt.log 2>&1 ||
        { tail -n 40 /tmp/apt.log; exit 1; }
      sh /tmp/installed_packages.sh"' sh "$work/root" >"$work/checks.log" 2>&1 ||
  { cat "$work/checks.log"; fail "checks inside the root (log: $work/checks.log)"; }
cat "$work/checks.log"
wait "$lintian_job" || { grep -v '^N:' "$work/lintian.log"; fail "lintian reports errors or warnings"; }
grep -v '^N:' "$work/lintian.log" | grep -v 'running with root privileges' || true
rm -rf --one-file-system "$work/root"
step "packages: ok"

#!/usr/bin/env bash
# Installs what is missing (as root, from Debian's packages), builds the
# 64-bit and the 32-bit driver with every tool and test, and runs all tests.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake g++ g++-multilib googletest libgtest-dev libbenchmark-dev qemu-user python3 binutils
          iproute2 util-linux valgrind)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages: ${missing[*]} (run as root, or: sudo apt-get install ${missing[*]})" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi

werror=OFF
[ "${CI:-}" = "true" ] && werror=ON
jobs=$(nproc)

for preset in default m32; do
  echo "==== $preset: configure and build"
  cmake --preset "$preset" -DBRELK_WERROR="$werror" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done
for preset in default m32; do
  echo "==== $preset: test"
  ctest --preset "$preset"
done

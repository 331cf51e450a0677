#!/usr/bin/env bash
# Installs every Debian 12 package that building, running and testing Quillon
# needs. Safe to run again: when every package is already installed it does
# nothing and returns at once. Needs root (or sudo) for apt-get.
set -euo pipefail

PACKAGES=(
  # native (Linux) build
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev libboost1.81-dev libcurl4-openssl-dev libnl-route-3-dev
  libcpp-httplib-dev libc-ares-dev
  # tests
  googletest libgtest-dev libgmock-dev dnsmasq-base iproute2 util-linux strace
  # the router export's test: the nft that loads the exported file
  nftables
  # the Debian package and its test (its post-install step runs addgroup);
  # useradd and groupadd make the route helper's test users
  dpkg-dev file libcap2-bin desktop-file-utils adduser passwd
  # fuzz targets (fuzz/run.sh): clang with libFuzzer and the sanitizer
  # runtimes; llvm-14 has the symbolizer for readable crash reports
  clang-14 libclang-rt-14-dev llvm-14
  # Windows cross build and its tests under Wine
  g++-mingw-w64-x86-64 wine64 locales
  # screenshots and the run command without a display; xdotool answers the
  # notice box on the virtual display (scripts/demo.sh)
  xvfb xauth imagemagick fonts-wqy-microhei x11-utils xdotool
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#PACKAGES[@]} packages present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "install-deps: done"

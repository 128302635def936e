#!/usr/bin/env bash
# Installs every Debian package the project needs to build, run, test and benchmark.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ pkg-config
  # capture (libpcap) and raising capture capabilities (libcap; setcap, getcap)
  libpcap-dev libcap-dev libcap2-bin
  # user interface (and the X connection asked before Qt starts), sound
  qt6-base-dev qt6-base-dev-tools libgl-dev libxcb1-dev libsndfile1-dev libasound2-dev
  # tests and benchmarks (the private Qt headers let a widget test switch accessibility on)
  libgtest-dev libgmock-dev libbenchmark-dev qt6-base-private-dev
  # fuzz targets (libFuzzer and the sanitizer runtimes come with clang's runtime package)
  clang-14 libclang-rt-14-dev
  # real peers, and a display with a window manager and real input for the window tests
  nginx curl iproute2 util-linux tcpdump tshark fonts-dejavu-core xvfb xauth xdotool openbox
  x11-utils
  # a database that loads the JSON Lines records (its own server, started by a test)
  clickhouse-server clickhouse-client
  # the manual page's check (groff), the benchmarks' wall time and peak memory (time)
  groff-base time
)

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -q
  "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

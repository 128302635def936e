#!/usr/bin/env bash
# Installs the Debian packages the project needs. Safe to run again: apt-get skips what is
# already there.
#   install-deps.sh run      building and running the program (scripts/run.sh)
#   install-deps.sh package  that, and making its Debian package (scripts/package.sh)
#   install-deps.sh [all]    everything: that, the tests, benchmarks, fuzz targets, their
#                            peers and the package's checks (scripts/test.sh)
set -euo pipefail

set_name=${1:-all}

run_packages=(
  # build
  cmake ninja-build g++ pkg-config
  # capture (libpcap) and raising capture capabilities (libcap; setcap, getcap)
  libpcap-dev libcap-dev libcap2-bin
  # TLS decryption (OpenSSL's libcrypto) and HTTP/2 header decoding (libnghttp2) in File Sniffer Mode
  libssl-dev libnghttp2-dev
  # user interface (and the X connection asked before Qt starts), sound
  qt6-base-dev qt6-base-dev-tools libgl-dev libxcb1-dev libsndfile1-dev libasound2-dev
  # the letters of the program's images, and a virtual display for a machine without one
  fonts-dejavu-core xvfb xauth
)
package_packages=(
  # the package's run-time dependencies (dpkg-shlibdeps reads the binaries' types with file)
  dpkg-dev file
)
test_packages=(
  # tests and benchmarks (the private Qt headers let a widget test switch accessibility on)
  libgtest-dev libgmock-dev libbenchmark-dev qt6-base-private-dev
  # fuzz targets (libFuzzer and the sanitizer runtimes come with clang's runtime package)
  clang-14 libclang-rt-14-dev
  # real peers, and a display with a window manager and real input for the window tests
  nginx curl openssl iproute2 util-linux tcpdump tshark xdotool openbox x11-utils
  # a database that loads the JSON Lines records (its own server, started by a test)
  clickhouse-server clickhouse-client
  # the manual page's check (groff, man), the benchmarks' wall time and peak memory (time)
  groff-base man-db time
  # the package's checks (scripts/test-package.sh)
  lintian desktop-file-utils appstream
)

case "$set_name" in
  run) packages=("${run_packages[@]}") ;;
  package) packages=("${run_packages[@]}" "${package_packages[@]}") ;;
  all) packages=("${run_packages[@]}" "${package_packages[@]}" "${test_packages[@]}") ;;
  *)
    echo "usage: install-deps.sh [run|package|all]" >&2
    exit 2
    ;;
esac

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

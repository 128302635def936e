#!/usr/bin/env bash
# Makes the Debian package quillharbour-sniffer_1.5-1_amd64.deb in the project's folder.
#   package.sh [build-folder]
# Without a folder it builds the program alone for release in build-package/. A folder that
# already holds a configured build (build/ after scripts/test.sh) is packaged as it is, so
# the program is not built twice; CPack strips the installed executable either way.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh package
build_dir=${1:-build-package}
if [ ! -f "$build_dir/CMakeCache.txt" ]; then
  cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQHS_PROGRAM_ONLY=ON
fi
cmake --build "$build_dir" --target qhs_app qhs_installed_files
rm -rf "$build_dir/package"
(cd "$build_dir" && cpack -G DEB)
deb=quillharbour-sniffer_1.5-1_amd64.deb
cp "$build_dir/package/$deb" "$deb"
echo "package.sh: $deb ($(du -k "$deb" | cut -f1) KiB)"

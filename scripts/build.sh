#!/usr/bin/env bash
# Configures and builds into build/ (or the folder given as the first argument); any
# further arguments go to CMake's configure step.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build}
shift || true
cmake -S . -B "$build_dir" -G Ninja "$@"
cmake --build "$build_dir"

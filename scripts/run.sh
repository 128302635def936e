#!/usr/bin/env bash
# Installs what the program needs, builds it and starts it with any arguments given.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
./scripts/build.sh build
exec ./build/src/QuillharbourSnifferV1.5.exe "$@"

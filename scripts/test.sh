#!/usr/bin/env bash
# Installs what the project needs, builds everything and runs the whole test suite.
# Run it as root so the capture tests can open packet sockets (they skip otherwise).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
./scripts/build.sh build
ctest --test-dir build --output-on-failure -j "$(nproc)"

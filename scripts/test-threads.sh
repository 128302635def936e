#!/usr/bin/env bash
# Builds the window-free layers and their tests with ThreadSanitizer in build-tsan/ and runs
# them; any data race it reports fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
./scripts/build.sh build-tsan -DQHS_CORE_ONLY=ON -DQHS_SANITIZE_THREAD=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1"
ctest --test-dir build-tsan --output-on-failure -j "$(nproc)"

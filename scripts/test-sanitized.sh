#!/usr/bin/env bash
# Builds the window-free layers and their tests with AddressSanitizer and
# UndefinedBehaviorSanitizer in build-sanitize/ and runs them.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
./scripts/build.sh build-sanitize -DQHS_CORE_ONLY=ON -DQHS_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build-sanitize --output-on-failure -j "$(nproc)"

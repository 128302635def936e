#!/usr/bin/env bash
# Builds the program and every test with AddressSanitizer and UndefinedBehaviorSanitizer in
# build-sanitize/ and runs them, window tests included (Qt itself is not instrumented).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
./scripts/build.sh build-sanitize -DQHS_CORE_ONLY=OFF -DQHS_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
# A request beyond the sanitizer's limit fails as malloc does rather than ending the run: tests
# ask for images too large for any memory to check that the failure is reported.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build-sanitize --output-on-failure -j "$(nproc)"

#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/ and runs each one for the given
# number of seconds (default 30) on a scratch copy of its seed corpus, so the committed
# corpus never grows. Fails when any target finds a crash or a broken property.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
jobs=${QHS_FUZZ_JOBS:-2}
./scripts/install-deps.sh
CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -G Ninja \
  -DQHS_CORE_ONLY=ON -DQHS_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build-fuzz -j "$jobs"

targets=(fuzz_datagram_detail fuzz_ipv6_view fuzz_tls_records fuzz_tls_connection fuzz_http2_frames
         fuzz_packet_filter fuzz_http_response fuzz_stream_table fuzz_settings_file
         fuzz_port_list fuzz_install_registry fuzz_version_reply fuzz_capture_file)
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
failed=()
for target in "${targets[@]}"; do
  scratch=build-fuzz/corpus/$target
  findings=build-fuzz/findings/$target
  rm -rf "$scratch" "$findings"
  mkdir -p "$scratch" "$findings"
  cp -R "fuzz/corpus/$target/." "$scratch/"
  log=build-fuzz/findings/$target.log
  status=0
  # A settings record is 20668 bytes, so inputs may grow past libFuzzer's default limit.
  "build-fuzz/fuzz/$target" -max_total_time="$seconds" -max_len=70000 -timeout=10 \
    -rss_limit_mb=4096 -print_final_stats=1 -artifact_prefix="$findings/" \
    "$scratch" >"$log" 2>&1 || status=$?
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  if [ "$status" -ne 0 ]; then
    failed+=("$target")
    echo "$target: FAILED after ${executions:-?} executions (exit $status), see $log"
    grep -E 'ERROR|property broken|SUMMARY|Test unit written' "$log" | head -n 20 || true
  else
    echo "$target: ${executions:-?} executions, no crash"
  fi
done

if [ "${#failed[@]}" -gt 0 ]; then
  echo "Fuzz targets that found a fault: ${failed[*]}"
  exit 1
fi

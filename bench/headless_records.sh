#!/usr/bin/env bash
# Reading a capture file from the command line and writing every record with hex data,
# beside tcpdump -r FILE -x on the same file, both into /dev/null; prints each one's bytes of
# output, the times of farm-bench and the MB/s of output at the median wall time.
#   bench/headless_records.sh FILE [runs]
# A million-packet FILE comes from: sudo build/bench/bench_capture_file_open 1000000 FILE
set -euo pipefail
cd "$(dirname "$0")/.."
file=${1:?a capture file}
runs=${2:-3}
program=build/src/QuillharbourSnifferV1.5.exe
ours_bytes=$("$program" -sniff -r "$file" -x 2>/dev/null | wc -c)
tcpdump_bytes=$(tcpdump -r "$file" -x 2>/dev/null | wc -c)
echo "output: ours $ours_bytes bytes, tcpdump $tcpdump_bytes bytes"
report=$(farm-bench -n "$runs" --timeout 3000 \
  --vs "sh -c 'exec tcpdump -r \"$file\" -x >/dev/null 2>&1'" -- \
  sh -c "exec $program -sniff -r \"$file\" -x -out /dev/null >/dev/null 2>&1")
echo "$report"
median() { echo "$report" | awk -v row="$1 wall s" '$0 ~ "^" row { print $(NF-1) }'; }
awk -v a="$ours_bytes" -v b="$tcpdump_bytes" -v ta="$(median A)" -v tb="$(median B)" \
  'BEGIN { printf "MB/s of output: ours %.0f, tcpdump %.0f\n", a / ta / 1e6, b / tb / 1e6 }'

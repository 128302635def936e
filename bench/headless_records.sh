#!/usr/bin/env bash
# Reading a capture file from the command line and writing every record with hex data, beside
# tcpdump and tshark doing the same, each into /dev/null: the wall time and peak memory of
# each, measured with /usr/bin/time in the same run, on the same file.
#   bench/headless_records.sh [packets] [runs]
# packets (default 5000000): the file, made once by build/bench/bench_make_capture_file in
# $QHS_BENCH_DIR (default /tmp/qhs-bench) and kept for the next run: varied TCP and UDP
# datagrams of 0 to 1400 bytes of payload, about 680 bytes a packet with its headers.
# runs (default 3): how often ours and tcpdump run, in turns; tshark, much slower, runs once,
# and when it takes over $TSHARK_LIMIT seconds (default 600) on the whole file, on its first
# million packets instead, its time scaled to the whole file.
# Needs: cmake --build build --target QuillharbourSnifferV1.5.exe bench_make_capture_file
set -euo pipefail
cd "$(dirname "$0")/.."
packets=${1:-5000000}
runs=${2:-3}
tshark_limit=${TSHARK_LIMIT:-600}
program=build/src/QuillharbourSnifferV1.5.exe
maker=build/bench/bench_make_capture_file
folder=${QHS_BENCH_DIR:-/tmp/qhs-bench}
file=$folder/records-$packets.pcap

mkdir -p "$folder"
if [ ! -s "$file" ]; then
  echo "making $file ($packets packets)"
  "$maker" "$packets" "$file.part" && mv "$file.part" "$file"
fi
echo "file: $file, $packets packets, $(($(stat -c %s "$file") / 1000000)) MB"

ours=("$program" -sniff -r "$file" -x)
tcpdump=(tcpdump -n -r "$file" -x)
tshark=(tshark -n -r "$file" -x)

# Bytes of output per packet, on the first 100,000 packets (or all there are).
sample=$((packets < 100000 ? packets : 100000))
for name in ours tcpdump tshark; do
  declare -n command=$name
  bytes=$("${command[@]}" -c "$sample" 2>/dev/null | wc -c)
  echo "output: $name $((bytes / sample)) bytes a packet"
done

# One timed run, its output into /dev/null: "wall-seconds peak-kB cpu-seconds".
timed() {
  local result
  result=$(mktemp)
  /usr/bin/time -f "%e %M %U %S" -o "$result" "$@" >/dev/null 2>/dev/null || true
  tail -n 1 "$result" | awk '{ printf "%s %s %.2f\n", $1, $2, $3 + $4 }'
  rm -f "$result"
}

declare -A walls peaks
for ((run = 1; run <= runs; ++run)); do
  for name in ours tcpdump; do
    declare -n command=$name
    read -r wall peak cpu < <(timed "${command[@]}")
    echo "run $run: $name $wall s, $cpu CPU s, $((peak / 1024)) MB peak"
    walls[$name]+="$wall "
    peaks[$name]+="$peak "
  done
done

scale=1
read -r wall peak cpu < <(timed timeout "$tshark_limit" "${tshark[@]}")
if awk -v w="$wall" -v l="$tshark_limit" 'BEGIN { exit !(w >= l - 1) }'; then
  prefix=$((packets < 1000000 ? packets : 1000000))
  echo "tshark: over $tshark_limit s on the whole file; timed on its first $prefix packets"
  read -r wall peak cpu < <(timed "${tshark[@]}" -c "$prefix")
  scale=$(awk -v p="$packets" -v f="$prefix" 'BEGIN { print p / f }')
fi
echo "run 1: tshark $wall s, $cpu CPU s, $((peak / 1024)) MB peak (x $scale for the whole file)"
walls[tshark]=$(awk -v w="$wall" -v s="$scale" 'BEGIN { printf "%.2f", w * s }')
peaks[tshark]=$peak

# The median wall time and the highest peak of each.
median() {
  tr ' ' '\n' <<<"$1" | grep . | sort -g |
    awk '{ v[NR] = $1 } END { printf "%.2f\n", (v[int((NR + 1) / 2)] + v[int(NR / 2) + 1]) / 2 }'
}
highest() { tr ' ' '\n' <<<"$1" | grep . | sort -g | tail -n 1; }
for name in ours tcpdump tshark; do
  echo "$name: $(median "${walls[$name]}") s, $(($(highest "${peaks[$name]}") / 1024)) MB peak"
done
awk -v a="$(median "${walls[ours]}")" -v b="$(median "${walls[tcpdump]}")" \
  -v c="${walls[tshark]}" 'BEGIN { printf "ours is %.1fx as fast as tcpdump, %.1fx as tshark\n", b / a, c / a }'

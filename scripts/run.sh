#!/usr/bin/env bash
# Installs what building and running the program need, builds the program alone into
# build-run/ and starts it with any arguments given. The tests build their own copy in build/
# (scripts/test.sh), so nothing done here changes what they run.
# The built program may capture without root: it gets CAP_NET_RAW as a file capability, and
# only the owner and the members of the group quillharbour-capture may run it (sudo usermod
# -aG quillharbour-capture NAME lets a user in from their next login).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh run
cmake -S . -B build-run -G Ninja -DQHS_PROGRAM_ONLY=ON
cmake --build build-run --target qhs_app
program=./build-run/src/QuillharbourSnifferV1.5.exe
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
group=quillharbour-capture
getent group "$group" > /dev/null || "${sudo_cmd[@]}" groupadd --system "$group"
# A change of group drops file capabilities, so they are set last.
"${sudo_cmd[@]}" chgrp "$group" "$program"
"${sudo_cmd[@]}" chmod 0750 "$program"
"${sudo_cmd[@]}" setcap cap_net_raw=p "$program" ||
  echo "run.sh: the file system does not take file capabilities; capture needs root" >&2
exec "$program" "$@"

#!/usr/bin/env bash
# The Debian package as a user meets it. Builds it (scripts/package.sh; a build folder given
# is packaged as it is built), checks it with lintian (no error), installs it with apt-get,
# checks the installed desktop entry, AppStream data and manual page, runs the installed
# command as a member of the capture group (a capture file, then a live capture on lo) and as
# someone outside the group, purges the package and checks that nothing it installed or made
# is left.
#   test-package.sh [build-folder]
# Run as root on a machine where the package is not installed: it installs and purges it and
# makes two throw-away users. A capture group that is already there is taken away for the
# test and put back afterwards, with its id and members.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS

name=quillharbour-sniffer
group=quillharbour-capture
program=/usr/libexec/$name/QuillharbourSnifferV1.5.exe
desktop_entry=/usr/share/applications/example.quillharbour.sniffer.desktop
metainfo=/usr/share/metainfo/example.quillharbour.sniffer.metainfo.xml
manual=/usr/share/man/man1/$name.1.gz
export DEBIAN_FRONTEND=noninteractive
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin

if [ "$(id -u)" -ne 0 ]; then
  echo "test-package.sh: run it as root: it installs and removes the package" >&2
  exit 1
fi
installed() { dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -q 'ok installed'; }
if installed; then
  echo "test-package.sh: $name is installed on this machine; purge it first" >&2
  exit 1
fi

./scripts/install-deps.sh
./scripts/package.sh "$@"
deb=$PWD/${name}_1.5-1_amd64.deb

failures=0
pass() { echo "ok: $1"; }
fail() {
  echo "FAILED: $1" >&2
  failures=$((failures + 1))
}
# expect WHAT ACTUAL EXPECTED
expect() {
  if [ "$2" = "$3" ]; then pass "$1"; else fail "$1: got \"$2\", expected \"$3\""; fi
}

scratch=$(mktemp -d)
chmod 0755 "$scratch"
member=qhs-pkg-member-$$
outsider=qhs-pkg-outsider-$$
earlier_group=$(getent group "$group" || true)
cleanup() {
  for user in "$member" "$outsider"; do
    if getent passwd "$user" > /dev/null; then userdel "$user" || true; fi
  done
  rm -rf "$scratch"
  if installed; then apt-get purge -y -q "$name" > /dev/null || true; fi
  if [ -n "$earlier_group" ] && ! getent group "$group" > /dev/null; then
    IFS=: read -r _ _ gid members <<< "$earlier_group"
    groupadd --system --gid "$gid" "$group"
    if [ -n "$members" ]; then gpasswd -M "$members" "$group" > /dev/null; fi
  fi
}
trap cleanup EXIT
if [ -n "$earlier_group" ]; then
  echo "test-package.sh: taking the existing group $group away for the test: $earlier_group"
  groupdel "$group"
fi

echo "== lintian"
lintian_report=$(lintian --display-info --tag-display-limit 0 "$deb" 2>&1 | grep -v '^running with root privileges' || true)
echo "${lintian_report:-(nothing)}"
if grep -q '^E: ' <<< "$lintian_report"; then fail "lintian reports errors"; else pass "lintian: no error"; fi

# The files and folders the package holds, and which folders were there before it.
mapfile -t package_paths < <(dpkg-deb --fsys-tarfile "$deb" | tar -t | sed -e 's|^\./|/|' -e 's|/$||' | grep -v '^/\?$')
declare -A existed_before
for path in "${package_paths[@]}"; do
  if [ -e "$path" ]; then existed_before[$path]=1; fi
done

echo "== install"
apt-get install -y -q "$deb"
if installed; then pass "installed"; else fail "not installed"; fi
expect "the command on PATH" "$(command -v "$name" || true)" "/usr/bin/$name"
expect "the group" "$(getent group "$group" | cut -d: -f1)" "$group"
expect "owner, group and mode" "$(stat -c '%U:%G %a' "$program")" "root:$group 750"
expect "the capability" "$(getcap "$program")" "$program cap_net_raw=p"
expect "desktop-file-validate" "$(desktop-file-validate "$desktop_entry" 2>&1; echo "rc=$?")" "rc=0"
appstream_report=$(appstreamcli validate --no-net "$metainfo" 2>&1) && appstream_rc=0 || appstream_rc=$?
echo "$appstream_report"
expect "appstreamcli validate" "$appstream_rc" 0
expect "man --warnings" "$(man --warnings -l "$manual" 2>&1 > /dev/null)" ""
expect "man finds the page" "$(man -w "$name")" "$manual"

echo "== run as a member of $group and as someone outside it"
useradd --system --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin \
  --groups "$group" "$member"
useradd --system --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin "$outsider"
cp examples/download.pcap "$scratch/"
chmod 0644 "$scratch/download.pcap"
as_user() { (cd "$scratch" && runuser -u "$1" -- env PATH="$PATH" "${@:2}"); }

run_rc=0
run_err=$(as_user "$member" "$name" -sniff -r download.pcap -q 2>&1) || run_rc=$?
expect "a member reads a capture file" "$run_rc: $run_err" \
  "0: 10 packets received, 10 accepted, 0 dropped by the system"

# A live capture on lo: datagrams are sent until the run has taken one.
as_user "$member" timeout 30 "$name" -sniff -i lo -c 1 -q udp port 40719 2> "$scratch/live.err" &
live=$!
for _ in $(seq 150); do
  kill -0 "$live" 2> /dev/null || break
  echo probe 2> /dev/null > /dev/udp/127.0.0.1/40719 || true
  sleep 0.2
done
live_rc=0
wait "$live" || live_rc=$?
expect "a member captures on lo without root" "$live_rc: $(cat "$scratch/live.err")" \
  "0: listening on lo
1 packets received, 1 accepted, 0 dropped by the system"

outsider_rc=0
as_user "$outsider" "$name" -sniff --version > /dev/null 2>&1 || outsider_rc=$?
expect "someone outside the group may not run it" "$outsider_rc" 126

# Root's system-wide settings, as a run of the windows as root leaves them.
touch "${program%.exe}.QHS"

echo "== purge"
apt-get purge -y -q "$name"
if installed; then fail "still installed"; else pass "purged"; fi
if getent group "$group" > /dev/null; then fail "the group $group is left"; else pass "the group is gone"; fi
expect "no owner and mode override" "$(dpkg-statoverride --list "$program" || true)" ""
left=()
for path in "${package_paths[@]}" "${program%.exe}.QHS" /var/lib/$name; do
  if [ -e "$path" ] && [ -z "${existed_before[$path]:-}" ]; then left+=("$path"); fi
done
expect "nothing the package installed or made is left" "${left[*]}" ""

echo "test-package.sh: $(du -k "$deb" | cut -f1) KiB package, $((SECONDS - started)) s"
if [ "$failures" -gt 0 ]; then
  echo "test-package.sh: $failures check(s) failed" >&2
  exit 1
fi
echo "test-package.sh: all checks passed"

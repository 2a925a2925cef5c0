#!/usr/bin/env bash
# The installed systemd unit passes systemd-analyze verify against the
# installed program and manual pages, and runs the boot the way the host's
# boot needs it.
#
#   systemd_unit_test.sh <install root>   (a DESTDIR install or an unpacked package)
set -uo pipefail
source "$(dirname "$0")/check.sh"
root=${1:?usage: systemd_unit_test.sh <install root>}
unit=$root/usr/lib/systemd/system/bootcrank.service
command -v systemd-analyze >/dev/null || { echo "SKIP: systemd-analyze missing"; exit 77; }
[[ -f $unit ]] || { echo "no unit at $unit" >&2; exit 1; }

# systemd-analyze resolves the unit's dependencies (sysinit.target, ...) and
# its ExecStart below --root, so verify in a scratch root made of the host's
# own units plus the installed files; the install root stays untouched.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
units=$scratch/usr/lib/systemd/system
mkdir -p "$units" "$scratch/usr/sbin"
for dir in /usr/lib/systemd/system /lib/systemd/system; do
  [[ -d $dir ]] && cp -a "$dir/." "$units/" 2>/dev/null
done
[[ -f $units/multi-user.target ]] || { echo "SKIP: no systemd units on this host"; exit 77; }
cp "$unit" "$units/"
cp -a "$root/usr/sbin/bootcrank" "$scratch/usr/sbin/"

verify() {  # verify <unit file>: prints what systemd-analyze says, then its status
  (cd "$scratch" && MANPATH=$root/usr/share/man SYSTEMD_LOG_COLOR=0 SYSTEMD_LOG_TARGET=console \
    systemd-analyze verify --root="$scratch" "$1" 2>&1; echo "status $?")
}
check "systemd-analyze verify accepts the unit" "status 0" "$(verify "$units/bootcrank.service")"

# The verification itself catches a broken unit: a misspelt setting and a
# program that is not there.
sed 's/^Type=oneshot$/Type=oneshoot/' "$unit" >"$units/broken-type.service"
out=$(verify "$units/broken-type.service")
check "verify reports a bad setting" yes \
  "$(grep -q 'Failed to parse service type' <<<"$out" && echo yes)"
sed 's|^ExecStart=/usr/sbin/bootcrank|ExecStart=/usr/sbin/bootcrank-missing|' "$unit" \
  >"$units/broken-exec.service"
out=$(verify "$units/broken-exec.service")
check "verify reports a missing program" yes \
  "$(grep -q 'is not executable' <<<"$out" && echo yes)"

# How the boot runs: once, after the local file systems, before the
# multi-user target, with the run-time directory that holds the executor's
# control socket (/var/run/quarro is /run/quarro).
value() { sed -n "s/^$1=//p" "$unit"; }
check "ExecStart" "/usr/sbin/bootcrank --init --parallel" "$(value ExecStart)"
check "Type" oneshot "$(value Type)"
check "RemainAfterExit" yes "$(value RemainAfterExit)"
check "After" local-fs.target "$(value After)"
check "Before" multi-user.target "$(value Before)"
check "WantedBy" multi-user.target "$(value WantedBy)"
check "RuntimeDirectory" quarro "$(value RuntimeDirectory)"
check "ExecStart names the installed program" yes \
  "$([[ -x $root$(value ExecStart | cut -d' ' -f1) ]] && echo yes)"

finish

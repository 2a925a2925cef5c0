#!/usr/bin/env bash
# The installed systemd unit passes systemd-analyze verify (which does catch
# a broken unit).
#   systemd_unit_test.sh <install root>   (a DESTDIR install or an unpacked package)
set -uo pipefail
source "$(dirname "$0")/check.sh"
root=${1:?usage: systemd_unit_test.sh <install root>}
unit=$root/usr/lib/systemd/system/bootcrank.service
command -v systemd-analyze >/dev/null || { echo "SKIP: systemd-analyze missing"; exit 77; }
[[ -f $unit ]] || { echo "no unit at $unit" >&2; exit 1; }
# verify resolves dependencies and ExecStart below --root: a scratch root of
# the host's units plus the installed files.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
units=$scratch/usr/lib/systemd/system
boot=usr/lib/quarro/bootcrank/boot
mkdir -p "$units" "$scratch/usr/sbin" "$scratch/${boot%/*}"
for dir in /usr/lib/systemd/system /lib/systemd/system; do [[ -d $dir ]] && cp -a "$dir/." "$units/" 2>/dev/null; done
[[ -f $units/multi-user.target ]] || { echo "SKIP: no systemd units on this host"; exit 77; }
cp "$unit" "$units/" && cp -a "$root/usr/sbin/bootcrank" "$scratch/usr/sbin/" && cp -a "$root/$boot" "$scratch/$boot"
sed "s|^ExecStart=/$boot |ExecStart=/$boot-missing |" "$unit" >"$units/broken.service"
verify() {
  (cd "$scratch" && MANPATH=$root/usr/share/man SYSTEMD_LOG_COLOR=0 SYSTEMD_LOG_TARGET=console \
    systemd-analyze verify --root="$scratch" "$units/$1" 2>&1; echo "status $?")
}
check "systemd-analyze verify accepts the unit" "status 0" "$(verify bootcrank.service)"
check "verify reports a missing program" yes "$(verify broken.service | yes_if grep 'is not executable')"
finish

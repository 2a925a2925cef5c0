#!/usr/bin/env bash
# Builds the Debian package with cpack and checks it as a host meets it: file
# layout, lintian, and install, boot and purge with dpkg below a scratch
# root (the pages and unit are checked on the install by their own tests).
#   deb_test.sh <build dir> <expected version>
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/check.sh"
build=${1:?usage: deb_test.sh <build dir> <expected version>}
version=${2:?usage: deb_test.sh <build dir> <expected version>}
command -v cpack dpkg dpkg-deb lintian >/dev/null || { echo "cpack, dpkg or lintian missing (scripts/install-deps)" >&2; exit 1; }
export LC_ALL=C.UTF-8
scratch=$(mktemp -d)
trap cleanup EXIT

cpack --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log" >&2; echo "cpack failed" >&2; exit 1; }
deb=$scratch/out/bootcrank_${version}_$(dpkg --print-architecture).deb
[[ -f $deb ]] || { ls "$scratch/out" >&2; echo "no package $deb" >&2; exit 1; }

# The host layout and nothing else.
entries=$(dpkg-deb -c "$deb" | awk '{ print $1, $6 }' | sed 's| \./| /|')
files=$(awk '$1 !~ /^d/ { print $2 }' <<<"$entries" | sort)
check "packaged files" "$(sort <<'EOF2'
/usr/include/bootcrank/hvcli_extension.h
/usr/include/bootcrank/native_plugin.h
/usr/lib/quarro/bootcrank/boot
/usr/lib/quarro/bootcrank/hvcliExecutor
/usr/lib/quarro/bootcrank/initScriptLister
/usr/lib/quarro/bootcrank/nativeExecutor
/usr/lib/quarro/hvcli/hvcli_core.so
/usr/lib/systemd/system/bootcrank.service
/usr/sbin/bootcrank
/usr/sbin/bootcrank-analyze
/usr/share/bash-completion/completions/bootcrank
/usr/share/bash-completion/completions/bootcrank-analyze
/usr/share/doc/bootcrank/changelog.Debian.gz
/usr/share/doc/bootcrank/copyright
/usr/share/man/man5/bootcrank-plugins.5.gz
/usr/share/man/man5/bootcrank-record.5.gz
/usr/share/man/man8/bootcrank-analyze.8.gz
/usr/share/man/man8/bootcrank.8.gz
EOF2
)" "$files"
check "the empty plugin directory is packaged" yes "$(yes_if grep -qx 'd.* /usr/libexec/bootcrank/plugins/' <<<"$entries")"

# lintian: no errors; a warning that is not known fails so it gets looked at
# (the package is not uploaded to Debian, so no bug closes its first upload).
lintian --tag-display-limit 0 "$deb" >"$scratch/lintian" 2>&1
check "lintian: no error, no unknown warning" "" "$(grep '^[EW]: ' "$scratch/lintian" | grep -v initial-upload-closes-no-bugs)"

run() {  # run <root> <program below it> <args...>: the status; standard output in run.out
  env -i PATH=/usr/bin:/bin BOOTCRANK_ROOT="$1" timeout -k 5 60 "$1/$2" "${@:3}" \
    </dev/null >"$scratch/run.out" 2>"$scratch/run.err"
  echo $?
}

# dpkg below a scratch root, with chrootless maintainer scripts (which honour
# DPKG_ROOT): the host's own dpkg database stays untouched.
host=$scratch/host
mkdir -p "$host/var/lib/dpkg/info" "$host/var/lib/dpkg/updates" "$host/var/log" "$host/run" \
  "$host/bootbank" "$host/dev" "$host/etc/quarro/bootcrank" "$host/etc/init.d" "$host/etc/rc2.d"
: >"$host/var/lib/dpkg/status"
: >"$host/dev/kmsg"
ln -s ../run "$host/var/run"
# One SysV init script, enabled in runlevel 2, for daemon mode to start.
printf '#!/bin/sh\n### BEGIN INIT INFO\n# Provides: hello\n### END INIT INFO\necho "$1" >%s\n' \
  "$host/run/hello.ran" >"$host/etc/init.d/hello"
chmod 755 "$host/etc/init.d/hello"
ln -s ../init.d/hello "$host/etc/rc2.d/S01hello"
snapshot() { (cd "$host" && find . ! -path './var/lib/dpkg*' | sort); }
before=$(snapshot)
dpkg_root() {
  dpkg --root="$host" --log=/dev/null --force-depends --force-script-chrootless --force-not-root "$@" \
    >"$scratch/dpkg.log" 2>&1 || cat "$scratch/dpkg.log" >&2
}
dpkg_root --install "$deb"
check "dpkg installs the package" ii \
  "$(dpkg-query --admindir="$host/var/lib/dpkg" -W -f='${db:Status-Abbrev}' bootcrank | tr -d ' ')"
boot=usr/lib/quarro/bootcrank/boot
check "the unit's boot script boots the scratch host" 0 "$(run "$host" $boot --init --parallel)"
check "the first boot warns that there is no run-once record" yes "$(yes_if grep -q 'no run-once record' "$scratch/run.err")"
check "the boot left its profiling log and run-once record" yes \
  "$([[ -s $host/var/log/sysboot.log && -s $host/bootbank/bootcrnk.gz ]] && echo yes)"
check "the second boot takes the record without a warning" "0 " "$(run "$host" $boot --init --parallel) $(cat "$scratch/run.err")"
check "daemon mode starts the host's init scripts through the shipped lister" "0 start" \
  "$(run "$host" usr/sbin/bootcrank --daemon=wait --method=start) $(cat "$host/run/hello.ran")"
rm -f "$host/run/hello.ran"
check "no process of the installed package is left running" "" "$(leftovers "$host")"
dpkg_root --purge bootcrank
check "dpkg --purge leaves the scratch root as it found it" "$before" "$(snapshot)"
finish

#!/bin/sh
# Starts the host's boot: runs bootcrank with the options given here (the unit
# gives "--init --parallel") and, in one --run-once option, the run-once keys
# that must hold across boots: those of the previous boot's run-once record
# and those of every "bootcrank.run-once=" option on the kernel command line.
# bootcrank rewrites the record after a boot but does not read it in init
# mode, so without this a run-once plugin would run at every boot.
#
#   boot [bootcrank option...]
#
# Like bootcrank it reads the host below BOOTCRANK_ROOT when that holds an
# absolute path, and it runs the bootcrank of its own install layout
# (<prefix>/lib/quarro/bootcrank/boot -> <prefix>/sbin/bootcrank), so that it
# boots a sandbox root as it boots the host. A missing, empty or damaged
# record is a warning on standard error and gives no keys; the boot goes on.
set -u

name=bootcrank-boot
warn() { printf '%s: warning: %s\n' "$name" "$*" >&2; }

root=
case ${BOOTCRANK_ROOT:-} in
/*) root=${BOOTCRANK_ROOT%"${BOOTCRANK_ROOT##*[!/]}"} ;;
esac

here=$(cd "$(dirname "$0")" && pwd) || exit 1
program=${here%/lib/quarro/bootcrank}/sbin/bootcrank
if [ "$program" = "$here/sbin/bootcrank" ] || [ ! -x "$program" ]; then
  printf '%s: cannot find bootcrank beside %s (expected %s)\n' "$name" "$here" "$program" >&2
  exit 1
fi

# The keys of a comma list (stdin, which starts with "bootcrank.run-once="
# when $1 is "record"): each piece trimmed of white space, empty pieces
# dropped, joined by commas; the record's reader in bootcrank does the same.
# Exits 3 when a record lacks the prefix.
keys_of() {
  awk -v kind="$1" -v prefix=bootcrank.run-once= 'BEGIN { RS = "," }
    NR == 1 && kind == "record" {
      if (substr($0, 1, length(prefix)) != prefix) { bad = 1; exit 3 }
      $0 = substr($0, length(prefix) + 1)
    }
    { gsub(/^[[:space:]]+|[[:space:]]+$/, "") }
    $0 != "" { keys = keys sep $0; sep = "," }
    END { if (!bad && keys != "") print keys }'
}

# The keys of the previous boot's record, if it is sound.
record_keys() {
  record=$root/bootbank/bootcrnk.gz
  if [ ! -e "$record" ] && [ ! -L "$record" ]; then
    warn "no run-once record $record (first boot?): no run-once keys from it"
  elif [ ! -f "$record" ]; then
    warn "run-once record $record is not a regular file: no run-once keys from it"
  elif [ ! -s "$record" ]; then
    warn "run-once record $record is empty: no run-once keys from it"
  elif ! gzip -t <"$record" 2>/dev/null; then
    warn "run-once record $record is not intact gzip data: no run-once keys from it"
  elif ! gzip -dc <"$record" | keys_of record; then
    warn "run-once record $record does not start with bootcrank.run-once=: no run-once keys from it"
  fi
}

# The keys of every bootcrank.run-once= word of the kernel command line. As
# systemd reads it, double quotes group blanks into a word and are dropped.
cmdline_keys() {
  cmdline=$root/proc/cmdline
  [ -f "$cmdline" ] || return 0
  awk '{ line = line $0 " " }
    END {
      n = length(line)
      for (i = 1; i <= n; i++) {
        c = substr(line, i, 1)
        if (c == "\"") { quoted = !quoted; continue }
        if (!quoted && c ~ /[[:space:]]/) { take(word); word = ""; continue }
        word = word c
      }
      take(word)
    }
    function take(w) { if (index(w, "bootcrank.run-once=") == 1) print substr(w, 20) }' "$cmdline" |
    while IFS= read -r value; do printf '%s' "$value" | keys_of option; done
}

keys=$({ record_keys; cmdline_keys; } | paste -sd, -)
if [ -n "$keys" ]; then
  set -- "--run-once=$keys" "$@"
fi
exec "$program" "$@"

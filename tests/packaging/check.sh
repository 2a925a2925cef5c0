# Assertions for the packaging tests: failed checks are reported and counted.
failures=0
check() {  # check <what> <expected> <actual>
  [[ $2 == "$3" ]] && return
  printf 'FAIL: %s\n  expected: %q\n  actual:   %q\n' "$1" "$2" "$3" >&2
  failures=$((failures + 1))
}
yes_if() { "$@" >/dev/null 2>&1 && echo yes; }  # "yes" when the command succeeds
finish() { ((failures == 0)) && echo "all checks passed" || { echo "$failures check(s) failed" >&2; exit 1; }; }
leftovers() {  # the processes running a program below <dir>
  local exe
  for exe in /proc/[0-9]*/exe; do [[ $(readlink "$exe" 2>/dev/null) == "$1"/* ]] && echo "${exe%/exe}"; done
}
cleanup() {  # removes $scratch; the executor detaches from its run: end what is left, by pid
  local proc
  for proc in $(leftovers "$scratch"); do kill -9 "${proc#/proc/}" 2>/dev/null; done
  rm -rf "$scratch"
}

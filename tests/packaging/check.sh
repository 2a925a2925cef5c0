# Assertions for the packaging tests: each failed check is reported and
# counted, and `finish` ends the test with the verdict.
failures=0

# check <what> <expected> <actual>
check() {
  if [[ $2 != "$3" ]]; then
    printf 'FAIL: %s\n  expected: %q\n  actual:   %q\n' "$1" "$2" "$3" >&2
    failures=$((failures + 1))
  fi
}

# check_true <what> <command...>: the command must succeed.
check_true() {
  local what=$1
  shift
  if ! "$@"; then
    printf 'FAIL: %s (command: %s)\n' "$what" "$*" >&2
    failures=$((failures + 1))
  fi
}

finish() {
  if ((failures > 0)); then
    echo "$failures check(s) failed" >&2
    exit 1
  fi
  echo "all checks passed"
}

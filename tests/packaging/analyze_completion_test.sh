#!/usr/bin/env bash
# Drives the bash completion of bootcrank-analyze as bash does (words split
# at bash's word breaks), with the real program reading a record in a
# scratch host root.
#   analyze_completion_test.sh <completion file> <bootcrank-analyze>
set -uo pipefail
source "$(dirname "$0")/check.sh"
source "${1:?usage: analyze_completion_test.sh <completion file> <bootcrank-analyze>}"
program=${2:?usage: analyze_completion_test.sh <completion file> <bootcrank-analyze>}
check "completion registered" "complete -F _bootcrank_analyze bootcrank-analyze" "$(complete -p bootcrank-analyze 2>&1)"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/root/var/log/bootcrank"
cat >"$scratch/root/var/log/bootcrank/20261206T090000.000000Z.json" <<'JSON'
{"schema": 1, "plugins": [{"name": "storage", "started": 1, "ended": 5}, {"name": "network", "started": 5, "ended": 9},
 {"name": "ntp"}], "barriers": [{"name": "storage-ready"}]}
JSON
export BOOTCRANK_ROOT=$scratch/root
complete_words() {  # the candidates for the last word, sorted, on one line
  COMP_WORDS=("$program" "$@") COMP_CWORD=$# COMP_LINE="$program $*" COMP_POINT=${#COMP_LINE} COMPREPLY=()
  _bootcrank_analyze bootcrank-analyze "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort | paste -sd' ' -
}
check "commands" "blame critical-chain diff fleet plot report trace verify what-if" "$(complete_words "")"
check "commands by prefix" "critical-chain" "$(complete_words cr)"
check "program options" "--help --version" "$(complete_words -)"
check "critical-chain takes plugin names from the newest record" "network ntp storage" \
  "$(complete_words critical-chain "")"
check "plugin names by prefix" "network ntp" "$(complete_words critical-chain n)"
check "--duration= offers PLUGIN=" "network= ntp=" "$(complete_words what-if --duration = n)"
check "what-if options" "--dispatch-cost= --duration=" "$(complete_words what-if --d)"
check "plot options" "--help --json --output= -o" "$(complete_words plot -)"
check "records are file names" "$scratch/root/var/log/bootcrank/20261206T090000.000000Z.json" \
  "$(complete_words blame "$scratch/root/var/log/bootcrank/2")"
finish

#!/usr/bin/env bash
# Drives the bash completion of bootcrank as bash does: COMP_WORDS split at
# bash's word breaks ("--method=st" arrives as "--method" "=" "st"), the
# cursor in the last word, the plugin directory a scratch tree.
#   bash_completion_test.sh <completion file>
set -uo pipefail
source "$(dirname "$0")/check.sh"
source "${1:?usage: bash_completion_test.sh <completion file>}"
check "completion registered" "complete -F _bootcrank bootcrank" "$(complete -p bootcrank 2>&1)"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
plugins=$scratch/root/usr/libexec/bootcrank/plugins
mkdir -p "$plugins/subdir.json" "$scratch/other"
touch "$plugins"/{network.json,libstorage.so,hotfix.debug,README,notes.txt} "$scratch/other/vendor.json"
export BOOTCRANK_ROOT=$scratch/root
complete_words() {  # the candidates for the last word, sorted, on one line
  COMP_WORDS=("$@") COMP_CWORD=$(($# - 1)) COMP_LINE="$*" COMP_POINT=${#COMP_LINE} COMPREPLY=()
  _bootcrank bootcrank "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort | paste -sd' ' -
}
check "--plugin prefix" "--plugin-directory= --plugin-flags= --plugin=" "$(complete_words bootcrank --plugin)"
check "--method=st" "start stop" "$(complete_words bootcrank --method = st)"
check "--method=s in one word" "--method=start --method=stop" "$(complete_words bootcrank --method=s)"
check "--daemon=" "nowait wait" "$(complete_words bootcrank --daemon =)"
check "--plugin= lists loadable files below BOOTCRANK_ROOT" \
  "hotfix.debug libstorage.so network.json subdir.json" "$(complete_words bootcrank --plugin =)"
check "--plugin after a comma" "network.json,hotfix.debug network.json,libstorage.so network.json,subdir.json" \
  "$(complete_words bootcrank --plugin = network.json,)"
check "--disable-plugins takes names" "network storage subdir" "$(complete_words bootcrank --disable-plugins =)"
check "--plugin-directory replaces the default" "vendor.json" \
  "$(complete_words bootcrank --plugin-directory = "$scratch/other" --plugin =)"
finish

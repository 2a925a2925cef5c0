#!/usr/bin/env bash
# Drives the bash completion as bash does: words split at bash's word breaks
# ("--method=st" arrives as "--method" "=" "st"), a scratch plugin directory.
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
check "--method=st" "start stop" "$(complete_words bootcrank --method = st)"
check "--plugin= lists loadable files below BOOTCRANK_ROOT" \
  "hotfix.debug libstorage.so network.json subdir.json" "$(complete_words bootcrank --plugin =)"
check "--disable-plugins takes names" "network storage subdir" "$(complete_words bootcrank --disable-plugins =)"
check "--plugin-directory replaces the default" "vendor.json" \
  "$(complete_words bootcrank --plugin-directory = "$scratch/other" --plugin =)"
finish

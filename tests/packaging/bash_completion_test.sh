#!/usr/bin/env bash
# Drives the bash completion of bootcrank as bash does: COMP_WORDS split at
# bash's word breaks (so "--method=st" arrives as "--method" "=" "st"), the
# cursor in the last word, and the plugin directory a scratch tree.
#
#   bash_completion_test.sh <completion file>
set -uo pipefail
source "$(dirname "$0")/check.sh"
completion=${1:?usage: bash_completion_test.sh <completion file>}

# shellcheck source=/dev/null
source "$completion"
check "completion registered for bootcrank" "complete -F _bootcrank bootcrank" \
  "$(complete -p bootcrank 2>&1)"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
plugins=$scratch/root/usr/libexec/bootcrank/plugins
other=$scratch/other
mkdir -p "$plugins/subdir.json" "$other" "$scratch/work/rel"
touch "$plugins"/{network.json,libstorage.so,hotfix.debug,README,notes.txt,libnet.json}
touch "$other"/{vendor.json,libdisk.so}
touch "$scratch/work/rel/local.json"

# complete_at <index> <word>...: completes the word at <index> (the cursor)
# of the line made of the words. Prints the candidates sorted, one line,
# blank-separated.
complete_at() {
  COMP_CWORD=$1
  shift
  COMP_WORDS=("$@")
  COMP_LINE="$*"
  COMP_POINT=${#COMP_LINE}
  COMPREPLY=()
  _bootcrank bootcrank "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort | paste -sd' ' -
}

# complete_words <word>...: the cursor is in the last word.
complete_words() {
  complete_at $(($# - 1)) "$@"
}

export BOOTCRANK_ROOT=$scratch/root

# Options.
check "options starting with --met" "--method=" "$(complete_words bootcrank --met)"
check "options starting with --plugin" "--plugin-directory= --plugin-flags= --plugin=" \
  "$(complete_words bootcrank --plugin)"
check "options starting with --daemon" "--daemon --daemon-wait-timeout= --daemon=" \
  "$(complete_words bootcrank --daemon)"
check "every long option offered for --" 21 "$(complete_words bootcrank -- | wc -w)"
check "a plain word gets nothing" "" "$(complete_words bootcrank net)"

# Fixed values, in every form the line can take.
check "--method= lists the methods" "apply_host_profile start stop" \
  "$(complete_words bootcrank --method =)"
check "--method=st" "start stop" "$(complete_words bootcrank --method = st)"
check "--method as a separate word" "apply_host_profile" \
  "$(complete_words bootcrank --invoke --method a)"
check "--method=s kept in one word" "--method=start --method=stop" \
  "$(complete_words bootcrank --method=s)"
check "--daemon= lists the wait modes" "nowait wait" "$(complete_words bootcrank --daemon =)"
check "--daemon=n" "nowait" "$(complete_words bootcrank --daemon = n)"
check "--daemon takes no separate value word" "" "$(complete_words bootcrank --daemon w)"
check "--plugin-flags values are free text" "" "$(complete_words bootcrank --plugin-flags =)"

# Plugin files from the default directory below BOOTCRANK_ROOT.
check "--plugin= lists loadable plugin files" \
  "hotfix.debug libnet.json libstorage.so network.json subdir.json" \
  "$(complete_words bootcrank --plugin =)"
check "--plugin=n" "network.json" "$(complete_words bootcrank --plugin = n)"
check "--plugin as a separate word" "libnet.json libstorage.so" \
  "$(complete_words bootcrank --plugin lib)"
check "--plugin after a comma completes the last piece" \
  "network.json,hotfix.debug network.json,libnet.json network.json,libstorage.so network.json,subdir.json" \
  "$(complete_words bootcrank --plugin = network.json,)"
check "--plugin=a,b,l" "network.json,hotfix.debug,libnet.json network.json,hotfix.debug,libstorage.so" \
  "$(complete_words bootcrank --plugin = network.json,hotfix.debug,l)"
check "--plugin=...,x in one word" "--plugin=hotfix.debug,network.json" \
  "$(complete_words bootcrank --plugin=hotfix.debug,net)"

# --disable-plugins and --interactive-mode-requires take plugin names.
check "--disable-plugins= lists plugin names" "net network storage subdir" \
  "$(complete_words bootcrank --disable-plugins =)"
check "--disable-plugins after a comma" "storage,net storage,network storage,subdir" \
  "$(complete_words bootcrank --disable-plugins = storage,)"
check "--interactive-mode-requires=s" "storage subdir" \
  "$(complete_words bootcrank --interactive --interactive-mode-requires = s)"

# An earlier --plugin-directory replaces the default, in each form.
check "--plugin-directory=dir before --plugin" "libdisk.so vendor.json" \
  "$(complete_words bootcrank --plugin-directory = "$other" --plugin =)"
check "--plugin-directory dir (two words)" "disk vendor" \
  "$(complete_words bootcrank --plugin-directory "$other" --disable-plugins =)"
check "--plugin-directory=dir kept in one word" "vendor.json" \
  "$(complete_words bootcrank "--plugin-directory=$other" --plugin v)"
check "the last --plugin-directory counts" "libdisk.so vendor.json" \
  "$(complete_words bootcrank --plugin-directory = /nonexistent --plugin-directory = "$other" --plugin =)"
check "a relative --plugin-directory is taken from the working directory" "local.json" \
  "$(cd "$scratch/work" && complete_words bootcrank --plugin-directory = rel --plugin =)"
check "a --plugin-directory after the cursor does not count" "network.json" \
  "$(complete_at 3 bootcrank --plugin = net --plugin-directory = "$other")"
check "a missing plugin directory gives nothing" "" \
  "$(complete_words bootcrank --plugin-directory = /nonexistent --plugin =)"

# Without BOOTCRANK_ROOT (or with a relative one) the host's own directory
# is meant; it is not this tree's.
mkdir -p "$scratch/work/relative/usr/libexec/bootcrank/plugins"
touch "$scratch/work/relative/usr/libexec/bootcrank/plugins/network.json"
check "a relative BOOTCRANK_ROOT is not a host root" "" \
  "$(cd "$scratch/work" && BOOTCRANK_ROOT=relative complete_words bootcrank --plugin = network)"

# Paths.
check "--plugin-directory completes directories" "$scratch/other" \
  "$(complete_words bootcrank --plugin-directory = "$scratch/oth")"
check "--dump-dependency-tree=path completes files" "$scratch/work/rel/local.json" \
  "$(complete_words bootcrank --dump-dependency-tree = "$scratch/work/rel/lo")"

finish

#!/usr/bin/env bash
# Runs the marked examples of docs/man/*.[1-8] and README.md against the
# installed program in a sandbox root (the staged install, a host's
# directories, copies of the /proc/sys files the examples set).
#   doc_examples_test.sh <build dir> <source dir>
# Marker right before a block (.EX in roff, as man renders it; an indented
# or fenced block in markdown): '.\" example: <kind> [arg...]' or
# '<!-- example: <kind> [arg...] -->'; '... not run: <reason>' for a block
# that cannot run here; an unmarked block fails. Kinds, each run alone:
#   json <file> [option...]   installed and run with --plugin=<file> --trace:
#       exits 0, completes, no warning/error/alert (but a missing provider)
#   native   C source, first line "/* <name>.c: <compile command> */"
#   cli-extension <directory> <command line>   compiled, installed, and run
#       from a descriptor's start
#   debug.conf   a full run: no malformed line or failed entry
#   c-declarations <header>   appear as written in the installed header
#   systemd-dropin <unit>   systemd-analyze verify has no complaint
#   log   a plain run prints a line like each one, digits aside
#   sh [root=<p>] [empty=<p>] [build=<p>]   bash -e after all the above:
#       exit 0, no error record; <p> stands for the sandbox root, a new empty
#       directory, the build folder (which the commands must configure).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/check.sh"
build=$(cd "${1:?usage: doc_examples_test.sh <build dir> <source dir>}" && pwd)
source_dir=$(cd "${2:?usage: doc_examples_test.sh <build dir> <source dir>}" && pwd)
export LC_ALL=C.UTF-8
for tool in groff cc perl timeout systemd-analyze; do
  command -v $tool >/dev/null || { echo "$tool missing (scripts/install-deps)" >&2; exit 1; }
done
[[ -x $build/stage/usr/sbin/bootcrank ]] || { echo "no staged install in $build/stage (ctest fixture install_stage)" >&2; exit 1; }

scratch=$(mktemp -d)
trap cleanup EXIT

# --- Extraction: one file per example in $examples, listed in $index as
# "<file>|<page>:<line>|<page kind>|<marker>".
examples=$scratch/examples
index=$examples/index
mkdir -p "$examples"
: >"$index"
extract() {  # extract <page>: the marked blocks; an unmarked one is reported
  local page=$1 kind=markdown
  [[ $page == *.[1-8] ]] && kind=roff
  awk -v page="$(basename "$page")" -v kind=$kind -v out="$examples" '
    function begin(marker) {
      n++; file = out "/" page "-" n
      if (marker ~ /^not run:/) file = "/dev/null"
      else if (marker !~ /^example: /) {
        printf "%s:%d: code block without an example or not run marker\n", page, NR >> (out "/unmarked")
        file = "/dev/null"
      } else printf "%s-%d|%s:%d|%s|%s\n", page, n, page, NR, kind, substr(marker, 10) >> (out "/index")
      printf "" > file
    }
    function marker_of(line) {
      if (kind == "roff") { sub(/^\.\\" /, "", line); return line }
      if (line !~ /^<!-- .* -->$/) return ""
      sub(/^<!-- /, "", line); sub(/ -->$/, "", line); return line
    }
    kind == "roff" {
      if (inside && $0 == ".EE") { close(file); inside = 0 }
      else if (inside) print > file
      else if ($0 == ".EX") { begin(previous ~ /^\.\\" / ? marker_of(previous) : ""); inside = 1 }
      previous = $0
      next
    }
    fence {
      if ($0 ~ /^```/) { close(file); fence = 0 } else print > file
      next
    }
    indented && ($0 ~ /^    / || $0 ~ /^ *$/) { line = $0; sub(/^    /, "", line); print line > file; next }
    indented { close(file); indented = 0 }
    /^```/ { begin(marker_of(last)); fence = 1; next }
    /^    / && previous ~ /^ *$/ { begin(marker_of(last)); indented = 1; line = $0; sub(/^    /, "", line); print line > file; next }
    { previous = $0; if ($0 !~ /^ *$/) last = $0 }
  ' "$page"
}
for page in "$source_dir"/docs/man/*.[1-8] "$source_dir"/README.md; do extract "$page"; done
[[ -f $examples/unmarked ]] && check "every code block is marked" "" "$(cat "$examples/unmarked")"
check "the pages hold examples" yes "$([[ -s $index ]] && echo yes)"

# A manual page example as man shows it; trailing blank lines go.
while IFS='|' read -r file where kind marker; do
  shown=$(<"$examples/$file")
  [[ $kind == roff ]] && shown=$(printf '.pl 1\n.nf\n%s\n' "$shown" | groff -Tascii -P-cbou)
  printf '%s\n' "$shown" >"$examples/$file.text"
done <"$index"

# --- The sandbox root.
root=$scratch/root
plugins=$root/usr/libexec/bootcrank/plugins
cp -a "$build/stage" "$root"
mkdir -p "$root"/{dev,run,tmp,bootbank,etc/quarro/bootcrank,var/lib,var/log,var/run/quarro} "$plugins"
touch "$root"/dev/{kmsg,log}
for key in $(cat "$examples"/*.text | grep -oE -- '--key=[A-Za-z0-9_.-]+' | sort -u); do
  file=/proc/sys/${key#--key=}
  file=${file//.//}
  check "sysctl key ${key#--key=} of an example exists on this machine" yes "$([[ -f $file ]] && echo yes)"
  [[ -f $file ]] || continue
  mkdir -p "$root${file%/*}"
  cat "$file" >"$root$file" 2>/dev/null
done
empty=$scratch/no-plugins
work=$scratch/work
mkdir -p "$empty" "$work" "$scratch/src"
ln -s "$plugins" "$work/plugins"

out=$scratch/out
bootcrank() {  # bootcrank <option...>: the status; standard output and error in $out
  BOOTCRANK_ROOT=$root timeout -k 5 120 "$root/usr/sbin/bootcrank" "$@" </dev/null >"$out" 2>&1
  echo $?
}
records() {  # the records of $out tagged with one of the given tags
  grep -E "^[0-9TZ:.-]+ bootcrank\[[0-9]+\]: ($(IFS='|'; echo "$*")): " "$out"
}
alone() {  # records <tag...> but the report of a required barrier that no plugin provides
  records "$@" | grep -v 'is not provided by any plugin but the following plugins require it'
}
completed() {  # "yes" when $out shows that plugin <name> completed
  grep -qF "completed execution of plugin: $1 (" "$out" && echo yes
}
run_alone() {  # run_alone <what> <file in the plugin directory> <option...>
  local what=$1 name=${2%.*}
  name=${name#lib}  # the plugin name: no extension, no leading lib
  check "$what: exits 0" 0 "$(bootcrank --plugin="$2" --trace "${@:3}")"
  check "$what: completes plugin $name" yes "$(completed "$name")"
  check "$what: no warning, error or alert" "" "$(alone warning error alert panic)"
}
compile() {  # compile <what> <source text>: sets $object to the object built, or fails
  local first name command
  object=""
  first=$(head -n 1 "$2")
  if [[ ! $first =~ ^/\*\ ([^:]+):\ (.*)\ \*/$ ]]; then
    check "$1: first line names the file and its compile command" "/* <name>.c: <command> */" "$first"
    return 1
  fi
  name=${BASH_REMATCH[1]} command=${BASH_REMATCH[2]}
  cp "$2" "$scratch/src/$name"
  check "$1: $command" "" "$(cd "$scratch/src" && CPATH=$root/usr/include bash -e -c "$command" 2>&1)"
  object=$scratch/src/$(grep -oE -- '-o +[^ ]+' <<<"$command" | awk '{ print $2 }')
  [[ -f $object ]] || { check "$1: the command builds an object (-o)" yes no; return 1; }
}
strip_c() { perl -0777 -pe 's{/\*.*?\*/}{}gs; s/\s+//g'; }  # C text without comments and blanks

# --- Everything but commands, in page order.
while IFS='|' read -r file where kind marker; do
  text=$examples/$file.text
  read -r -a words <<<"$marker"
  what="$where (${words[0]})"
  case ${words[0]} in
    json)
      cp "$text" "$plugins/${words[1]}"
      run_alone "$what" "${words[1]}" "${words[@]:2}"
      ;;
    native)
      compile "$what" "$text" || continue
      cp "$object" "$plugins/"
      run_alone "$what" "$(basename "$object")"
      ;;
    cli-extension)
      compile "$what" "$text" || continue
      mkdir -p "$root${words[1]}" "$scratch/extension-check"
      cp "$object" "$root${words[1]}/"
      command=${marker#* * }
      command=${command//\\/\\\\}
      command=${command//\"/\\\"}
      printf '{"metadata": {"version": 1, "requires": [], "provides": []},\n "operations": {"start": ["%s"]}}\n' \
        "$command" >"$scratch/extension-check/extension-check.json"
      check "$what: runs '$command'" 0 "$(bootcrank --plugin-directory="$scratch/extension-check" --trace)"
      check "$what: '$command' succeeds" "yes " "$(completed extension-check) $(alone error alert panic)"
      ;;
    debug.conf)
      cp "$text" "$root/etc/quarro/bootcrank/debug.conf"
      check "$what: a full run exits 0" 0 "$(bootcrank --plugin-directory="$empty" --trace)"
      check "$what: no malformed line, no failed command" "" "$(grep -E 'malformed debug entry|debug injection .* returned' "$out")"
      check "$what: no error or alert" "" "$(alone error alert panic)"
      while IFS=: read -r name _; do
        [[ -n ${name// /} ]] && check "$what: entry $name runs" yes "$(completed "$name")"
      done <"$text"
      ;;
    c-declarations)
      header=$(strip_c <"$root${words[1]}")
      check "$what: declared as written in ${words[1]}" yes "$([[ $header == *"$(strip_c <"$text")"* ]] && echo yes)"
      ;;
    systemd-dropin)
      units=$scratch/systemd
      mkdir -p "$units/usr/lib/systemd/system" "$units/etc/systemd/system/${words[1]}.d"
      cp "$root/usr/lib/systemd/system/${words[1]}" "$units/usr/lib/systemd/system/"
      cp "$text" "$units/etc/systemd/system/${words[1]}.d/example.conf"
      check "$what: systemd-analyze verify has nothing to say about it" "" \
        "$(cd "$units" && systemd-analyze verify --root="$units" "${words[1]}" 2>&1 | grep -F example.conf)"
      ;;
    log)
      bootcrank --plugin-directory="$empty" >/dev/null
      while IFS= read -r line; do
        [[ -n $line ]] || continue
        pattern=$(sed -E -e 's/[][\.*^$+?(){}|]/\\&/g' -e 's/[0-9]+/[0-9]+/g' <<<"$line")
        check "$what: a plain run prints a line like '$line'" yes "$(grep -qE "^$pattern\$" "$out" && echo yes)"
      done <"$text"
      ;;
    sh) ;;
    *) check "$where: known example kind" "json, native, cli-extension, debug.conf, c-declarations, systemd-dropin, log or sh" "${words[0]}" ;;
  esac
done <"$index"

# --- Commands, in page order.
while IFS='|' read -r file where kind marker; do
  read -r -a words <<<"$marker"
  [[ ${words[0]} == sh ]] || continue
  script=$(<"$examples/$file.text")
  for word in "${words[@]:1}"; do
    case $word in
      root=*) script=${script//"${word#root=}"/$root} ;;
      empty=*) script=${script//"${word#empty=}"/$(mktemp -d "$scratch/empty.XXXX")} ;;
      build=*)
        check "$where (sh): configures ${word#build=} itself, so it works on a fresh clone" yes \
          "$(grep -qE -- "-B +${word#build=}( |\$)" <<<"$script" && echo yes)"
        script=${script//"${word#build=}"/$build}
        ;;
      *) check "$where: sh argument" "root=<path>, empty=<path> or build=<path>" "$word" ;;
    esac
  done
  directory=$work
  [[ $kind == markdown ]] && directory=$source_dir
  status=$(cd "$directory" && BOOTCRANK_ROOT=$root PATH=$root/usr/sbin:$PATH \
    timeout -k 5 300 bash -e -o pipefail -c "$script" </dev/null >"$out" 2>&1; echo $?)
  check "$where (sh): exits 0" 0 "$status"
  check "$where (sh): no error or alert" "" "$(records error alert panic)"
  ((status == 0)) || sed 's/^/    /' "$out" >&2
done <"$index"
finish

#!/usr/bin/env bash
# The manual pages render without a single warning, both through groff with
# every warning on and through man(1) as a reader sees them, and carry the
# sections and names an operator looks for.
#
#   man_pages_test.sh <page>...
set -uo pipefail
source "$(dirname "$0")/check.sh"
export LC_ALL=C.UTF-8
(($# > 0)) || { echo "usage: man_pages_test.sh <page>..." >&2; exit 2; }
command -v groff >/dev/null && command -v man >/dev/null ||
  { echo "SKIP: groff or man missing"; exit 77; }

for page in "$@"; do
  name=$(basename "$page")
  check "$name: groff -man -ww -z is silent" "" "$(groff -man -ww -z "$page" 2>&1)"
  check "$name: man --warnings is silent" "" \
    "$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -l -E UTF-8 "$page" 2>&1 >/dev/null)"
  text=$(LC_ALL=C.UTF-8 MANWIDTH=80 man -l -E UTF-8 "$page" 2>/dev/null | col -bx)
  # Nothing runs past the 80 columns asked for (long lines in examples wrap
  # badly in a terminal).
  wide=""
  while IFS= read -r line; do
    ((${#line} > 80)) && wide+=$line$'\n'
  done <<<"$text"
  check "$name: no line wider than 80 columns" "" "$wide"
  # The whatis line that mandb and apropos read.
  check "$name: NAME section in whatis form" "1" \
    "$(lexgrog "$page" 2>/dev/null | grep -c ': "[a-z-]* - ')"
done

# Every option of the usage text is documented in bootcrank(8), and every
# JSON key and error text that plugin authors meet in bootcrank-plugins(5).
for page in "$@"; do
  text=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -l -E UTF-8 "$page" 2>/dev/null | col -bx)
  case $(basename "$page") in
    bootcrank.8)
      for option in --help --init --invoke --method= --plugin= --trace --verbose \
          --randomize --parallel --plugin-flags= --run-once= --interactive \
          --disable-plugins= --plugin-directory= --dump-dependency-tree \
          --interactive-mode-requires= --daemon --daemon-wait-timeout=; do
        pattern="^ {7}(-h, )?$option"
        [[ $option == *= ]] || pattern+="([[ ]|\$)"
        check "bootcrank.8 documents $option" 1 \
          "$(printf '%s\n' "$text" | grep -cE -- "$pattern")"
      done
      for needle in BOOTCRANK_ROOT /var/log/sysboot.log /bootbank/bootcrnk.gz \
          /var/run/quarro/bootcrankExecutor.sock /var/log/bootcrank-hvcli-stdout.log \
          /dev/kmsg /etc/quarro/bootcrank/debug.conf "EXIT STATUS" EXAMPLES; do
        check "bootcrank.8 mentions $needle" yes \
          "$(grep -qF -- "$needle" <<<"$text" && echo yes)"
      done
      ;;
    bootcrank-plugins.5)
      flat=$(tr -s ' \n' ' ' <<<"$text")  # texts that wrap across lines
      for needle in '"version"' requires provides required_flags disabling_flags run_once \
          plugin_version apply_host_profile "plugin root is not an object" \
          "invalid metadata interface" "metadata is corrupt (unable to parse version)" \
          "Unsupported API version" "tag is not a string" \
          "metadata is corrupt (unable to parse run_once)" \
          "metadata is corrupt (unable to parse plugin_version)" \
          "invalid operations interface" "operations is corrupt (unable to parse start)" \
          "operations is corrupt (unable to parse apply-host-profile)" \
          "command is not a string" "no such file or directory" \
          "struct bootcrank_metadata" "struct bootcrank_operations" nativeExecutor \
          hvcli_extension_register "file write --path=P --content=C" \
          "file append --path=P --content=C" "sysctl set --key=K --value=V"; do
        needle=${needle#\"}; needle=${needle%\"}
        check "bootcrank-plugins.5 mentions $needle" yes \
          "$(grep -qF -- "$needle" <<<"$flat" && echo yes)"
      done
      ;;
  esac
done

finish

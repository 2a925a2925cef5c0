#!/usr/bin/env bash
# The manual pages render without a warning (groff with every warning on, and
# man(1) as a reader sees them), and bootcrank(8) documents every option of the
# usage text. (lintian checks the whatis lines of the packaged pages.)
#   man_pages_test.sh <page>...
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/check.sh"
export LC_ALL=C.UTF-8
(($# > 0)) || { echo "usage: man_pages_test.sh <page>..." >&2; exit 2; }
command -v groff >/dev/null && command -v man >/dev/null || { echo "SKIP: groff or man missing"; exit 77; }
for page in "$@"; do
  name=$(basename "$page")
  check "$name: groff -man -ww -z is silent" "" "$(groff -man -ww -z "$page" 2>&1)"
  check "$name: man --warnings is silent" "" \
    "$(MANROFFSEQ='' MANWIDTH=80 man --warnings -l -E UTF-8 "$page" 2>&1 >/dev/null)"
  [[ $name == bootcrank.8 ]] || continue
  text=$(MANWIDTH=80 man -l -E UTF-8 "$page" 2>/dev/null | col -bx)
  for option in $(grep -oE '^ +(-h,)?--[a-z-]+' "$here/../runcontrol/usage.txt" | sed 's/.*--/--/'); do
    check "bootcrank.8 documents $option" yes \
      "$(yes_if grep -qE -- "^ {7}(-h, )?$option([=[ ]|\$)" <<<"$text")"
  done
done
finish

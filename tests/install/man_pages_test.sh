#!/usr/bin/env bash
# Each program's manual page renders without a warning and names every option its --help
# names; each program refuses an unknown option with exit status 2 (psvigil without a display).
# Usage: man_pages_test.sh MAN_DIR PROGRAM...
set -uo pipefail
man_dir=$1
shift
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for program in "$@"; do
  name=$(basename "$program")
  page=$man_dir/$name.1
  [ -f "$page" ] || { fail "$name: no page $page"; continue; }
  # In the C locale groff writes plain ASCII hyphens, so options read as typed.
  LC_ALL=C MANWIDTH=80 MAN_KEEP_FORMATTING= man --warnings -l "$page" >"$work/text" 2>"$work/warnings"
  [ -s "$work/warnings" ] && fail "$name: man -l warns: $(head -3 "$work/warnings")"
  grep -q . "$work/text" || fail "$name: the page renders empty"

  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" --help >"$work/help" 2>&1 ||
    fail "$name --help failed"
  # Long options, and short ones standing alone (-u, -h): every one must be in the page.
  options=$(grep -oE -- '(^|[^[:alnum:]-])--?[[:alpha:]?][[:alnum:]-]*' "$work/help" |
    sed -E 's/^[^-]*//' | sort -u)
  [ -n "$options" ] || fail "$name: --help names no option"
  for option in $options; do
    grep -qF -- "$option" "$work/text" || fail "$name: the page does not name $option"
  done

  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" --bogus-option \
    >"$work/out" 2>"$work/err" </dev/null
  status=$?
  [ "$status" -eq 2 ] || fail "$name --bogus-option: exit status $status, want 2"
  grep -qi usage "$work/err" || fail "$name --bogus-option: no usage on standard error"
done

[ "$failures" -eq 0 ] && echo "man pages: all passed"
exit $((failures > 0))

#!/usr/bin/env bash
# The options that `orvandine-convert --help` lists and those the manual pages
# describe must be the same names.
# Usage: help_matches_man.sh PROGRAM PAGE...
set -euo pipefail

program=$1
shift

option_names() { grep -o -- '--[a-z][a-z-]*' | sort -u; }

help_options=$("$program" --help | option_names)
if [ -z "$help_options" ]; then
  echo "$program --help lists no options" >&2
  exit 1
fi

status=0
for page in "$@"; do
  # The tag lines of the options section (.SH OPTIONS, or КЛЮЧИ in Russian).
  page_options=$(awk '
    /^\.SH / { in_options = ($2 == "OPTIONS" || $2 == "КЛЮЧИ"); next }
    in_options && tag { print; tag = 0; next }
    in_options && /^\.TP/ { tag = 1 }
  ' "$page" | sed 's/\\-/-/g' | option_names)
  if [ "$help_options" != "$page_options" ]; then
    echo "$page and --help disagree (< only in --help, > only in the page):" >&2
    diff <(echo "$help_options") <(echo "$page_options") >&2 || true
    status=1
  fi
done
exit $status

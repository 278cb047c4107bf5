#!/usr/bin/env bash
# The title the window system shows (the ICCCM WM_NAME that taskbars and
# window switchers read), under an English-language UTF-8 environment on a
# system with no Russian locale at all: LOCPATH names an empty folder.
# Usage: title_without_russian_locale.sh WINDOW-PROGRAM
set -euo pipefail

program=$1
work=$(mktemp -d)
trap 'kill $window $server 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir "$work/locales"

exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
server=$!
exec 3>&-
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
export DISPLAY=":$(cat "$work/display")"

env -u LC_ALL -u LANGUAGE LANG=C.UTF-8 LOCPATH="$work/locales" XDG_RUNTIME_DIR="$work" HOME="$work" \
  QT_QPA_PLATFORM=xcb "$program" >/dev/null 2>&1 &
window=$!

expected='"Orvandine Converter - Новый файл"'
for _ in $(seq 100); do
  id=$(xwininfo -root -tree | awk '/"Orvandine Converter/ { print $1; exit }')
  if [ -n "$id" ]; then
    title=$(LANG=C.UTF-8 xprop -id "$id" -notype WM_NAME | sed 's/^WM_NAME = //')
    if [ "$title" = "$expected" ]; then exit 0; fi
    echo "WM_NAME is $title, not $expected" >&2
    exit 1
  fi
  sleep 0.1
done
echo "no window titled Orvandine Converter appeared" >&2
exit 1

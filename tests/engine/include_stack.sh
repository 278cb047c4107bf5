#!/usr/bin/env bash
# The folders of engine/ form a stack: a file includes from its own folder and
# those below it, never from one above. Every include names its folder from
# engine/ ("system/files.h"); the commands at engine/'s top may include them all.
# Usage: include_stack.sh ENGINE-FOLDER
set -euo pipefail
cd "$1"

stack=(system run products trial .)  # lowest first; "." is the top of engine/

declare -A level
for i in "${!stack[@]}"; do level[${stack[$i]}]=$i; done
folder() { case $1 in */*) echo "${1%%/*}" ;; *) echo . ;; esac; }

status=0
while read -r file; do
  from=$(folder "$file")
  if [ -z "${level[$from]:-}" ]; then
    echo "$file: $from/ has no place in the stack; add it to $(basename "$0")" >&2
    status=1
    continue
  fi
  while IFS=: read -r line name; do
    if [ -f "$name" ]; then
      to=$(folder "$name")
      if [ "${level[$to]:-99}" -gt "${level[$from]}" ]; then
        echo "$file:$line: includes $name, above $from/ in the stack" >&2
        status=1
      fi
    elif [ "$from" != . ] && [ -f "$from/$name" ]; then
      echo "$file:$line: includes $name without its folder: $from/$name" >&2
      status=1
    fi  # else not the engine's: Qt, the payload, a moc file
  done < <(grep -n '^#include "' "$file" | sed 's/^\([0-9]*\):#include "\([^"]*\)".*/\1:\2/')
done < <(find . -name '*.h' -o -name '*.cpp' | sed 's|^\./||' | sort)
exit $status

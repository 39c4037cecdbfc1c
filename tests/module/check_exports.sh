#!/bin/sh
# The module file exports its five entry points and nothing else of ours.
set -eu
module=$1
nm_tool=${NM:-nm}
actual=$("$nm_tool" -D --defined-only "$module" | awk '$2 ~ /^[TDBRVW]$/ {print $3}' | sort)
expected=$(printf '%s\n' DllCanUnloadNow DllGetClassForm DllGetClassInfo DllGetClassObject \
  DllGetInterface | sort)
if [ "$actual" != "$expected" ]; then
  echo "exports of $module:"; echo "$actual"
  echo "expected:"; echo "$expected"
  exit 1
fi
echo "exports OK: $(echo "$actual" | tr '\n' ' ')"

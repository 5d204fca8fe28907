#!/bin/sh
# Fails unless the plug-in library exports exactly Create, Load, Close, Release
# and About, under their plain (undecorated) names.
set -eu
library=$1
expected="About Close Create Load Release"
case "$library" in
  *.tsp)
    if i686-w64-mingw32-objdump -f "$library" | grep -q 'pei-i386'; then
      actual=$(i686-w64-mingw32-objdump -p "$library" |
        sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
        sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*//p' | sort | tr '\n' ' ')
    else
      actual=$(nm -D --defined-only "$library" | awk '$2 == "T" { print $3 }' | sort | tr '\n' ' ')
    fi ;;
  *) echo "not a plug-in library: $library"; exit 2 ;;
esac
if [ "${actual% }" != "$expected" ]; then
  echo "exports of $library: '${actual% }', expected '$expected'"
  exit 1
fi
echo "exports: $expected"

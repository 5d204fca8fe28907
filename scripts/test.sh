#!/usr/bin/env bash
# Builds the native and the 32-bit Windows targets and runs every test suite;
# ends with one summary line. Run through `./norrow test`.
set -uo pipefail
cd "$(dirname "$0")/.."

results=()
failed=0

# Runs one ctest preset and notes "name passed/total".
suite() {
  local name=$1 preset=$2
  local log="build/$preset-ctest.log"
  ctest --preset "$preset" -j "$(nproc)" --timeout 600 "${@:3}" 2>&1 | tee "$log" | grep -E '^[0-9]+/[0-9]+ Test|tests passed|FAILED|Failed' || true
  local line
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n1)
  if [ -z "$line" ]; then
    results+=("$name: did not run"); failed=1; return
  fi
  local bad total
  bad=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$line")
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
  results+=("$name $((total - bad))/$total")
  [ "$bad" -eq 0 ] || failed=1
}

build() {
  cmake --preset "$1" >/dev/null && cmake --build --preset "$1" || { results+=("$1: build failed"); failed=1; return 1; }
}

# Wine: one persistent server for the whole run, and its services started
# with their output away from ctest's pipes (else ctest waits for them).
start_wine() {
  wineserver -p >/dev/null 2>&1 || true
  WINEDEBUG=-all LC_ALL=ja_JP.UTF-8 wine cmd /c exit >/dev/null 2>&1 </dev/null || true
}
stop_wine() { wineserver -k >/dev/null 2>&1 || true; }

echo "== native"
build native && suite native native

echo "== Windows (32-bit, under Wine)"
if build mingw; then
  start_wine
  suite windows mingw
  stop_wine
fi

summary=$(IFS=';'; echo "${results[*]}" | sed 's/;/, /g')
if [ "$failed" -eq 0 ]; then
  echo "norrow test: PASS ($summary)"
else
  echo "norrow test: FAIL ($summary)"
fi
exit "$failed"

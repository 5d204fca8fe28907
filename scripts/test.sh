#!/usr/bin/env bash
# Builds the native and the 32-bit Windows targets and runs every test suite;
# ends with one summary line, which gives each stage's wall time (its build
# included) and the total. Run through `./norrow test`.
set -euo pipefail
cd "$(dirname "$0")/.." || exit 1
mkdir -p build

results=()
failed=0
began=$(date +%s)
stage_began=$began

# Prints a stage's heading and starts its clock.
stage() {
  echo "== $*"
  stage_began=$(date +%s)
}

# The wall time since the stage began.
took() {
  echo "$(($(date +%s) - stage_began)) s"
}

# The output of the tools read here (ctest's counts, the compilers' warnings)
# is read in the C locale, whatever the user's; each test that needs another
# locale sets its own (Wine's comes from cmake/wine-run).

# Runs one ctest preset and notes "name passed/total".
suite() {
  local name=$1 preset=$2
  local log="build/$preset-ctest.log"
  LC_ALL=C ctest --preset "$preset" -j "$(nproc)" --timeout 600 "${@:3}" > "$log" 2>&1 || true
  show "$log"
  record "$name" "$log"
}

# Shows what failed in a ctest log, and its count.
show() {
  grep -E '\*\*\*(Failed|Exception|Timeout)|Not Run|tests passed' "$1" || true
}

# Notes "name passed/total [(how)] in N s" from a ctest log; a test that
# did not run (skipped, disabled) is not counted as passed, and is named.
record() {
  local name=$1 log=$2 how=${3:-}
  local line
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n1 || true)
  if [ -z "$line" ]; then
    results+=("$name: did not run in $(took)"); failed=1; return 0
  fi
  local bad total test reason skipped="" count=0
  bad=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$line")
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line")
  while IFS= read -r test; do
    [ -n "$test" ] || continue
    count=$((count + 1))
    reason=$(skip_reason "${log%-ctest.log}" "$test")
    skipped+="${skipped:+, }$test${reason:+ — $reason}"
  done < <(sed -n -E 's/^[[:space:]]+[0-9]+ - (.*) \((Skipped|Disabled)\)$/\1/p' "$log")
  local passed=$((total - bad - count))
  [ -z "$skipped" ] || how="${how:+$how; }not run: $skipped"
  results+=("$name $passed/$total${how:+ ($how)} in $(took)")
  [ "$bad" -eq 0 ] || failed=1
}

# skip_reason BUILD-DIR TEST: the reason a skipped test printed (its line
# "skipped: REASON"), from the output ctest kept of its last run; empty if none.
skip_reason() {
  awk -v test="$2" '
    $0 ~ "^[0-9]+/[0-9]+ Test: " && substr($0, index($0, "Test: ") + 6) == test { inside = 1; next }
    inside && /^<end of output>/ { exit }
    inside && /^skipped: / { print substr($0, 10); exit }' \
    "$1/Testing/Temporary/LastTest.log" 2>/dev/null || true
}

# build PRESET [CMAKE-OPTION...]: configures and builds a preset; notes a
# failure and returns 1.
build() {
  if cmake --preset "$1" "${@:2}" >/dev/null &&
     LC_ALL=C cmake --build --preset "$1" > "build/$1-build.log" 2>&1; then
    grep -E 'warning|error' "build/$1-build.log" || true
    return 0
  fi
  tail -n 40 "build/$1-build.log"
  results+=("$1: build failed in $(took)")
  failed=1
  return 1
}

# The Windows suites run on a virtual display (a message box needs one), in the
# project's own Wine prefix (cmake/wine-env), with one persistent Wine server
# (that prefix's, no other) for the whole run: the ctest fixture wine_server
# (cmake/wine-server) starts it before the first test and stops it after the
# last, however ctest is run.
# Where the kernel runs no 32-bit code, scripts/ia32 (run by the setup) has
# left build/wine.env: Wine then runs under qemu-user, its prefix under build/,
# and each Windows process starts in seconds, so a test may take longer.
# The suite runs with HOME in a scratch folder, whose ~/.wine stands for the
# user's: a Wine server of its own runs there throughout (a bare
# `wineserver -k` would stop it), and afterwards it must still run, its prefix
# must hold no Wine installation, and nothing else may have landed in HOME.
windows_suite() {
  local way=natively timeout=600
  if [ -f build/wine.env ]; then
    way="under emulation"
    timeout=1800
  fi
  local home bystander
  home=$(mktemp -d "${TMPDIR:-/tmp}/norrow-home.XXXXXX")
  mkdir "$home/.wine"
  WINEPREFIX=$home/.wine wineserver -f -p >/dev/null 2>&1 </dev/null &
  bystander=$!
  # Should ctest be interrupted before its fixture's cleanup, no Wine server
  # and no scratch folder stays behind.
  trap 'cmake/wine-server stop >/dev/null 2>&1; WINEPREFIX=$home/.wine wineserver -k >/dev/null 2>&1; rm -rf "$home"' EXIT
  HOME=$home LC_ALL=C xvfb-run -a ctest --preset mingw -j "$(nproc)" --timeout "$timeout" \
    > build/mingw-ctest.log 2>&1 || true
  show build/mingw-ctest.log
  record windows build/mingw-ctest.log "Wine $way"
  untouched "$home" "$bystander"
  WINEPREFIX=$home/.wine wineserver -k >/dev/null 2>&1 || true
  wait "$bystander" 2>/dev/null || true
  rm -rf "$home"
  trap - EXIT
}

# Notes "untouched 2/2" when the other prefix's Wine server still runs and
# the scratch HOME holds nothing but what that server keeps in its prefix
# (its registry files), no Wine installation.
untouched() {
  local home=$1 bystander=$2 passed=0
  if kill -0 "$bystander" 2>/dev/null; then
    passed=$((passed + 1))
  else
    echo "   FAIL the Wine server of another prefix ($home/.wine) was stopped"
  fi
  local left
  left=$(cd "$home" && find . -mindepth 1 ! -path ./.wine ! -path './.wine/*' | head -n 5
         ls -d .wine/drive_c .wine/dosdevices 2>/dev/null || true)
  if [ -z "$left" ]; then
    passed=$((passed + 1))
  else
    echo "   FAIL the Windows suite wrote to the home folder: $left" | tr '\n' ' '
    echo
  fi
  results+=("untouched $passed/2")
  [ "$passed" -eq 2 ] || failed=1
}

# The benchmarks build in the native tree and run there briefly (to keep them
# building and running); bench/run.sh times them in a Release tree of their own.
stage "native (unit, services, end to end, valgrind, soak, fuzz corpora, benchmarks briefly)"
if build native -DNORROW_BENCH=ON; then suite native native; fi

stage "the server information on nginx and PHP-FPM (loopback), and the plug-in using it"
suite server server

stage "the release zip (built by scripts/dist.sh, unpacked and checked)"
suite release release

stage "native under AddressSanitizer and UBSan"
if build sanitize; then suite sanitize sanitize; fi

# In CI each target replays its corpus (the seeds and what earlier runs
# found) and then fuzzes briefly; long campaigns: fuzz/campaign.sh SECONDS.
fuzz_seconds=${NORROW_FUZZ_SECONDS:-15}
stage "fuzzing (libFuzzer: the corpus, then $fuzz_seconds s a target)"
if build fuzz; then
  if fuzz/campaign.sh "$fuzz_seconds" | tee build/fuzz-campaign.log; then
    ok=$(grep -c ', ok$' build/fuzz-campaign.log || true)
    targets=$(grep -c '^fuzz ' build/fuzz-campaign.log || true)
    results+=("fuzz $ok/$targets in $(took)")
  else
    results+=("fuzz: a target failed in $(took)"); failed=1
  fi
fi

stage "Windows (32-bit, under Wine: unit, end to end, server, release, soak, fuzz corpora)"
[ ! -f build/wine.env ] || echo "   (Wine under qemu-user: this machine runs no 32-bit code, or NORROW_WINE_EMULATION=1)"
if build mingw; then
  windows_suite
fi

summary=$(printf '%s, ' "${results[@]}")
summary="${summary%, }; $(($(date +%s) - began)) s in all"
if [ "$failed" -eq 0 ]; then
  echo "norrow test: PASS ($summary)"
else
  echo "norrow test: FAIL ($summary)"
fi
exit "$failed"

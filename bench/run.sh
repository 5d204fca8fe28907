#!/usr/bin/env bash
# Measures everything BENCHMARKS.md reports, in one run, and writes it.
#   bench/run.sh            (builds the bench preset, and the mingw one for the Windows timing)
set -euo pipefail
cd "$(dirname "$0")/.."
mkdir -p build
cmake --preset bench >/dev/null && cmake --build --preset bench >/dev/null
# Fifteen short repetitions of each benchmark, interleaved at random, so that
# a change in the machine's speed during the run touches every figure alike.
build/bench/bin/page_bench --benchmark_min_time=0.2 --benchmark_repetitions=15 \
  --benchmark_enable_random_interleaving=true --benchmark_format=console \
  --benchmark_out=build/bench/results.json --benchmark_out_format=json
build/bench/bin/page_timer 4000 > build/bench/timer-linux.txt
instructions=""
if [ -x build/bench/bin/page_instructions ] && command -v valgrind >/dev/null; then
  for reader in plugin plain pugixml floor; do
    for encoding in sjis utf8; do
      valgrind --tool=callgrind --instr-atstart=no --callgrind-out-file=build/bench/callgrind.out \
        build/bench/bin/page_instructions "$reader" "$encoding" >/dev/null 2>&1
      echo "$reader $encoding $(callgrind_annotate build/bench/callgrind.out |
        sed -n 's/^ *\([0-9,]*\) .*PROGRAM TOTALS.*/\1/p' | tr -d ,)"
    done
  done > build/bench/instructions.txt
  instructions=build/bench/instructions.txt
fi
windows=""
if cmake --preset mingw >/dev/null 2>&1 && cmake --build --preset mingw --target page_timer >/dev/null 2>&1; then
  norrow_root=$PWD
  . cmake/wine-env  # the project's own prefix: the wineserver calls below touch no other
  wineserver -p >/dev/null 2>&1 || true
  cmake/wine-run cmd /c exit >/dev/null 2>&1 </dev/null || true
  if cmake/wine-run build/mingw/bin/page_timer.exe 4000 > build/bench/timer-windows.txt; then
    windows=build/bench/timer-windows.txt
  fi
  wineserver -k >/dev/null 2>&1 || true
fi
serverinfo=""
if bench/serverinfo_load.sh > build/bench/serverinfo-wrk.txt; then
  serverinfo=build/bench/serverinfo-wrk.txt
fi
relay=""
if python3 bench/relay_load.py > build/bench/relay-wrk.txt; then
  relay=build/bench/relay-wrk.txt
fi
cut -d' ' -f1-3 /proc/loadavg > build/bench/load-end.txt
python3 bench/report.py build/bench/results.json build/bench/timer-linux.txt "$windows" "$serverinfo" \
  "$instructions" build/bench/load-end.txt "$relay" > BENCHMARKS.md
echo "wrote BENCHMARKS.md"

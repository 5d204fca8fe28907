#!/usr/bin/env bash
# Measures everything BENCHMARKS.md reports, in one run, and writes it.
#   bench/run.sh            (builds the bench preset, and the mingw one for the Windows timing)
set -euo pipefail
cd "$(dirname "$0")/.."
mkdir -p build
cmake --preset bench >/dev/null && cmake --build --preset bench >/dev/null
build/bench/bin/page_bench --benchmark_min_time=1 --benchmark_format=console \
  --benchmark_out=build/bench/results.json --benchmark_out_format=json
build/bench/bin/page_timer 4000 > build/bench/timer-linux.txt
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
python3 bench/report.py build/bench/results.json build/bench/timer-linux.txt "$windows" "$serverinfo" \
  "$relay" > BENCHMARKS.md
echo "wrote BENCHMARKS.md"

#!/usr/bin/env bash
# Runs tests/emulation/threads.cpp (no code of Norrow) RUNS times under Wine,
# as the Windows suites run it here (cmake/wine-run: natively, or under
# qemu-user where scripts/ia32 prepared that), and prints how each run ended.
#   tests/emulation/tally.sh [RUNS [THREADS [MODE]]]     (10, 6, 1)
# A run that does not end within 60 s counts as hung.
set -euo pipefail
cd "$(dirname "$0")/../.." || exit 1
runs=${1:-10} threads=${2:-6} mode=${3:-1}
out=build/emulation
mkdir -p "$out"
i686-w64-mingw32-g++-posix -O1 -static -o "$out/threads.exe" tests/emulation/threads.cpp
cmake/wine-server start >/dev/null
trap 'cmake/wine-server stop >/dev/null' EXIT
ok=0 crashed=0 hung=0 failed=0
for ((i = 1; i <= runs; i++)); do
  status=0
  timeout 60 cmake/wine-run "$out/threads.exe" "$threads" "$mode" > "$out/run.log" 2>&1 || status=$?
  if [ "$status" -eq 0 ] && grep -q '^ok' "$out/run.log" && ! grep -q FATAL "$out/run.log"; then
    ok=$((ok + 1))
  elif [ "$status" -eq 124 ]; then hung=$((hung + 1))
  elif [ "$status" -gt 128 ]; then crashed=$((crashed + 1))
  else failed=$((failed + 1))
  fi
done
way=natively
[ ! -f build/wine.env ] || way="under qemu-user"
echo "threads.exe $threads $mode, Wine $way: $runs runs, $ok ok, $crashed ended by a signal, $failed failed, $hung hung"

#!/usr/bin/env bash
# Runs one of the reproducers here (no code of Norrow) RUNS times under Wine,
# as the Windows suites run it on this machine (cmake/wine-run: natively, or
# under qemu-user where scripts/ia32 prepared that), and prints how the runs
# ended. A run that does not end within 60 s counts as hung.
#   tests/emulation/tally.sh threads RUNS THREADS MODE    (threads.cpp)
#   tests/emulation/tally.sh winhttp RUNS REQUESTS PAUSE-MS [close]
#                                (winhttp.cpp, against keepalive_server.py)
set -euo pipefail
cd "$(dirname "$0")/../.." || exit 1
program=${1:?threads or winhttp} runs=${2:?RUNS}
shift 2
out=build/emulation
mkdir -p "$out"
args=("$@")
case "$program" in
  threads) i686-w64-mingw32-g++-posix -O1 -static -o "$out/$program.exe" tests/emulation/threads.cpp ;;
  winhttp)
    i686-w64-mingw32-g++-posix -O1 -static -o "$out/$program.exe" tests/emulation/winhttp.cpp -lwinhttp
    rm -f "$out/port"
    python3 tests/emulation/keepalive_server.py > "$out/port" 2>/dev/null &
    server=$!
    until [ -s "$out/port" ]; do sleep 0.1; done
    args=("$(cat "$out/port")" "$@") ;;
  *) echo "tally.sh: threads or winhttp, not $program" >&2; exit 2 ;;
esac
cmake/wine-server start >/dev/null
trap 'cmake/wine-server stop >/dev/null; [ -z "${server:-}" ] || kill "$server"' EXIT
ok=0 crashed=0 hung=0 failed=0
for ((i = 1; i <= runs; i++)); do
  status=0
  timeout 60 cmake/wine-run "$out/$program.exe" "${args[@]}" > "$out/run.log" 2>&1 || status=$?
  if [ "$status" -eq 0 ] && grep -q '^ok' "$out/run.log" && ! grep -q FATAL "$out/run.log"; then
    ok=$((ok + 1))
  elif [ "$status" -eq 124 ]; then hung=$((hung + 1))
  elif [ "$status" -gt 128 ]; then crashed=$((crashed + 1))
  else failed=$((failed + 1))
  fi
done
way=natively
[ ! -f build/wine.env ] || way="under qemu-user"
echo "$program.exe $*, Wine $way: $runs runs, $ok ok, $crashed ended by a signal, $failed failed, $hung hung"

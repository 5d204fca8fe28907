#!/usr/bin/env bash
# Loads the server information with the plug-in's POST: `norrow serve-info`
# (nginx and PHP-FPM) on a free port of 127.0.0.1 with the example
# configuration, and wrk against it, bounded in time and connections.
# Prints wrk's report.   bench/serverinfo_load.sh [SECONDS] [CONNECTIONS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-10} connections=${2:-16}
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
./norrow serve-info --port "$port" --config server/serverinfo.example.ini > /dev/null 2>&1 &
server=$!
trap 'kill -TERM $server 2>/dev/null; wait $server 2>/dev/null || true' EXIT
for _ in $(seq 100); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  sleep 0.1
done
uptime
wrk --threads 2 --connections "$connections" --duration "${seconds}s" --latency \
    --script bench/serverinfo_post.lua "http://127.0.0.1:$port/norrow/downloadinfo.php"

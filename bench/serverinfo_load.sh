#!/usr/bin/env bash
# Loads the server information with the plug-in's POST, in one run: wrk
# against `norrow serve-info` (nginx and PHP-FPM as deployed, the example
# configuration) on a free port of 127.0.0.1, bounded in time and connections:
#   limits-off, limits-on (twice, by turns)
#                     every request from a client address of its own, as
#                     plug-ins come (X-Forwarded-For, serve-info
#                     --forwarded-for), without and with the per-address limits
#   limits-off-one-client, limits-one-client
#                     every request from 127.0.0.1 (as the earlier figure
#                     was taken); with the limits on, a flood, mostly 429
# then the server tests of the limits (600 stalled connections, a 10-second
# flood of malformed requests) with their figures. Prints each wrk report
# after a line "== WAY", the figures after "== hostile" (JSON).
#   bench/serverinfo_load.sh [SECONDS] [CONNECTIONS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-10} connections=${2:-16}
server=''
trap '[ -z "$server" ] || { kill -TERM $server 2>/dev/null; wait $server 2>/dev/null || true; }' EXIT

# serve-info with OPTIONS on a free port; sets server and port. The example
# relays both services: nginx must resolve their upstreams, which no run
# here asks, so they are routed to a closed port of loopback.
serve() {
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  ./norrow serve-info --port "$port" --config server/serverinfo.example.ini \
    --route geo.search.example:443=127.0.0.1:9 --route map.search.example:443=127.0.0.1:9 \
    "$@" > /dev/null 2>&1 &
  server=$!
  for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && return 0
    sleep 0.1
  done
  echo "serverinfo_load: serve-info did not start" >&2
  return 1
}

# One way: WAY SCRIPT [serve-info OPTIONS].
load() {
  local way=$1 script=$2
  shift 2
  serve "$@"
  echo "== $way"
  uptime
  wrk --threads 2 --connections "$connections" --duration "${seconds}s" --latency \
      --script "$script" "http://127.0.0.1:$port/norrow/downloadinfo.php"
  kill -TERM "$server"
  wait "$server" || true
  server=''
}

for _ in 1 2; do
  load limits-off bench/serverinfo_clients.lua --forwarded-for --no-limits
  load limits-on bench/serverinfo_clients.lua --forwarded-for
done
load limits-off-one-client bench/serverinfo_post.lua --no-limits
load limits-one-client bench/serverinfo_post.lua
figures=$(mktemp)
python3 tests/server/run_server_tests.py --norrow ./norrow --only limits --figures "$figures" >&2
echo "== hostile"
cat "$figures"
rm -f "$figures"

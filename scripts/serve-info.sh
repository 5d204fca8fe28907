#!/usr/bin/env bash
# Serves the server information on 127.0.0.1 for trying it, in the foreground:
# nginx with the site server/nginx.conf and PHP-FPM with the pool
# server/php-fpm-pool.conf, rewritten to listen on loopback and to run
# server/downloadinfo.php with the configuration FILE. Both run as the user
# who starts this; their logs go to standard output (access) and standard
# error (errors). SIGINT or SIGTERM stops both, and this exits 0.
#   serve-info.sh --port N --config FILE
# Exit status: 2 for bad usage or a configuration that is refused, 1 when a
# server does not start or stops by itself.
set -euo pipefail
# A shell started in the background ignores SIGINT, and bash cannot trap a
# signal ignored on entry: start again with both signals at their defaults.
if [ -z "${NORROW_SERVE_INFO_SIGNALS:-}" ]; then
  NORROW_SERVE_INFO_SIGNALS=1 exec env --default-signal=INT,TERM "$0" "$@"
fi
root=$(cd "$(dirname "$0")/.." && pwd)

fail() { echo "serve-info: $1" >&2; exit "${2:-2}"; }

port='' config=''
while [ $# -gt 0 ]; do
  case "$1" in
    --port) [ $# -ge 2 ] || fail "--port needs a value"; port=$2; shift 2 ;;
    --config) [ $# -ge 2 ] || fail "--config needs a value"; config=$2; shift 2 ;;
    *) fail "unknown argument '$1' (usage: serve-info --port N --config FILE)" ;;
  esac
done
[[ "$port" =~ ^[0-9]{1,5}$ ]] && [ "$port" -ge 1 ] && [ "$port" -le 65535 ] ||
  fail "--port takes a port from 1 to 65535, not '$port'"
[ -n "$config" ] || fail "--config FILE is missing"
[ -r "$config" ] || fail "cannot read $config"
config=$(cd "$(dirname "$config")" && pwd)/$(basename "$config")
php "$root/server/downloadinfo.php" --check "$config" >/dev/null ||
  fail "$config is refused (see above)"
fpm_program=$(ls /usr/sbin/php-fpm* 2>/dev/null | sort -V | tail -n 1)
[ -n "$fpm_program" ] || fail "php-fpm is not installed (./norrow setup)"

run=$(mktemp -d "${TMPDIR:-/tmp}/norrow-serve-info.XXXXXX")
chmod 755 "$run"
user=$(id -un) group=$(id -gn)

# Rewrites the deployed paths of a file of server/ into this run's; fails
# when a path is not there, so the two never drift apart silently.
rewrite() {
  local file=$1 text
  text=$(cat "$root/server/$file")
  shift
  while [ $# -gt 0 ]; do
    [[ "$text" == *"$1"* ]] || fail "server/$file no longer holds '$1'" 1
    text=${text//"$1"/"$2"}
    shift 2
  done
  printf '%s\n' "$text"
}

rewrite nginx.conf \
  'listen 80;' "listen 127.0.0.1:$port;" \
  '/var/www/norrow' "$root/server" \
  '/etc/norrow/serverinfo.ini' "$config" \
  '/var/log/nginx/norrow-access.log' '/dev/stdout' \
  '/var/log/nginx/norrow-error.log' 'stderr' \
  'unix:/run/php/norrow-fpm.sock' "unix:$run/php-fpm.sock" > "$run/site.conf"
rewrite php-fpm-pool.conf \
  'listen.owner = www-data' "listen.owner = $user" \
  'listen.group = www-data' "listen.group = $group" \
  'user = www-data' "user = $user" \
  'group = www-data' "group = $group" \
  'listen = /run/php/norrow-fpm.sock' "listen = $run/php-fpm.sock" \
  '/var/www/norrow/:/etc/norrow/' "$root/server/:$(dirname "$config")/" > "$run/pool.conf"
ln -s /etc/nginx/fastcgi_params "$run/fastcgi_params"
mkdir "$run/temp"

cat > "$run/php-fpm.conf" <<EOF
[global]
pid = $run/php-fpm.pid
error_log = /dev/stderr
daemonize = no
include = $run/pool.conf
EOF
cat > "$run/nginx.conf" <<EOF
daemon off;
worker_processes 1;
pid $run/nginx.pid;
error_log stderr;
$( [ "$(id -u)" -eq 0 ] && echo "user $user $group;" )
events { worker_connections 512; }
http {
    default_type application/octet-stream;
    client_body_temp_path $run/temp/body;
    fastcgi_temp_path $run/temp/fastcgi;
    proxy_temp_path $run/temp/proxy;
    uwsgi_temp_path $run/temp/uwsgi;
    scgi_temp_path $run/temp/scgi;
    include $run/site.conf;
}
EOF

fpm='' web=''
stop() {
  trap - INT TERM EXIT
  [ -n "$web" ] && kill -TERM "$web" 2>/dev/null || true
  [ -n "$fpm" ] && kill -TERM "$fpm" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$run"
  exit "${1:-0}"
}
trap 'stop 0' INT TERM
trap 'stop 1' EXIT

# Waits (5 s at most) until `test` succeeds.
await() {
  for _ in $(seq 50); do
    if "$@"; then return 0; fi
    sleep 0.1
  done
  return 1
}
listening() { (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; }

as_root_flag=()
[ "$(id -u)" -eq 0 ] && as_root_flag=(--allow-to-run-as-root)
"$fpm_program" --nodaemonize --fpm-config "$run/php-fpm.conf" "${as_root_flag[@]}" &
fpm=$!
await test -S "$run/php-fpm.sock" || fail "PHP-FPM did not start" 1
listening && fail "127.0.0.1:$port is taken" 1
nginx -e stderr -p "$run" -c "$run/nginx.conf" &
web=$!
await listening || fail "nginx did not start on 127.0.0.1:$port" 1

echo "serve-info: http://127.0.0.1:$port/norrow/downloadinfo.php with $config; Ctrl-C stops"
wait -n "$fpm" "$web" || true
echo "serve-info: a server stopped by itself" >&2
stop 1

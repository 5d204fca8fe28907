#!/usr/bin/env bash
# Serves the server information on 127.0.0.1 (and ::1 where this machine has
# it) for trying it, in the foreground: nginx with the site server/nginx.conf
# and PHP-FPM with the pool server/php-fpm-pool.conf, as deployed but
# rewritten into a folder of this run: its port, its copy of the scripts, its
# live configuration, installed from FILE by server/install-config with the
# search relay that FILE asks for (install another there with the command the
# banner shows). Started as root, the workers run as nobody, and the run's
# folder is in /run (nobody could not reach a private TMPDIR). Logs go to
# standard output (access) and standard error (errors); the relay's log is
# relay.log in the run's folder. SIGINT or SIGTERM stops both, and this
# exits 0.
#   serve-info.sh --port N --config FILE [--no-limits] [--forwarded-for]
#                 [--route NAME:PORT=ADDR:PORT]... [--resolver ADDR:PORT]
# --no-limits drops the server information's rate, the connection limit per
# address and the relay's overall ceiling (for load and functional tests
# from one address; the relay's rate per client is the configuration's
# requests_per_minute); --forwarded-for takes
# each client's address from X-Forwarded-For (for a load test that stands in
# for many clients); --route makes the relay connect to ADDR:PORT for the
# upstream NAME:PORT (a stand-in, its certificate still checked for NAME);
# --resolver makes it resolve the others' names there, not with the
# nameservers of /etc/resolv.conf. None of them belongs in a deployed site.
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

port='' config='' limits=on forwarded=off routes=() resolver=()
while [ $# -gt 0 ]; do
  case "$1" in
    --port) [ $# -ge 2 ] || fail "--port needs a value"; port=$2; shift 2 ;;
    --config) [ $# -ge 2 ] || fail "--config needs a value"; config=$2; shift 2 ;;
    --no-limits) limits=off; shift ;;
    --forwarded-for) forwarded=on; shift ;;
    --route) [ $# -ge 2 ] || fail "--route needs a value"; routes+=(--route "$2"); shift 2 ;;
    --resolver) [ $# -ge 2 ] || fail "--resolver needs a value"; resolver=(--resolver "$2"); shift 2 ;;
    *) fail "unknown argument '$1' (usage: serve-info --port N --config FILE [--no-limits] [--forwarded-for] [--route NAME:PORT=ADDR:PORT]... [--resolver ADDR:PORT])" ;;
  esac
done
[[ "$port" =~ ^[0-9]{1,5}$ ]] && [ "$port" -ge 1 ] && [ "$port" -le 65535 ] ||
  fail "--port takes a port from 1 to 65535, not '$port'"
[ -n "$config" ] || fail "--config FILE is missing"
[ -r "$config" ] || fail "cannot read $config"
fpm_program=$(ls /usr/sbin/php-fpm* 2>/dev/null | sort -V | tail -n 1)
[ -n "$fpm_program" ] || fail "php-fpm is not installed (./norrow setup)"
njs_module=/usr/lib/nginx/modules/ngx_http_js_module.so
[ -f "$njs_module" ] || fail "nginx's njs module is not installed (./norrow setup)"

# The workers' user: nobody when started as root, else the user who starts this.
if [ "$(id -u)" -eq 0 ]; then
  user=nobody group=$(id -gn nobody)
else
  user=$(id -un) group=$(id -gn)
fi
if [ "$(id -u)" -eq 0 ] && [ -d /run ] && [ -w /run ]; then
  run=$(mktemp -d /run/norrow-serve-info.XXXXXX)
else
  run=$(mktemp -d "${TMPDIR:-/tmp}/norrow-serve-info.XXXXXX")
fi
chmod 755 "$run"
trap 'rm -rf "$run"' EXIT
mkdir "$run/www" "$run/temp"
install -d -m 0700 -o "$user" -g "$group" "$run/state"
cp "$root/server/downloadinfo.php" "$root/server/configuration.php" "$root/server/relay.js" \
   "$root/server/relay-budget.php" "$run/www/"
install -d -m 0750 -g "$group" "$run/etc"
live=$run/etc/serverinfo.ini

# ::1 where this machine has it (IPv6 may be off).
listen6=''
if grep -q '^0\{31\}1 ' /proc/net/if_inet6 2>/dev/null; then
  listen6="listen [::1]:$port;"
fi

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

site_changes=()
if [ "$limits" = off ]; then
  site_changes+=('limit_conn norrow_serverinfo_conn 10;' '# (limits off: serve-info --no-limits)'
                 'limit_req zone=norrow_serverinfo_rate burst=20 nodelay;' '# (limits off)'
                 'auth_request /norrow/relay-budget;' '# (no ceiling: limits off)')
fi
if [ "$forwarded" = on ]; then
  site_changes+=('server_tokens off;'
                 'server_tokens off; set_real_ip_from 127.0.0.1; real_ip_header X-Forwarded-For;')
fi
rewrite nginx.conf \
  'listen 80;' "listen 127.0.0.1:$port;" \
  'listen [::]:80;' "$listen6" \
  '/var/www/norrow' "$run/www" \
  '/etc/norrow/' "$run/etc/" \
  '/var/lib/nginx/norrow-relay' "$run/cache" \
  '/var/lib/norrow/' "$run/state/" \
  '/run/norrow-relay.sock' "$run/relay.sock" \
  '/var/log/nginx/norrow-relay.log' "$run/relay.log" \
  '/var/log/nginx/norrow-access.log' '/dev/stdout' \
  '/var/log/nginx/norrow-error.log' 'stderr' \
  'unix:/run/php/norrow-fpm.sock' "unix:$run/php-fpm.sock" \
  "${site_changes[@]}" > "$run/site.conf"
rewrite php-fpm-pool.conf \
  'listen.owner = www-data' "listen.owner = $user" \
  'listen.group = www-data' "listen.group = $group" \
  'user = norrow' "user = $user" \
  'group = norrow' "group = $group" \
  'listen = /run/php/norrow-fpm.sock' "listen = $run/php-fpm.sock" \
  '/var/www/norrow/:/etc/norrow/:/var/lib/norrow/' "$run/www/:$run/etc/:$run/state/" > "$run/pool.conf"
ln -s /etc/nginx/fastcgi_params "$run/fastcgi_params"

cat > "$run/php-fpm.conf" <<EOF
[global]
pid = $run/php-fpm.pid
error_log = /dev/stderr
daemonize = no
include = $run/pool.conf
EOF
cat > "$run/nginx.conf" <<EOF
load_module $njs_module;
daemon off;
worker_processes 1;
worker_rlimit_nofile 8192;
pid $run/nginx.pid;
error_log stderr;
$( [ "$(id -u)" -eq 0 ] && echo "user $user $group;" )
events { worker_connections 4096; }
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

# The live configuration, and the relay it asks for (nginx checks it now).
install_config=(php "$root/server/install-config" --nginx "$run/nginx.conf" "${routes[@]}" "${resolver[@]}")
"${install_config[@]}" "$config" "$live" >/dev/null 2>"$run/install.log" || {
  grep -v -e '^install-config: .* is now' -e '^install-config: nginx did not reload' "$run/install.log" >&2 || true
  fail "$config is refused (see above)"
}
relayed=$(sed -n 's/^location = \(.*\) {$/\1 /p' "$run/etc/relay-locations.conf" | tr -d '\n')

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

"$fpm_program" --nodaemonize --fpm-config "$run/php-fpm.conf" &
fpm=$!
await test -S "$run/php-fpm.sock" || fail "PHP-FPM did not start" 1
listening && fail "127.0.0.1:$port is taken" 1
nginx -e stderr -p "$run" -c "$run/nginx.conf" &
web=$!
await listening || fail "nginx did not start on 127.0.0.1:$port" 1

echo "serve-info: http://127.0.0.1:$port/norrow/downloadinfo.php${listen6:+ and [::1]:$port}," \
     "${relayed:+relay at ${relayed% }, }limits $limits, live configuration $live" \
     "(${install_config[*]:1} FILE $live installs another); Ctrl-C stops"
wait -n "$fpm" "$web" || true
echo "serve-info: a server stopped by itself" >&2
stop 1

#!/usr/bin/env bash
# Starts or stops nginx as a local HTTPS update server (for the demo and the whole run against nginx):
#   nginx.sh start --state DIR --certs DIR --root WWW [--port N] [--http-port N] [--watch-pid PID|--watch-parent]
#                  [--lifetime S]
#   nginx.sh stop --state DIR
# TLS on localhost:PORT with the test server's certificate for localhost (made by make-certs.sh in the
# certificate folder); a plain-http port redirects there. A port of 0 (the default) takes a free one.
# start returns once nginx answers and writes "https PORT" and "http PORT" to DIR/ports. A watcher
# stops nginx when the watched process ends or the lifetime is over, so a killed caller leaves none.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
nginx="${NGINX:-/usr/sbin/nginx}"

command="${1:?usage: nginx.sh start|stop --state DIR ...}"
shift
state="" certs="" www="" port=0 http_port=0 watch_pid=0 lifetime=3600
while [ $# -gt 0 ]; do
  case "$1" in
    --state) state="$2"; shift 2 ;;
    --certs) certs="$2"; shift 2 ;;
    --root) www="$2"; shift 2 ;;
    --port) port="$2"; shift 2 ;;
    --http-port) http_port="$2"; shift 2 ;;
    --watch-pid) watch_pid="$2"; shift 2 ;;
    --watch-parent) watch_pid="$PPID"; shift ;;
    --lifetime) lifetime="$2"; shift 2 ;;
    *) echo "nginx.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
[ -n "$state" ] || { echo "nginx.sh: --state is required" >&2; exit 2; }
mkdir -p "$state"
state="$(cd "$state" && pwd)"
conf="$state/nginx.conf"

# Only a master process started with this state folder's configuration is ours to stop.
running_pid() {
  [ -f "$state/nginx.pid" ] || return 1
  local pid
  pid="$(cat "$state/nginx.pid")"
  [ -n "$pid" ] && [ -r "/proc/$pid/cmdline" ] || return 1
  tr '\0' ' ' <"/proc/$pid/cmdline" | grep -qF -- "-c $conf" || return 1
  echo "$pid"
}

stop_nginx() {
  local pid
  if [ -f "$state/watcher.pid" ]; then
    kill "$(cat "$state/watcher.pid")" 2>/dev/null || true
    rm -f "$state/watcher.pid"
  fi
  pid="$(running_pid)" || { rm -f "$state/nginx.pid"; return 0; }
  kill -QUIT "$pid" 2>/dev/null || true
  for _ in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$pid" 2>/dev/null && kill -TERM "$pid" 2>/dev/null || true
  for _ in $(seq 20); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$pid" 2>/dev/null && kill -KILL "$pid" 2>/dev/null || true
  rm -f "$state/nginx.pid"
}

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("localhost", 0)); print(s.getsockname()[1])'
}

case "$command" in
  start)
    [ -n "$certs" ] && [ -n "$www" ] || { echo "nginx.sh: --certs and --root are required" >&2; exit 2; }
    [ -x "$nginx" ] || { echo "nginx.sh: $nginx is missing (scripts/install-deps.sh)" >&2; exit 1; }
    bash "$here/../server/make-certs.sh" "$certs"
    certs="$(cd "$certs" && pwd)"
    mkdir -p "$www" "$state/temp"
    www="$(cd "$www" && pwd)"
    stop_nginx
    rm -f "$state/ports" "$state/error.log"
    [ "$port" != 0 ] || port="$(free_port)"
    [ "$http_port" != 0 ] || http_port="$(free_port)"
    # As root nginx would hand its workers to "nobody", who may not read a build tree.
    user_line=""
    [ "$(id -u)" != 0 ] || user_line="user root;"
    sed -e "s|@USER@|$user_line|" -e "s|@STATE@|$state|g" -e "s|@CERTS@|$certs|g" -e "s|@ROOT@|$www|g" \
        -e "s|@PORT@|$port|g" -e "s|@HTTP_PORT@|localhost:$http_port|g" "$here/nginx.conf.in" >"$conf"
    if ! "$nginx" -e "$state/error.log" -p "$state" -c "$conf" </dev/null >"$state/start.log" 2>&1; then
      echo "nginx did not start (port $port or $http_port taken?):" >&2
      cat "$state/start.log" "$state/error.log" >&2 2>/dev/null || true
      stop_nginx
      exit 1
    fi
    for _ in $(seq 100); do
      [ -f "$state/nginx.pid" ] && running_pid >/dev/null && break
      sleep 0.05
    done
    running_pid >/dev/null || { echo "nginx did not start:" >&2; cat "$state/error.log" >&2; exit 1; }
    # The watcher: no inherited output, so that ctest does not wait for it.
    setsid bash -c '
      watch="$1" lifetime="$2" master="$3" conf="$4"
      end=$(( $(date +%s) + lifetime ))
      while kill -0 "$master" 2>/dev/null && [ "$(date +%s)" -lt "$end" ]; do
        if [ "$watch" != 0 ] && ! kill -0 "$watch" 2>/dev/null; then break; fi
        sleep 1
      done
      if tr "\0" " " <"/proc/$master/cmdline" 2>/dev/null | grep -qF -- "-c $conf"; then kill -QUIT "$master"; fi
    ' nginx-watcher "$watch_pid" "$lifetime" "$(running_pid)" "$conf" </dev/null >/dev/null 2>&1 &
    echo $! >"$state/watcher.pid"
    printf 'https %s\nhttp %s\n' "$port" "$http_port" >"$state/ports"
    cat "$state/ports"
    ;;
  stop)
    stop_nginx
    exit 0
    ;;
  *)
    echo "nginx.sh: unknown command $command" >&2
    exit 2
    ;;
esac

#!/usr/bin/env bash
# Starts or stops the local HTTPS update server of the tests (update_server.py) in the background.
#   server.sh start --state DIR --certs DIR [--fixed-port N] [--watch-pid PID|--watch-parent] [--lifetime S]
#   server.sh stop --state DIR
# start returns once the ports are written to DIR/ports; the server's output goes to DIR/server.log.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
python="${PYTHON:-python3}"

command="${1:?usage: server.sh start|stop --state DIR ...}"
shift
state="" certs="" fixed_port=0 watch_pid=0 lifetime=3600
while [ $# -gt 0 ]; do
  case "$1" in
    --state) state="$2"; shift 2 ;;
    --certs) certs="$2"; shift 2 ;;
    --fixed-port) fixed_port="$2"; shift 2 ;;
    --watch-pid) watch_pid="$2"; shift 2 ;;
    --watch-parent) watch_pid="$PPID"; shift ;;
    --lifetime) lifetime="$2"; shift 2 ;;
    *) echo "server.sh: unknown argument $1" >&2; exit 2 ;;
  esac
done
[ -n "$state" ] || { echo "server.sh: --state is required" >&2; exit 2; }

# Only a pid that still runs our server script for this state folder is ours to stop.
running_pid() {
  [ -f "$state/server.pid" ] || return 1
  local pid
  pid="$(cat "$state/server.pid")"
  [ -n "$pid" ] && [ -r "/proc/$pid/cmdline" ] || return 1
  tr '\0' ' ' <"/proc/$pid/cmdline" | grep -qF -- "update_server.py --state $state " || return 1
  echo "$pid"
}

stop_server() {
  local pid
  pid="$(running_pid)" || { rm -f "$state/server.pid"; return 0; }
  kill -TERM "$pid" 2>/dev/null || true
  for _ in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.2
  done
  kill -0 "$pid" 2>/dev/null && kill -KILL "$pid" 2>/dev/null || true
  rm -f "$state/server.pid"
}

case "$command" in
  start)
    [ -n "$certs" ] || { echo "server.sh: --certs is required" >&2; exit 2; }
    bash "$here/make-certs.sh" "$certs"
    mkdir -p "$state/www"
    stop_server
    rm -f "$state/ports"
    # setsid and no inherited output: ctest waits for a test's pipes, not only for its process.
    setsid "$python" "$here/update_server.py" --state "$state" --certs "$certs" --fixed-port "$fixed_port" \
      --watch-pid "$watch_pid" --lifetime "$lifetime" </dev/null >"$state/server.log" 2>&1 &
    echo $! >"$state/server.pid"
    for _ in $(seq 150); do
      if [ -f "$state/ports" ]; then
        cat "$state/ports"
        grep -q '^fixed 0$' "$state/ports" && echo "warning: the fixed port $fixed_port is unavailable"
        exit 0
      fi
      kill -0 "$(cat "$state/server.pid")" 2>/dev/null || break
      sleep 0.1
    done
    echo "the update server did not start:" >&2
    cat "$state/server.log" >&2
    stop_server
    exit 1
    ;;
  stop)
    stop_server
    [ -f "$state/server.log" ] && tail -n 3 "$state/server.log"
    exit 0
    ;;
  *)
    echo "server.sh: unknown command $command" >&2
    exit 2
    ;;
esac

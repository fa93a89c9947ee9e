#!/usr/bin/env bash
# Download benchmark: 16 MiB and 256 MiB from the local HTTPS test server, through HttpDownload under
# Wine and through curl on the host, in the same run. Builds nothing: build the mingw preset first.
# Usage: bench/download.sh [build dir]   (default build/mingw)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "${1:-$root/build/mingw}" && pwd)"
bench_exe="$build/bench/download_bench.exe"
[ -f "$bench_exe" ] || { echo "download.sh: $bench_exe is missing; build the preset first" >&2; exit 1; }
command -v curl >/dev/null || { echo "download.sh: curl is missing (scripts/install-deps.sh)" >&2; exit 1; }

export FERNQUILL_BUILD_DIR="$build" FERNQUILL_SOURCE_DIR="$root"
# The prefix with the test CA trusted, as the tests have it (quick when it is ready).
bash "$root/tests/support/prepare-prefix.sh" >/dev/null
source "$root/tests/support/wine-env.sh"

state="$build/bench/server"
certs="$build/server/certs"
server="$root/tests/support/server/server.sh"
work="$build/bench/work"
rm -rf "$work" && mkdir -p "$work" "$state/www/bench"
cleanup() {
  bash "$server" stop --state "$state" >/dev/null || true
  rm -rf "$work" "$state/www/bench"
}
trap cleanup EXIT
bash "$server" start --state "$state" --certs "$certs" --watch-pid $$ --lifetime 1800 >/dev/null
port="$(awk '$1 == "trusted" { print $2 }' "$state/ports")"

for size in 16 256; do
  head -c "$((size * 1048576))" /dev/urandom >"$state/www/bench/$size.bin"
done
expected256="$(sha256sum <"$state/www/bench/256.bin" | cut -d' ' -f1)"

run_installer() {  # size in MiB -> "mib_per_s peak_kib"
  local size="$1" out
  out="$("$WINE" "$bench_exe" "https://localhost:$port/bench/$size.bin" "$FERNQUILL_BUILD_DIR_WIN\\bench\\work\\$size.bin")"
  [ "$(stat -c %s "$work/$size.bin")" -eq "$((size * 1048576))" ] || { echo "short download: $out" >&2; exit 1; }
  if [ "$size" = 256 ] && [ "$(sha256sum <"$work/256.bin" | cut -d' ' -f1)" != "$expected256" ]; then
    echo "HttpDownload delivered other bytes" >&2
    exit 1
  fi
  rm -f "$work/$size.bin"
  sed -E 's/.*mib_per_s=([0-9.]+) peak_working_set_kib=([0-9]+).*/\1 \2/' <<<"$out"
}

run_curl() {  # size in MiB -> "mib_per_s"
  local size="$1" speed
  speed="$(curl -sS --fail --cacert "$certs/ca.pem" -o "$work/curl-$size.bin" -w '%{speed_download}' \
    "https://localhost:$port/bench/$size.bin")"
  if [ "$size" = 256 ] && [ "$(sha256sum <"$work/curl-256.bin" | cut -d' ' -f1)" != "$expected256" ]; then
    echo "curl delivered other bytes" >&2
    exit 1
  fi
  rm -f "$work/curl-$size.bin"
  awk -v s="$speed" 'BEGIN { printf "%.1f", s / 1048576 }'
}

read -r wine16 peak16 < <(run_installer 16)
read -r wine256 peak256 < <(run_installer 256)
curl256="$(run_curl 256)"
ratio="$(awk -v a="$wine256" -v b="$curl256" 'BEGIN { printf "%.2f", a / b }')"

printf '%-34s %12s\n' "download benchmark (localhost TLS)" ""
printf '%-34s %12s\n' "HttpDownload 256 MiB, MiB/s" "$wine256"
printf '%-34s %12s\n' "curl 256 MiB, MiB/s" "$curl256"
printf '%-34s %12s\n' "HttpDownload / curl" "$ratio"
printf '%-34s %12s\n' "HttpDownload 16 MiB, MiB/s" "$wine16"
printf '%-34s %12s\n' "peak working set, 16 MiB, KiB" "$peak16"
printf '%-34s %12s\n' "peak working set, 256 MiB, KiB" "$peak256"

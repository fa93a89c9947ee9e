#!/usr/bin/env bash
# Download benchmark: 16 MiB and 256 MiB from the local HTTPS test server, through HttpDownload under
# Wine, through a bare WinHTTP read loop (the platform's ceiling), through the same loop posting one
# message per read to a pumped window (the platform's cost of the progress messages) and through curl on
# the host, in the same run. Builds nothing: build the mingw preset first.
# Usage: bench/download.sh [build dir]   (default build/mingw)
# FERNQUILL_BENCH_DOWNLOAD_SMALL_MIB and FERNQUILL_BENCH_DOWNLOAD_LARGE_MIB change the two sizes,
# FERNQUILL_BENCH_DOWNLOAD_ROUNDS the runs of the large file through HttpDownload and the bare loop, taken
# alternately (best of them); with
# FERNQUILL_BENCH_RESULTS set, the figures are also appended to that file as "key value" lines.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "${1:-$root/build/mingw}" && pwd)"
bench_exe="$build/bench/download_bench.exe"
bare_exe="$build/bench/bare_download_bench.exe"
for exe in "$bench_exe" "$bare_exe"; do
  [ -f "$exe" ] || { echo "download.sh: $exe is missing; build the preset first" >&2; exit 1; }
done
command -v curl >/dev/null || { echo "download.sh: curl is missing (scripts/install-deps.sh)" >&2; exit 1; }

export FERNQUILL_BUILD_DIR="$build" FERNQUILL_SOURCE_DIR="$root"
source "$root/tests/support/wine-env.sh"
# The prefix with the test CA trusted, as the tests have it. Not again when scripts/bench.sh made it
# ready: its desktop step would wait for the wineserver that the first preparation keeps running.
fernquill_prefix_ready || bash "$root/tests/support/prepare-prefix.sh" >/dev/null

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

small="${FERNQUILL_BENCH_DOWNLOAD_SMALL_MIB:-16}"
large="${FERNQUILL_BENCH_DOWNLOAD_LARGE_MIB:-256}"
for size in "$small" "$large"; do
  head -c "$((size * 1048576))" /dev/urandom >"$state/www/bench/$size.bin"
done
expected_large="$(sha256sum <"$state/www/bench/$large.bin" | cut -d' ' -f1)"

run_installer() {  # size in MiB -> "mib_per_s peak_kib"
  local size="$1" out
  out="$("$WINE" "$bench_exe" "https://localhost:$port/bench/$size.bin" "$FERNQUILL_BUILD_DIR_WIN\\bench\\work\\$size.bin")"
  [ "$(stat -c %s "$work/$size.bin")" -eq "$((size * 1048576))" ] || { echo "short download: $out" >&2; exit 1; }
  if [ "$size" = "$large" ] && [ "$(sha256sum <"$work/$size.bin" | cut -d' ' -f1)" != "$expected_large" ]; then
    echo "HttpDownload delivered other bytes" >&2
    exit 1
  fi
  rm -f "$work/$size.bin"
  sed -E 's/.*mib_per_s=([0-9.]+) peak_working_set_kib=([0-9]+).*/\1 \2/' <<<"$out"
}

run_bare() {  # size in MiB, [--post] -> "mib_per_s"
  local size="$1" out
  out="$("$WINE" "$bare_exe" "https://localhost:$port/bench/$size.bin" "$FERNQUILL_BUILD_DIR_WIN\\bench\\work\\bare-$size.bin" \
    "${@:2}")"
  if [ "$(sha256sum <"$work/bare-$size.bin" | cut -d' ' -f1)" != "$expected_large" ]; then
    echo "the bare loop delivered other bytes: $out" >&2
    exit 1
  fi
  rm -f "$work/bare-$size.bin"
  sed -E 's/.*mib_per_s=([0-9.]+).*/\1/' <<<"$out"
}

run_curl() {  # size in MiB -> "mib_per_s"
  local size="$1" speed
  speed="$(curl -sS --fail --cacert "$certs/ca.pem" -o "$work/curl-$size.bin" -w '%{speed_download}' \
    "https://localhost:$port/bench/$size.bin")"
  if [ "$size" = "$large" ] && [ "$(sha256sum <"$work/curl-$size.bin" | cut -d' ' -f1)" != "$expected_large" ]; then
    echo "curl delivered other bytes" >&2
    exit 1
  fi
  rm -f "$work/curl-$size.bin"
  awk -v s="$speed" 'BEGIN { printf "%.1f", s / 1048576 }'
}

best() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b + 0 > a + 0) ? b : a }'; }
read -r wine_small peak_small < <(run_installer "$small")
wine_large="" bare_large="" posting_large="" peak_large=0
for _ in $(seq "${FERNQUILL_BENCH_DOWNLOAD_ROUNDS:-2}"); do
  read -r speed peak < <(run_installer "$large")
  wine_large="$(best "$wine_large" "$speed")"
  if [ "$peak" -gt "$peak_large" ]; then peak_large="$peak"; fi
  bare_large="$(best "$bare_large" "$(run_bare "$large")")"
  posting_large="$(best "$posting_large" "$(run_bare "$large" --post)")"
done
curl_large="$(run_curl "$large")"
ratio="$(awk -v a="$wine_large" -v b="$curl_large" 'BEGIN { printf "%.2f", a / b }')"
bare_ratio="$(awk -v a="$wine_large" -v b="$bare_large" 'BEGIN { printf "%.2f", a / b }')"
posting_ratio="$(awk -v a="$wine_large" -v b="$posting_large" 'BEGIN { printf "%.2f", a / b }')"

printf '%-34s %12s\n' "download benchmark (localhost TLS)" ""
printf '%-34s %12s\n' "HttpDownload $large MiB, MiB/s" "$wine_large"
printf '%-34s %12s\n' "bare WinHTTP loop $large MiB, MiB/s" "$bare_large"
printf '%-34s %12s\n' "bare loop + a post per read, MiB/s" "$posting_large"
printf '%-34s %12s\n' "curl $large MiB, MiB/s" "$curl_large"
printf '%-34s %12s\n' "HttpDownload / bare WinHTTP loop" "$bare_ratio"
printf '%-34s %12s\n' "HttpDownload / bare loop + posts" "$posting_ratio"
printf '%-34s %12s\n' "HttpDownload / curl" "$ratio"
printf '%-34s %12s\n' "HttpDownload $small MiB, MiB/s" "$wine_small"
printf '%-34s %12s\n' "peak working set, $small MiB, KiB" "$peak_small"
printf '%-34s %12s\n' "peak working set, $large MiB, KiB" "$peak_large"

if [ -n "${FERNQUILL_BENCH_RESULTS:-}" ]; then
  printf '%s %s\n' download.small_mib "$small" download.large_mib "$large" \
    download.ours_mib_per_s "$wine_large" download.curl_mib_per_s "$curl_large" \
    download.bare_mib_per_s "$bare_large" \
    download.posting_mib_per_s "$posting_large" \
    download.small_peak_kib "$peak_small" download.large_peak_kib "$peak_large" >>"$FERNQUILL_BENCH_RESULTS"
fi

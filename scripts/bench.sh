#!/usr/bin/env bash
# Runs every benchmark of bench/ on the Release build and prints their figures as one table.
# Usage: scripts/bench.sh [--quick]
#   --quick  smaller files, fewer rounds and starts (a few minutes less); the sizes can also be set one by
#            one through the variables the bench/ scripts read (FERNQUILL_BENCH_*).
# The window is started under Xvfb unless a display is set. The scripts' own output goes to
# build/mingw-release/bench-work/bench.log.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/lib.sh"

quick=0
case "${1:-}" in
  "") ;;
  --quick) quick=1 ;;
  *) echo "usage: scripts/bench.sh [--quick]" >&2; exit 2 ;;
esac

if [ -z "${DISPLAY:-}" ]; then
  fernquill_with_display bash "${BASH_SOURCE[0]}" "$@"
  exit
fi

if [ "$quick" = 1 ]; then
  : "${FERNQUILL_BENCH_DOWNLOAD_SMALL_MIB:=4}" "${FERNQUILL_BENCH_DOWNLOAD_LARGE_MIB:=32}"
  : "${FERNQUILL_BENCH_SHA256_SMALL_MIB:=4}" "${FERNQUILL_BENCH_SHA256_LARGE_MIB:=64}" "${FERNQUILL_BENCH_REPEATS:=1}"
  : "${FERNQUILL_BENCH_FILES:=500}" "${FERNQUILL_BENCH_MIB:=32}" "${FERNQUILL_BENCH_ROUNDS:=1}"
  : "${FERNQUILL_BENCH_STARTS:=3}"
fi
starts="${FERNQUILL_BENCH_STARTS:-7}"
export FERNQUILL_BENCH_DOWNLOAD_SMALL_MIB FERNQUILL_BENCH_DOWNLOAD_LARGE_MIB FERNQUILL_BENCH_SHA256_SMALL_MIB \
  FERNQUILL_BENCH_SHA256_LARGE_MIB FERNQUILL_BENCH_REPEATS FERNQUILL_BENCH_FILES FERNQUILL_BENCH_MIB \
  FERNQUILL_BENCH_ROUNDS

build="$root/build/mingw-release"
work="$build/bench-work"
mkdir -p "$work"
log="$work/bench.log"
results="$work/results.txt"
: >"$log"
: >"$results"
export FERNQUILL_BENCH_RESULTS="$results"

echo "building the Release benchmarks (log: $log)" >&2
fernquill_configure_preset mingw-release >>"$log" 2>&1
has_installer=0
# Read whole first: grep -q stopping early would break the pipe under pipefail.
target_list="$(cmake --build "$build" --target help 2>/dev/null || true)"
if grep -qw FernquillSetup <<<"$target_list"; then has_installer=1; fi
targets=(download_bench sha256_bench deploy_bench window_start_bench trust_test_ca fernquill_powershell_standin
         bare_download_bench bare_sha256_bench setup-driver)
[ "$has_installer" = 1 ] && targets+=(FernquillSetup)
fernquill_build_tree "$build" "${targets[@]}" >>"$log" 2>&1

export FERNQUILL_BUILD_DIR="$build" FERNQUILL_SOURCE_DIR="$root"
bash "$root/tests/support/prepare-prefix.sh" >>"$log" 2>&1
# The preparation leaves a wineserver running for the benchmarks; it must not outlive them.
trap 'bash "$root/tests/support/prepare-prefix.sh" --shutdown >>"$log" 2>&1 || true' EXIT

failed=()
run_bench() {  # name, command...
  local name="$1"
  shift
  echo "running $name" >&2
  echo "=== $name" >>"$log"
  if ! "$@" >>"$log" 2>&1; then
    failed+=("$name")
    echo "bench.sh: $name failed; see $log" >&2
  fi
}

run_bench download bash "$root/bench/download.sh" "$build"
run_bench sha256 bash "$root/bench/sha256.sh" "$build"
run_bench deploy bash "$root/bench/deploy.sh" "$build"

if [ "$has_installer" = 1 ]; then
  exe="$build/FernquillSetup.exe"
  stripped="$work/FernquillSetup.exe"
  x86_64-w64-mingw32-strip -o "$stripped" "$exe"
  printf '%s %s\n' exe.bytes "$(stat -c %s "$stripped")" exe.unstripped_bytes "$(stat -c %s "$exe")" >>"$results"
  # The same installer without the size options, from a Release tree of its own (release.sh strips it).
  no_size() {
    bash "$root/scripts/release.sh" --host "$(sed -n 's/^FERNQUILL_UPDATE_HOST:[A-Z]*=//p' "$build/CMakeCache.txt")" \
      --build-dir "$root/build/bench-no-size-options" --out "$work/no-size-options" -D FERNQUILL_SIZE_OPTIONS=OFF &&
      printf '%s %s\n' exe.no_size_options_bytes "$(stat -c %s "$work/no-size-options/FernquillSetup.exe")" >>"$results"
  }
  run_bench exe-size no_size
  window_start() {
    local line
    line="$("$build/wine-run" "$build/bench/window_start_bench.exe" "$(fernquill_windows_path "$stripped")" "$starts" |
      tr -d '\r')" || return 1
    echo "$line"
    grep -q 'median_ms=' <<<"$line" || return 1
    sed -E 's/.*starts=([0-9]+) median_ms=([0-9]+) min_ms=([0-9]+) max_ms=([0-9]+).*/window.starts \1\nwindow.median_ms \2\nwindow.min_ms \3\nwindow.max_ms \4/' \
      <<<"$line" >>"$results"
  }
  run_bench window window_start
fi

# ---------------------------------------------------------------------------------------------------
value() { awk -v k="$1" '$1 == k { v = $2 } END { if (v == "") print "-"; else print v }' "$results"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "-" || b == "-" || b == 0) print "-"; else printf "%.2f", a / b }'; }
mib_of_kib() { awk -v k="$1" 'BEGIN { if (k == "-") print "-"; else printf "%.1f", k / 1024 }'; }
row() { printf '%-52s %12s %22s %9s\n' "$@"; }

dl_small="$(value download.small_mib)" dl_large="$(value download.large_mib)"
sha_small="$(value sha256.small_mib)" sha_large="$(value sha256.large_mib)"
files="$(value deploy.files)" deploy_mib="$(value deploy.mib)"

echo
echo "Fernquill Setup benchmarks: Release build under $(/usr/lib/wine/wine64 --version 2>/dev/null || echo Wine)," \
  "$(nproc) cores, $(date -u '+%Y-%m-%d %H:%M UTC')$([ "$quick" = 1 ] && echo ', quick run')"
row "measure" "Fernquill" "reference" "ratio"
row "download $dl_large MiB over localhost TLS, MiB/s" "$(value download.ours_mib_per_s)" \
  "bare WinHTTP $(value download.bare_mib_per_s)" \
  "$(ratio "$(value download.ours_mib_per_s)" "$(value download.bare_mib_per_s)")"
row "download $dl_large MiB over localhost TLS, MiB/s" "$(value download.ours_mib_per_s)" \
  "bare + posts $(value download.posting_mib_per_s)" \
  "$(ratio "$(value download.ours_mib_per_s)" "$(value download.posting_mib_per_s)")"
row "download $dl_large MiB over localhost TLS, MiB/s" "$(value download.ours_mib_per_s)" \
  "curl $(value download.curl_mib_per_s)" "$(ratio "$(value download.ours_mib_per_s)" "$(value download.curl_mib_per_s)")"
row "SHA-256 of $sha_large MiB (page cache), MiB/s" "$(value sha256.ours_mib_per_s)" \
  "bare CNG $(value sha256.bare_mib_per_s)" "$(ratio "$(value sha256.ours_mib_per_s)" "$(value sha256.bare_mib_per_s)")"
row "SHA-256 of $sha_large MiB (page cache), MiB/s" "$(value sha256.ours_mib_per_s)" \
  "sha256sum $(value sha256.sha256sum_mib_per_s)" \
  "$(ratio "$(value sha256.ours_mib_per_s)" "$(value sha256.sha256sum_mib_per_s)")"
row "deploy $files files / $deploy_mib MiB, empty folder, s" "$(value deploy.ours_empty_s)" \
  "cp -r $(value deploy.cp_empty_s)" "$(ratio "$(value deploy.ours_empty_s)" "$(value deploy.cp_empty_s)")"
row "deploy $files files / $deploy_mib MiB, over an install, s" "$(value deploy.ours_populated_s)" \
  "cp -r $(value deploy.cp_populated_s)" "$(ratio "$(value deploy.ours_populated_s)" "$(value deploy.cp_populated_s)")"
row "deploy $files files / $deploy_mib MiB, empty folder, s" "$(value deploy.ours_empty_s)" \
  "bare walk $(value deploy.bare_empty_s)" "$(ratio "$(value deploy.ours_empty_s)" "$(value deploy.bare_empty_s)")"
row "deploy $files files / $deploy_mib MiB, over an install, s" "$(value deploy.ours_populated_s)" \
  "bare walk $(value deploy.bare_populated_s)" \
  "$(ratio "$(value deploy.ours_populated_s)" "$(value deploy.bare_populated_s)")"
row "deploy $files files / $deploy_mib MiB, empty folder, s" "$(value deploy.ours_empty_s)" \
  "checked walk $(value deploy.checked_empty_s)" \
  "$(ratio "$(value deploy.ours_empty_s)" "$(value deploy.checked_empty_s)")"
row "deploy $files files / $deploy_mib MiB, over an install, s" "$(value deploy.ours_populated_s)" \
  "checked walk $(value deploy.checked_populated_s)" \
  "$(ratio "$(value deploy.ours_populated_s)" "$(value deploy.checked_populated_s)")"
row "peak working set, download of a $dl_small MiB package, MiB" "$(mib_of_kib "$(value download.small_peak_kib)")" "" ""
row "peak working set, download of a $dl_large MiB package, MiB" "$(mib_of_kib "$(value download.large_peak_kib)")" "" ""
row "peak working set, SHA-256 of a $sha_small MiB package, MiB" "$(mib_of_kib "$(value sha256.small_peak_kib)")" "" ""
row "peak working set, SHA-256 of a $sha_large MiB package, MiB" "$(mib_of_kib "$(value sha256.large_peak_kib)")" "" ""
if [ "$has_installer" = 1 ]; then
  row "stripped Release FernquillSetup.exe, KiB" "$(awk -v b="$(value exe.bytes)" 'BEGIN { printf "%.0f", b / 1024 }')" \
    "unstripped $(awk -v b="$(value exe.unstripped_bytes)" 'BEGIN { printf "%.0f", b / 1024 }')" ""
  row "the same without the size options, KiB" \
    "$(awk -v b="$(value exe.no_size_options_bytes)" 'BEGIN { if (b == "-") print "-"; else printf "%.0f", b / 1024 }')" \
    "-Os, sections, --gc-sections" "$(ratio "$(value exe.bytes)" "$(value exe.no_size_options_bytes)")"
  row "start to window shown, ms (median of $(value window.starts))" "$(value window.median_ms)" \
    "min $(value window.min_ms), max $(value window.max_ms)" ""
else
  row "stripped Release FernquillSetup.exe, KiB" "not built" "" ""
  row "start to window shown, ms" "not built" "" ""
fi
echo "ratio: Fernquill / reference (throughput: higher is better; seconds: lower is better)"

if [ ${#failed[@]} -gt 0 ]; then
  echo "failed: ${failed[*]} (see $log)" >&2
  exit 1
fi

#!/usr/bin/env bash
# ComputeFileSha256 against a bare CNG loop (the platform's ceiling) and sha256sum on the same files in
# the same run: throughput on 512 MiB and the peak working set for 16 MiB and 512 MiB. Prints a table.
# Usage: bench/sha256.sh [build-dir]   (default: the mingw-release preset's tree, built here if needed)
# FERNQUILL_BENCH_SHA256_SMALL_MIB and FERNQUILL_BENCH_SHA256_LARGE_MIB change the two sizes,
# FERNQUILL_BENCH_REPEATS the repeats; with FERNQUILL_BENCH_RESULTS set, the figures are also appended
# to that file as "key value" lines.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/lib.sh"
build="${1:-$root/build/mingw-release}"
repeats="${FERNQUILL_BENCH_REPEATS:-3}"
small="${FERNQUILL_BENCH_SHA256_SMALL_MIB:-16}"
large="${FERNQUILL_BENCH_SHA256_LARGE_MIB:-512}"

if [ "$build" = "$root/build/mingw-release" ]; then
  fernquill_build_preset mingw-release sha256_bench bare_sha256_bench >/dev/null
fi
bench_exe="$build/bench/sha256_bench.exe"
[ -f "$bench_exe" ] || { echo "sha256.sh: $bench_exe is missing; build the target sha256_bench" >&2; exit 1; }
bare_exe="$build/bench/bare_sha256_bench.exe"
[ -f "$bare_exe" ] || { echo "sha256.sh: $bare_exe is missing; build the target bare_sha256_bench" >&2; exit 1; }

data="$build/bench-data"
mkdir -p "$data"
trap 'rm -rf "$data"' EXIT
head -c $((small * 1024 * 1024)) /dev/urandom >"$data/sha256_${small}mib.bin"
head -c $((large * 1024 * 1024)) /dev/urandom >"$data/sha256_${large}mib.bin"

calc() { awk "BEGIN { print $1 }"; }
field() { sed -n "s/.*\b$1=\([^ ]*\).*/\1/p" <<<"$2"; }

# Best of $repeats for sha256sum, from the page cache like the Windows side.
sha256sum_best() {
  local file="$1" best="" start end seconds digest
  for _ in $(seq "$repeats"); do
    start=$(date +%s.%N)
    digest=$(sha256sum "$file" | cut -d' ' -f1)
    end=$(date +%s.%N)
    seconds=$(calc "$end - $start")
    if [ -z "$best" ] || [ "$(calc "($seconds < $best) ? 1 : 0")" = 1 ]; then best=$seconds; fi
  done
  echo "$best $digest"
}

cat "$data"/*.bin >/dev/null  # warm the page cache for both sides
declare -A ours_line
for size in "$small" "$large"; do
  ours_line[$size]=$("$build/wine-run" "$bench_exe" "$(fernquill_windows_path "$data/sha256_${size}mib.bin")" "$repeats" | tr -d "\r")
done
bare_line=$("$build/wine-run" "$bare_exe" "$(fernquill_windows_path "$data/sha256_${large}mib.bin")" "$repeats" | tr -d "\r")
read -r linux_seconds linux_digest < <(sha256sum_best "$data/sha256_${large}mib.bin")
linux_small_digest=$(sha256sum "$data/sha256_${small}mib.bin" | cut -d' ' -f1)

mib() { awk "BEGIN { printf \"%.1f\", $1 / 1048576 }"; }
rate() { awk "BEGIN { printf \"%.1f\", $1 / 1048576 / $2 }"; }

ours_large="${ours_line[$large]}"
ours_small="${ours_line[$small]}"
for check in "$large:$ours_large:$linux_digest" "$small:$ours_small:$linux_small_digest" "$large:$bare_line:$linux_digest"; do
  IFS=: read -r size line expected <<<"$check"
  if [ "$(field digest "$line")" != "$expected" ]; then
    echo "sha256.sh: digests of the ${size} MiB file disagree: $(field digest "$line") vs $expected" >&2
    exit 1
  fi
done

large_bytes=$((large * 1024 * 1024))
ours_rate=$(field mib_per_second "$ours_large")
linux_rate=$(rate "$large_bytes" "$linux_seconds")
echo "SHA-256 of the same files in one run, best of $repeats from the page cache; digests agree."
echo "sha256sum's time includes starting it; ComputeFileSha256 is timed inside its process."
printf '%-8s  %-18s  %8s  %8s  %14s  %14s\n' "file" "tool" "seconds" "MiB/s" "peak WS (MiB)" "at start (MiB)"
for size in "$large" "$small"; do
  line="${ours_line[$size]}"
  printf '%-8s  %-18s  %8.3f  %8.1f  %14s  %14s\n' "$size MiB" "ComputeFileSha256" "$(field best_seconds "$line")" \
    "$(field mib_per_second "$line")" "$(mib "$(field peak_working_set "$line")")" \
    "$(mib "$(field peak_before_first_call "$line")")"
  if [ "$size" = "$large" ]; then
    printf '%-8s  %-18s  %8.3f  %8.1f  %14s  %14s\n' "$large MiB" "bare CNG loop" "$(field best_seconds "$bare_line")" \
      "$(field mib_per_second "$bare_line")" "-" "-"
    printf '%-8s  %-18s  %8.3f  %8.1f  %14s  %14s\n' "$large MiB" "sha256sum" "$linux_seconds" "$linux_rate" "-" "-"
  fi
done
bare_rate=$(field mib_per_second "$bare_line")
echo "throughput ratio ComputeFileSha256 / bare CNG loop ($large MiB): $(awk "BEGIN { printf \"%.2f\", $ours_rate / $bare_rate }")"
echo "throughput ratio ComputeFileSha256 / sha256sum ($large MiB): $(awk "BEGIN { printf \"%.2f\", $ours_rate / $linux_rate }")"

if [ -n "${FERNQUILL_BENCH_RESULTS:-}" ]; then
  printf '%s %s\n' sha256.small_mib "$small" sha256.large_mib "$large" sha256.ours_mib_per_s "$ours_rate" \
    sha256.sha256sum_mib_per_s "$linux_rate" sha256.bare_mib_per_s "$bare_rate" \
    sha256.small_peak_kib $(($(field peak_working_set "$ours_small") / 1024)) \
    sha256.large_peak_kib $(($(field peak_working_set "$ours_large") / 1024)) >>"$FERNQUILL_BENCH_RESULTS"
fi

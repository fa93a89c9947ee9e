#!/usr/bin/env bash
# Deployment benchmark: DeployStagedTree under Wine against a bare walk under Wine (FindFirstFileW,
# CreateDirectoryW, CopyFileW: the platform's own cost), the same walk reading each file's final path
# first (the cost of telling file links where a listing cannot, as under Wine) and `cp -r` of the same
# staged tree on the Linux side, in the same run, into an empty and into an already populated folder.
# Prints a table.
# Usage: bench/deploy.sh [build dir]   (default build/mingw; the benchmark target is built as needed)
# FERNQUILL_BENCH_FILES, FERNQUILL_BENCH_MIB and FERNQUILL_BENCH_ROUNDS change the tree and the rounds;
# with FERNQUILL_BENCH_RESULTS set, the figures are also appended to that file as "key value" lines.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/lib.sh"
build="$(cd "${1:-$root/build/mingw}" 2>/dev/null && pwd || true)"
if [ -z "$build" ] || [ ! -f "$build/CMakeCache.txt" ]; then
  fernquill_configure_preset mingw
  build="$root/build/mingw"
fi
files="${FERNQUILL_BENCH_FILES:-5000}"
mib="${FERNQUILL_BENCH_MIB:-256}"
rounds="${FERNQUILL_BENCH_ROUNDS:-3}"

fernquill_build_tree "$build" deploy_bench >/dev/null

work="$build/bench-work/deploy"
tree="$work/staging"
stamp="$work/staging-$files-$mib.done"
if [ ! -f "$stamp" ]; then
  rm -rf "$work"
  mkdir -p "$work"
  python3 "$root/bench/make_tree.py" "$tree" "$files" "$((mib * 1024 * 1024))"
  touch "$stamp"
fi
sync

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }
least() { printf '%s\n' "$@" | sort -g | head -n 1; }

cp_empty=()
cp_populated=()
for _ in $(seq "$rounds"); do
  rm -rf "$work/cp"
  t0=$(now)
  cp -r "$tree" "$work/cp"
  t1=$(now)
  cp -r "$tree/." "$work/cp/"
  t2=$(now)
  cp_empty+=("$(elapsed "$t0" "$t1")")
  cp_populated+=("$(elapsed "$t1" "$t2")")
done
rm -rf "$work/cp"

output="$("$build/wine-run" "$build/bench/deploy_bench.exe" "$(fernquill_windows_path "$tree")" \
  "$(fernquill_windows_path "$work")" "$rounds")"
mapfile -t deploy_empty < <(awk '$1 == "empty" { print $2 }' <<<"$output")
mapfile -t deploy_populated < <(awk '$1 == "populated" { print $2 }' <<<"$output")
mapfile -t bare_empty < <(awk '$1 == "bare_empty" { print $2 }' <<<"$output")
mapfile -t bare_populated < <(awk '$1 == "bare_populated" { print $2 }' <<<"$output")
mapfile -t checked_empty < <(awk '$1 == "checked_empty" { print $2 }' <<<"$output")
mapfile -t checked_populated < <(awk '$1 == "checked_populated" { print $2 }' <<<"$output")
if [ "${#deploy_empty[@]}" -ne "$rounds" ] || [ "${#deploy_populated[@]}" -ne "$rounds" ] ||
  [ "${#bare_empty[@]}" -ne "$rounds" ] || [ "${#bare_populated[@]}" -ne "$rounds" ] ||
  [ "${#checked_empty[@]}" -ne "$rounds" ] || [ "${#checked_populated[@]}" -ne "$rounds" ]; then
  echo "deploy_bench gave no figures:" >&2
  echo "$output" >&2
  exit 1
fi

row() {
  local name="$1" cp="$2" bare="$3" checked="$4" deploy="$5"
  awk -v name="$name" -v cp="$cp" -v bare="$bare" -v checked="$checked" -v deploy="$deploy" -v mib="$mib" 'BEGIN {
    printf "%-10s %8.3f %8.3f %8.3f %8.3f %8.0f %9.2fx %9.2fx %9.2fx\n", name, cp, bare, checked, deploy,
      mib / deploy, bare / deploy, checked / deploy, cp / deploy }'
}
echo "Deployment: $files files, $mib MiB, best of $rounds rounds (cp -r on Linux; the bare walks and" \
  "DeployStagedTree under Wine; checked: the bare walk reading each file's final path first)"
printf '%-10s %8s %8s %8s %8s %8s %10s %10s %10s\n' "install" "cp -r s" "bare s" "checked" "deploy s" \
  "MiB/s" "vs bare" "vs checked" "vs cp -r"
row "empty" "$(least "${cp_empty[@]}")" "$(least "${bare_empty[@]}")" "$(least "${checked_empty[@]}")" \
  "$(least "${deploy_empty[@]}")"
row "populated" "$(least "${cp_populated[@]}")" "$(least "${bare_populated[@]}")" \
  "$(least "${checked_populated[@]}")" "$(least "${deploy_populated[@]}")"
echo "vs: DeployStagedTree's speed as a multiple of the reference's (1.00x: as fast)"

if [ -n "${FERNQUILL_BENCH_RESULTS:-}" ]; then
  printf '%s %s\n' deploy.files "$files" deploy.mib "$mib" deploy.rounds "$rounds" \
    deploy.ours_empty_s "$(least "${deploy_empty[@]}")" deploy.cp_empty_s "$(least "${cp_empty[@]}")" \
    deploy.ours_populated_s "$(least "${deploy_populated[@]}")" \
    deploy.cp_populated_s "$(least "${cp_populated[@]}")" deploy.bare_empty_s "$(least "${bare_empty[@]}")" \
    deploy.bare_populated_s "$(least "${bare_populated[@]}")" \
    deploy.checked_empty_s "$(least "${checked_empty[@]}")" \
    deploy.checked_populated_s "$(least "${checked_populated[@]}")" >>"$FERNQUILL_BENCH_RESULTS"
fi

#!/usr/bin/env bash
# Builds the Release installer for one update host, strips it, signs it (Authenticode, SHA-256) when a
# certificate is given, verifies the signature, checks the exe and prints its size and SHA-256.
#
#   scripts/release.sh --host HOST [--pkcs12 FILE (--password-file FILE | $FERNQUILL_SIGN_PASSWORD)]
#                      [--timestamp-url URL] [--ca-file FILE] [--out DIR] [--build-dir DIR] [-D NAME=VALUE]...
#
# HOST is host or host:port of the update server. The installer lands at DIR/FernquillSetup.exe (default
# release/). The certificate's password is read from the file, or from the environment variable
# FERNQUILL_SIGN_PASSWORD; it never appears on a command line. --timestamp-url adds an RFC 3161 time
# stamp. --ca-file verifies against those CA certificates instead of the system's. -D passes a cache
# setting to CMake (FERNQUILL_COMPANY_NAME, FERNQUILL_LEGAL_COPYRIGHT). Without --pkcs12 the installer
# is built unsigned and the script says so.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

usage() {
  sed -n '5,6p' "${BASH_SOURCE[0]}" | sed 's/^# *//' >&2
  exit 2
}
fail() { echo "release.sh: $*" >&2; exit 1; }

host="" pkcs12="" password_file="" timestamp_url="" ca_file="" out="$root/release" build="$root/build/release"
defines=()
while [ $# -gt 0 ]; do
  case "$1" in
    --host) host="${2:-}"; shift 2 ;;
    --pkcs12) pkcs12="${2:-}"; shift 2 ;;
    --password-file) password_file="${2:-}"; shift 2 ;;
    --timestamp-url) timestamp_url="${2:-}"; shift 2 ;;
    --ca-file) ca_file="${2:-}"; shift 2 ;;
    --out) out="${2:-}"; shift 2 ;;
    --build-dir) build="${2:-}"; shift 2 ;;
    -D) defines+=("-D${2:-}"); shift 2 ;;
    -D*) defines+=("$1"); shift ;;
    -h|--help) usage ;;
    *) echo "release.sh: unknown argument $1" >&2; usage ;;
  esac
done
[ -n "$host" ] || { echo "release.sh: --host is required" >&2; usage; }
case "$host" in
  *[!A-Za-z0-9.:-]*|"") fail "--host must be a host name or host:port, not '$host'" ;;
esac
if [ -n "$pkcs12" ]; then
  [ -f "$pkcs12" ] || fail "no certificate file $pkcs12"
  if [ -n "$password_file" ]; then
    [ -f "$password_file" ] || fail "no password file $password_file"
  elif [ -z "${FERNQUILL_SIGN_PASSWORD+set}" ]; then
    fail "--pkcs12 needs --password-file FILE or the environment variable FERNQUILL_SIGN_PASSWORD"
  fi
elif [ -n "$password_file$timestamp_url" ]; then
  fail "--password-file and --timestamp-url need --pkcs12"
fi
[ -z "$ca_file" ] || [ -f "$ca_file" ] || fail "no CA file $ca_file"

prefix=x86_64-w64-mingw32
for tool in cmake "$prefix-strip" "$prefix-objdump" python3 sha256sum; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/install-deps.sh)"
done
[ -z "$pkcs12" ] || command -v osslsigncode >/dev/null || fail "osslsigncode is missing (scripts/install-deps.sh)"

echo "== building the Release installer for https://$host/updates/latest.txt in $build"
mkdir -p "$build" "$out"
out="$(cd "$out" && pwd)"
log="$build/release-build.log"
{
  cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DFERNQUILL_BUILD_TESTS=OFF -DFERNQUILL_UPDATE_HOST="$host" "${defines[@]}" &&
    cmake --build "$build" -j2 --target FernquillSetup
} >"$log" 2>&1 || {
  tail -n 30 "$log" >&2
  fail "the build failed; the whole log is $log"
}

exe="$out/FernquillSetup.exe"
rm -f "$exe"  # a failed run must not leave an older installer looking like its result
work="$(mktemp -d "$out/.release.XXXXXX")"
trap 'rm -rf "$work"' EXIT
# strip writes a time stamp into the PE header unless told the build's date: none, like the linker.
SOURCE_DATE_EPOCH=0 "$prefix-strip" -o "$work/unsigned.exe" "$build/FernquillSetup.exe"

echo "== checking the exe"
python3 "$root/tests/app/check_pe.py" "$prefix-objdump" "$work/unsigned.exe" | sed "s|$work/unsigned.exe|FernquillSetup.exe|" ||
  fail "the exe does not pass the PE checks"
python3 "$root/tests/app/check_imports.py" "$prefix-objdump" "$work/unsigned.exe" | sed "s|$work/unsigned.exe|FernquillSetup.exe|" ||
  fail "the exe imports DLLs at load time that it must bind late"

if [ -n "$pkcs12" ]; then
  echo "== signing with $(basename "$pkcs12") (Authenticode, SHA-256${timestamp_url:+, time stamp from $timestamp_url})"
  sign=(osslsigncode sign -pkcs12 "$pkcs12" -h sha256 -n "Fernquill Setup")
  [ -z "$timestamp_url" ] || sign+=(-ts "$timestamp_url")
  # The password reaches osslsigncode as a file: a given one, or a pipe fed by a shell builtin.
  if [ -n "$password_file" ]; then
    "${sign[@]}" -readpass "$password_file" -in "$work/unsigned.exe" -out "$work/signed.exe" >"$work/sign.log" 2>&1
  else
    "${sign[@]}" -readpass <(printf '%s' "$FERNQUILL_SIGN_PASSWORD") -in "$work/unsigned.exe" \
      -out "$work/signed.exe" >"$work/sign.log" 2>&1
  fi || { cat "$work/sign.log" >&2; fail "signing failed"; }
  verify=(osslsigncode verify -in "$work/signed.exe")
  [ -z "$ca_file" ] || verify+=(-CAfile "$ca_file")
  if ! "${verify[@]}" >"$work/verify.log" 2>&1; then
    cat "$work/verify.log" >&2
    fail "the signature does not verify${ca_file:+ against $ca_file}"
  fi
  for line in "Subject:" "Issuer :" "Current message digest" "Calculated message digest" "Timestamp" \
              "Signature verification"; do
    grep -m1 -F "$line" "$work/verify.log" | sed 's/^[[:space:]]*/  /; s/[[:space:]]*$//'
  done
  mv "$work/signed.exe" "$exe"
  state="signed"
else
  mv "$work/unsigned.exe" "$exe"
  state="UNSIGNED (no --pkcs12 given)"
fi

echo "== $exe"
echo "update host: $host"
echo "signature:   $state"
echo "size:        $(stat -c %s "$exe") bytes"
echo "sha256:      $(sha256sum "$exe" | cut -d' ' -f1)"

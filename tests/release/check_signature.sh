#!/usr/bin/env bash
# Checks the signing fixture's installers on the Linux side:
#   check_signature.sh verify BUILD_DIR    the signed exe verifies against its CA, and only against it
#   check_signature.sh compare BUILD_DIR   compare-signed.sh finds the unsigned build inside the signed one
#                                          and tells another build apart
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
mode="${1:?usage: check_signature.sh verify|compare BUILD_DIR}"
state="${2:?usage: check_signature.sh verify|compare BUILD_DIR}/release"
signed="$state/signed/FernquillSetup.exe"
unsigned="$state/unsigned/FernquillSetup.exe"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0
expect() {  # expected exit code, description, command...
  local expected="$1" what="$2" code=0
  shift 2
  "$@" >"$work/out.txt" 2>&1 || code=$?
  if [ "$code" = "$expected" ]; then
    echo "ok: $what (exit $code)"
  else
    echo "FAILED: $what: exit $code, expected $expected"
    sed 's/^/  | /' "$work/out.txt"
    failures=$((failures + 1))
  fi
}

case "$mode" in
  verify)
    expect 0 "signed exe verifies against the throw-away CA" \
      osslsigncode verify -CAfile "$state/cert/ca.pem" -in "$signed"
    grep -q '^Calculated message digest.*MISMATCH' "$work/out.txt" && { echo "FAILED: digest mismatch"; failures=$((failures + 1)); }
    bash "$here/make-signing-cert.sh" "$work/other" >/dev/null
    expect 1 "signed exe does not verify against another CA" \
      osslsigncode verify -CAfile "$work/other/ca.pem" -in "$signed"
    expect 1 "unsigned exe has no signature to verify" \
      osslsigncode verify -CAfile "$state/cert/ca.pem" -in "$unsigned"
    cp "$signed" "$work/changed.exe"
    printf '\x5a' | dd of="$work/changed.exe" bs=1 seek=4096 conv=notrunc 2>/dev/null
    expect 1 "signed exe with one byte changed does not verify" \
      osslsigncode verify -CAfile "$state/cert/ca.pem" -in "$work/changed.exe"
    ;;
  compare)
    expect 0 "the unsigned build is the signed installer's content" \
      bash "$root/scripts/compare-signed.sh" "$signed" "$unsigned"
    grep -q '^SAME:' "$work/out.txt" || { echo "FAILED: no SAME verdict"; failures=$((failures + 1)); }
    grep -q 'byte-identical' "$work/out.txt" || { echo "FAILED: the attached signature does not give the published bytes"; failures=$((failures + 1)); }
    expect 1 "another build (the tree's Debug installer) is told apart" \
      bash "$root/scripts/compare-signed.sh" "$signed" "$state/../FernquillSetup.exe"
    ;;
  *) echo "check_signature.sh: unknown mode $mode" >&2; exit 2 ;;
esac
[ "$failures" = 0 ]

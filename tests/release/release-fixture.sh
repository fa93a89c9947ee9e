#!/usr/bin/env bash
# Builds the Release installer once per test run for the signing tests, through scripts/release.sh:
#   release-fixture.sh BUILD_DIR HOST
# BUILD_DIR/release/signed/FernquillSetup.exe is signed with a throw-away certificate (made once per
# build tree, its CA trusted in the test prefix as a publisher's CA is on Windows), and
# BUILD_DIR/release/unsigned/FernquillSetup.exe is the same build without a signature.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
source "$root/scripts/lib.sh"
build="${1:?usage: release-fixture.sh BUILD_DIR HOST}"
host="${2:?usage: release-fixture.sh BUILD_DIR HOST}"
state="$build/release"
cert="$state/cert"

[ -f "$cert/publisher.p12" ] && [ -f "$cert/password.txt" ] || bash "$here/make-signing-cert.sh" "$cert"
openssl x509 -in "$cert/ca.pem" -outform DER -out "$cert/ca.der"
fingerprint="$(openssl x509 -in "$cert/ca.pem" -noout -fingerprint -sha256)"
stamp="$cert/trusted-in-prefix"
if ! [ -f "$stamp" ] || [ "$(cat "$stamp")" != "$fingerprint" ]; then
  "$build/wine-run" "$build/equipment/trust_test_ca.exe" "$(fernquill_windows_path "$cert/ca.der")"
  echo "$fingerprint" >"$stamp"
fi

rm -rf "$state/signed" "$state/unsigned"
bash "$root/scripts/release.sh" --host "$host" --build-dir "$state/build" --out "$state/signed" \
  --pkcs12 "$cert/publisher.p12" --password-file "$cert/password.txt" --ca-file "$cert/ca.pem"
# The same build tree again, now up to date: only the strip and the checks run.
bash "$root/scripts/release.sh" --host "$host" --build-dir "$state/build" --out "$state/unsigned"

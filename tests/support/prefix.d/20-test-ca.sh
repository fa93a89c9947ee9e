#!/usr/bin/env bash
# Makes the test certificates (once per build tree) and trusts the test CA in the prefix (once per CA).
set -euo pipefail
[ "${1:-}" = "--shutdown" ] && exit 0
certs="$FERNQUILL_BUILD_DIR/server/certs"
bash "$FERNQUILL_SOURCE_DIR/tests/support/server/make-certs.sh" "$certs"

fingerprint="$(openssl x509 -in "$certs/ca.pem" -noout -fingerprint -sha256)"
stamp="$WINEPREFIX/.fernquill-test-ca"
[ -f "$stamp" ] && [ "$(cat "$stamp")" = "$fingerprint" ] && exit 0

helper="$FERNQUILL_BUILD_DIR/equipment/trust_test_ca.exe"
[ -f "$helper" ] || { echo "20-test-ca: $helper is not built" >&2; exit 1; }
"$WINE" "$helper" "$FERNQUILL_BUILD_DIR_WIN\\server\\certs\\ca.der"
echo "$fingerprint" >"$stamp"
echo "test CA trusted: $fingerprint"

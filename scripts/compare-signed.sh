#!/usr/bin/env bash
# Checks a signed, published FernquillSetup.exe against your own unsigned build of the same commit:
#   scripts/compare-signed.sh PUBLISHED_SIGNED.exe YOUR_UNSIGNED.exe
# A signature changes the PE checksum and appends itself, so the files differ; the Authenticode digest
# leaves both out. The script compares the digest the publisher signed with the digest of your build,
# and also attaches the published signature to your build, which gives the published file byte for byte
# when the two builds are the same. It checks contents only: trust in the publisher's certificate is
# Windows's business (or: osslsigncode verify -CAfile ...).
# Build yours with: scripts/release.sh --host <the publisher's update host> (no --pkcs12).
set -euo pipefail
published="${1:?usage: compare-signed.sh PUBLISHED_SIGNED.exe YOUR_UNSIGNED.exe}"
own="${2:?usage: compare-signed.sh PUBLISHED_SIGNED.exe YOUR_UNSIGNED.exe}"
command -v osslsigncode >/dev/null || { echo "compare-signed.sh: osslsigncode is missing" >&2; exit 1; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# verify fails on an untrusted chain but still prints both digests of the signed file.
osslsigncode verify -in "$published" >"$work/verify.txt" 2>&1 || true
field() { sed -n "s/^$1[[:space:]]*: \([0-9A-Za-z]*\).*/\1/p" "$work/verify.txt" | head -n 1; }
algorithm="$(field 'Message digest algorithm')"
signed_digest="$(field 'Current message digest')"
published_digest="$(field 'Calculated message digest')"
[ -n "$signed_digest" ] || { echo "$published carries no Authenticode signature" >&2; exit 1; }
[ "$algorithm" = SHA256 ] || { echo "$published is signed with $algorithm, not SHA256" >&2; exit 1; }
echo "digest the publisher signed:      $signed_digest"
if [ "$signed_digest" != "$published_digest" ]; then
  echo "digest of the published file:     $published_digest" >&2
  echo "the published file was changed after signing" >&2
  exit 1
fi

# The digest of your build, as it would be signed: the last 32-byte OCTET STRING of the signed data.
osslsigncode extract-data -h sha256 -in "$own" -out "$work/data.der" >"$work/extract.txt" 2>&1 ||
  { cat "$work/extract.txt" >&2; exit 1; }
own_digest="$(openssl asn1parse -inform DER -in "$work/data.der" 2>/dev/null |
  sed -n 's/.*l=  32 prim: OCTET STRING *\[HEX DUMP\]:\([0-9A-F]*\).*/\1/p' | tail -n 1)"
echo "digest of your build:             ${own_digest:-(none)}"
if [ "$own_digest" != "$signed_digest" ]; then
  echo "DIFFERENT: the published installer is not the same build as yours" >&2
  exit 1
fi

osslsigncode extract-signature -in "$published" -out "$work/signature.der" >/dev/null 2>&1
osslsigncode attach-signature -sigin "$work/signature.der" -in "$own" -out "$work/attached.exe" >/dev/null 2>&1 || true
if [ -f "$work/attached.exe" ] && cmp -s "$work/attached.exe" "$published"; then
  echo "your build with the published signature attached is byte-identical to the published file"
fi
echo "SAME: the published installer is your build, signed"

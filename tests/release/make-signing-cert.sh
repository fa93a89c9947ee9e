#!/usr/bin/env bash
# Makes a throw-away code-signing CA and a publisher certificate signed by it, for signing tests:
#   make-signing-cert.sh DIR   ->  DIR/ca.pem, DIR/publisher.p12 (PKCS#12), DIR/password.txt
# Nothing here is ever trusted outside the test that made it; every call makes new keys.
set -euo pipefail
dir="${1:?usage: make-signing-cert.sh DIR}"
mkdir -p "$dir"
cd "$dir"
rm -f ca.key ca.pem ca.srl publisher.key publisher.csr publisher.pem publisher.p12 password.txt
umask 077
openssl rand -hex 16 >password.txt
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 30 \
  -subj "/CN=Fernquill Throw-away Code Signing CA" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout publisher.key -out publisher.csr \
  -subj "/CN=Fernquill Throw-away Publisher" 2>/dev/null
openssl x509 -req -in publisher.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out publisher.pem -days 30 \
  -extfile <(printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n') \
  2>/dev/null
openssl pkcs12 -export -inkey publisher.key -in publisher.pem -certfile ca.pem -out publisher.p12 \
  -passout file:password.txt
rm -f ca.key ca.srl publisher.key publisher.csr
chmod 644 ca.pem

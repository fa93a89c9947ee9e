#!/usr/bin/env bash
# Makes the test certificates once per build tree: a trusted test CA with server certificates for
# localhost, one for another host name, one expired, and one from a second CA that nobody trusts.
# Usage: make-certs.sh <certs folder>. Safe to run from parallel processes.
set -euo pipefail
dir="${1:?usage: make-certs.sh <certs folder>}"
mkdir -p "$dir"
exec 9>"$dir/.lock"
flock 9
[ -f "$dir/.complete" ] && exit 0

work="$(mktemp -d "$dir/.work.XXXXXX")"
trap 'rm -rf "$work"' EXIT
cd "$work"

make_ca() {  # name, common name
  openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 -keyout "$1.key" -out "$1.pem" \
    -subj "/O=Fernquill Test/CN=$2" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
    2>/dev/null
}

# Signs with `openssl ca`, the one tool of OpenSSL 3.0 that takes explicit validity dates.
make_server() {  # name, CA name, DNS name, start date, end date
  local name="$1" ca="$2" dns="$3"
  openssl req -newkey rsa:2048 -nodes -sha256 -keyout "$name.key" -out "$name.csr" \
    -subj "/O=Fernquill Test/CN=$dns" 2>/dev/null
  mkdir -p "db-$ca"
  [ -f "db-$ca/index.txt" ] || { : >"db-$ca/index.txt"; echo 1000 >"db-$ca/serial"; }
  cat >"$name.cnf" <<CNF
[ ca ]
default_ca = test_ca
[ test_ca ]
database = db-$ca/index.txt
serial = db-$ca/serial
new_certs_dir = db-$ca
certificate = $ca.pem
private_key = $ca.key
default_md = sha256
policy = any
unique_subject = no
copy_extensions = none
[ any ]
organizationName = optional
commonName = supplied
[ server ]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature,keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:$dns
CNF
  openssl ca -batch -notext -config "$name.cnf" -extensions server -in "$name.csr" -out "$name.pem" \
    -startdate "$4" -enddate "$5" 2>/dev/null
}

make_ca ca "Fernquill Test CA"
make_ca other-ca "Fernquill Untrusted Test CA"
stamp() { date -u -d "$1" +%Y%m%d%H%M%SZ; }
valid_from="$(stamp '-1 day')"
valid_to="$(stamp '+9 years')"
make_server localhost ca localhost "$valid_from" "$valid_to"
make_server wrong-host ca wrong-host.fernquill.test "$valid_from" "$valid_to"
make_server expired ca localhost "$(stamp '-2 years')" "$(stamp '-1 year')"
make_server untrusted other-ca localhost "$valid_from" "$valid_to"
openssl x509 -in ca.pem -outform DER -out ca.der

for f in ca.pem ca.der localhost.pem localhost.key wrong-host.pem wrong-host.key expired.pem expired.key \
         untrusted.pem untrusted.key; do
  cp "$f" "$dir/$f"
done
touch "$dir/.complete"

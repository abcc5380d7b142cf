#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Makes a certificate authority and three server certificates signed by it, for
# the TLS tests:  make_test_ca.sh DIR
#   DIR/ca.pem                      the authority (trust it with --ca-file)
#   DIR/good.pem, good.key          for localhost and 127.0.0.1, valid now
#   DIR/other.pem, other.key        for other.example only
#   DIR/expired.pem, expired.key    for localhost and 127.0.0.1, expired in 2020
set -euo pipefail
dir=$1
mkdir -p "$dir"
cd "$dir"
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 \
  -subj "/CN=Pellora Test CA" 2>/dev/null
mkdir -p db && : >db/index.txt && echo 1000 >db/serial
cat >ca.cnf <<'CNF'
[ca]
default_ca = test
[test]
database = db/index.txt
serial = db/serial
new_certs_dir = db
certificate = ca.pem
private_key = ca.key
default_md = sha256
policy = any
unique_subject = no
copy_extensions = copy
[any]
commonName = supplied
CNF
sign() {  # name common-name subject-alt-names [ca options...]
  local name=$1 cn=$2 san=$3
  shift 3
  openssl req -newkey rsa:2048 -nodes -keyout "$name.key" -out "$name.csr" -subj "/CN=$cn" \
    -addext "subjectAltName=$san" 2>/dev/null
  openssl ca -batch -config ca.cnf -in "$name.csr" -out "$name.pem" -notext "$@" 2>/dev/null
}
sign good localhost "DNS:localhost,IP:127.0.0.1" -days 2
sign other other.example "DNS:other.example" -days 2
sign expired localhost "DNS:localhost,IP:127.0.0.1" -startdate 20200101000000Z -enddate 20200102000000Z

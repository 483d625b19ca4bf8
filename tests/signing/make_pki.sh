#!/usr/bin/env bash
# Makes throw-away keys and certificates for signing tests and the demo, in
# the folder given (created when missing), with the openssl program:
#   root.pem root.key            a root CA
#   inter.pem inter.key          an intermediate CA under the root
#   leaf.pem leaf.key            a code-signing certificate under the intermediate
#   chain.pem                    leaf.pem then inter.pem, what --sign-cert takes
#   expired.pem expired.key      code signing, under the intermediate, expired in 2020
#   server.pem server.key        under the intermediate, for TLS servers only
#   other.key                    a key that matches none of the certificates
#   other-root.pem               a root that signed none of them
#   leaf.p12                     leaf key and chain, password in FWPACK_PKI_PASSWORD (default "pki-pass")
#   tsa.pem tsa.key tsa.cnf      a time-stamp authority under the root, and its openssl ts config
#   old-root.pem old-root.key    a root valid from 2019 to 2040
#   lapsed.pem lapsed.key        code signing under old-root, valid only in January 2020
#   rogue-tsa.pem rogue-tsa.key  a self-made time-stamp authority, valid from 2019 to 2040
set -euo pipefail
dir=${1:?usage: make_pki.sh DIR}
mkdir -p "$dir"
cd "$dir"
password=${FWPACK_PKI_PASSWORD:-pki-pass}
days=30

key() { openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$1.key" 2>/dev/null; }
extensions() { printf '%s\n' "$@" > ext.cnf; }
# issue NAME SUBJECT ISSUER [openssl ca dates...]: a certificate for NAME.key signed by ISSUER.
issue() {
  local name=$1 subject=$2 issuer=$3
  shift 3
  openssl req -new -key "$name.key" -subj "$subject" -out "$name.csr" 2>/dev/null
  openssl ca -batch -notext -config ca.cnf -cert "$issuer.pem" -keyfile "$issuer.key" \
    -extfile ext.cnf -in "$name.csr" -out "$name.pem" "$@" 2>/dev/null
  rm -f "$name.csr"
}

rm -f index.txt* serial*
: > index.txt
mkdir -p issued
echo 1000 > serial
cat > ca.cnf <<CNF
[ca]
default_ca = ca_default
[ca_default]
dir = .
database = index.txt
new_certs_dir = issued
serial = serial
default_md = sha256
default_days = $days
policy = policy_any
unique_subject = no
[policy_any]
commonName = supplied
organizationName = optional
CNF

key root
openssl req -x509 -new -key root.key -subj "/CN=fwpack Test Root" -days $days -out root.pem \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
key other
openssl req -x509 -new -key other.key -subj "/CN=fwpack Other Root" -days $days -out other-root.pem 2>/dev/null

key inter
extensions "basicConstraints=critical,CA:TRUE" "keyUsage=critical,keyCertSign,cRLSign"
issue inter "/CN=fwpack Test Intermediate" root

extensions "basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature" "extendedKeyUsage=codeSigning"
key leaf
issue leaf "/CN=fwpack Test Signer/O=Example Firmware" inter
key expired
issue expired "/CN=fwpack Expired Signer" inter -startdate 20200101000000Z -enddate 20200201000000Z

extensions "basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature" "extendedKeyUsage=serverAuth"
key server
issue server "/CN=fwpack Server" inter

extensions "basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature,nonRepudiation" "extendedKeyUsage=critical,timeStamping"
key tsa
issue tsa "/CN=fwpack Test Time-Stamp Authority" root

# selfsign NAME SUBJECT: a self-signed certificate for NAME.key valid from 2019 to 2040.
selfsign() {
  openssl req -new -key "$1.key" -subj "$2" -out "$1.csr" 2>/dev/null
  openssl ca -batch -notext -selfsign -config ca.cnf -keyfile "$1.key" -extfile ext.cnf -in "$1.csr" \
    -out "$1.pem" -startdate 20190101000000Z -enddate 20400101000000Z 2>/dev/null
  rm -f "$1.csr"
}
key old-root
extensions "basicConstraints=critical,CA:TRUE" "keyUsage=critical,keyCertSign,cRLSign"
selfsign old-root "/CN=fwpack Old Root"
key lapsed
extensions "basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature" "extendedKeyUsage=codeSigning"
issue lapsed "/CN=fwpack Lapsed Signer" old-root -startdate 20200101000000Z -enddate 20200201000000Z
key rogue-tsa
extensions "basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature,nonRepudiation" "extendedKeyUsage=critical,timeStamping"
selfsign rogue-tsa "/CN=fwpack Rogue Time-Stamp Authority"

cat leaf.pem inter.pem > chain.pem
openssl pkcs12 -export -inkey leaf.key -in leaf.pem -certfile inter.pem -passout "pass:$password" -out leaf.p12
cat root.pem inter.pem > tsa-chain.pem
cat > tsa.cnf <<CNF
[tsa]
default_tsa = tsa_config
[tsa_config]
dir = .
serial = tsa-serial
signer_cert = tsa.pem
certs = tsa-chain.pem
signer_key = tsa.key
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256, sha384, sha512
accuracy = secs:1
ordering = yes
tsa_name = no
ess_cert_id_chain = no
ess_cert_id_alg = sha256
CNF
echo 01 > tsa-serial
rm -f ext.cnf

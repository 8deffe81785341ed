#!/usr/bin/env bash
# The signed stand-ins for the .NET Framework offline installer, made from
# ndp_stub.exe and other_microsoft_stub.exe at build time with openssl and
# osslsigncode (offline). A test root and the certificates below it are made
# once per build tree and kept there, never in the repository: its
# thumbprint is what the tests pin.
# Usage: sign_stand_ins.sh NDP_STUB.exe OUT_DIR OTHER_MICROSOFT_STUB.exe
# Leaves in OUT_DIR:
#   root.pem, root.sha1       the test root ("Tarnel Test Code Signing Root") and its SHA-1
#   self.pem, self.sha1       a self-made certificate that merely says "Microsoft Corporation"
#   genuine.exe               signed by the test root's "Microsoft Corporation"
#   other-microsoft.exe       OTHER_MICROSOFT_STUB.exe (version information of
#                             "Microsoft Paint") signed as genuine.exe is
#   self-made.exe             signed by the self-made certificate
#   stranger.exe, stranger.sha1  signed by another self-made "Microsoft Corporation"
#                             that no test ever trusts, and its SHA-1
#   other-name.exe            signed under the test root as "Example Publisher"
#   unsigned.exe              ndp_stub.exe as built
#   tampered.exe              genuine.exe with one byte changed after signing
set -euo pipefail
stub=$(realpath "$1") out=$2 other=$(realpath "$3")
mkdir -p "$out/keys"
cd "$out/keys"
quiet() { "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }; }
cat >ca.cnf <<'CNF'
[req]
distinguished_name=dn
[dn]
[ca]
basicConstraints=critical,CA:true
keyUsage=critical,keyCertSign,cRLSign,digitalSignature
subjectKeyIdentifier=hash
[self]
basicConstraints=critical,CA:true
keyUsage=critical,keyCertSign,digitalSignature
extendedKeyUsage=codeSigning
subjectKeyIdentifier=hash
[cs]
basicConstraints=critical,CA:false
keyUsage=critical,digitalSignature
extendedKeyUsage=codeSigning
authorityKeyIdentifier=keyid
CNF
if [[ ! -f stranger.pem ]]; then
  quiet openssl req -x509 -newkey rsa:2048 -nodes -keyout root.key -out root.pem -days 7300 -sha256 \
    -subj "/CN=Tarnel Test Code Signing Root" -config ca.cnf -extensions ca
  for self in self stranger; do
    quiet openssl req -x509 -newkey rsa:2048 -nodes -keyout $self.key -out $self.pem -days 7300 -sha256 \
      -subj "/C=US/O=Microsoft Corporation/CN=Microsoft Corporation" -config ca.cnf -extensions self
  done
  for who in "ms:/C=US/O=Microsoft Corporation/CN=Microsoft Corporation" "other:/CN=Example Publisher"; do
    name=${who%%:*}
    quiet openssl req -newkey rsa:2048 -nodes -keyout "$name.key" -out "$name.csr" -subj "${who#*:}" -config ca.cnf
    quiet openssl x509 -req -in "$name.csr" -CA root.pem -CAkey root.key -CAcreateserial -out "$name.pem" -days 7300 \
      -sha256 -extfile ca.cnf -extensions cs
  done
fi
for cert in root self stranger; do
  openssl x509 -in $cert.pem -noout -fingerprint -sha1 | sed 's/.*=//; s/://g' >../$cert.sha1
  cp $cert.pem ../$cert.pem
done
cd ..
sign() {  # KEY CERT OUT [IN]
  rm -f "$3"
  quiet osslsigncode sign -h sha256 -key "keys/$1" -certs "keys/$2" -n ".NET Framework" -in "${4:-$stub}" -out "$3"
}
sign ms.key ms.pem genuine.exe
sign ms.key ms.pem other-microsoft.exe "$other"
sign self.key self.pem self-made.exe
sign stranger.key stranger.pem stranger.exe
sign other.key other.pem other-name.exe
cp "$stub" unsigned.exe
cp genuine.exe tampered.exe
# One byte of the DOS stub's message ("This program cannot be run in DOS
# mode"): covered by the signature, harmless if the program were run.
printf 't' | dd of=tampered.exe bs=1 seek=$((0x4E)) conv=notrunc status=none
cmp -s genuine.exe tampered.exe && { echo "tampered.exe is unchanged" >&2; exit 1; }
osslsigncode verify -in genuine.exe -CAfile root.pem >/dev/null
osslsigncode verify -in other-microsoft.exe -CAfile root.pem >/dev/null

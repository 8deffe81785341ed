#!/usr/bin/env bash
# A signed installer made as a publisher makes one, for the end-to-end test
# that installs it under Wine: a certificate authority and a code-signing
# certificate made here with openssl (offline), the application folder
# packed with our uninstaller signed, the installer built, branded and
# signed by the native mkinstaller that `make build` leaves in dist/, and
# both signatures verified. Beside it, an installer whose uninstaller is not
# signed (it keeps its list in its own resources, as every installation made
# before signed uninstallers did).
# Usage: signed_setup.sh MKINSTALLER MARKER.EXE LOGO.png OUT_DIR
# Leaves in OUT_DIR: config.json, logo.png, package.zip, signed-setup.exe,
# packed-uninst.exe (the signed uninstaller the package carries), ca.pem,
# oldstyle-setup.exe.
set -euo pipefail
mkinstaller=$(realpath "$1") marker=$(realpath "$2") logo=$(realpath "$3") out=$4
rm -rf "$out"
mkdir -p "$out/app/文档"
cd "$out"
cp "$marker" app/Tool.exe
printf 'readme' >app/文档/说明.txt
cp "$logo" logo.png
cat >config.json <<'JSON'
{
  "softname": "构建工具测试",
  "softversion": "2.0",
  "mainfile": "Tool.exe",
  "installtype": "disk",
  "companyname": "示例公司"
}
JSON

cat >ca.cnf <<'CNF'
[req]
distinguished_name=dn
[dn]
[ca]
basicConstraints=critical,CA:true
keyUsage=critical,keyCertSign
[cs]
basicConstraints=critical,CA:false
keyUsage=critical,digitalSignature
extendedKeyUsage=codeSigning
CNF
quiet() { "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }; }
printf 'publisher-pass' >pass.txt
quiet openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 -subj "/CN=Test Root" \
  -config ca.cnf -extensions ca
quiet openssl req -newkey rsa:2048 -nodes -keyout cs.key -out cs.csr -subj "/CN=Example Publisher" -config ca.cnf
quiet openssl x509 -req -in cs.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out cs.pem -days 2 \
  -extfile ca.cnf -extensions cs
quiet openssl pkcs12 -export -out cs.p12 -inkey cs.key -in cs.pem -passout file:pass.txt

"$mkinstaller" pack app --out package.zip --sign-pkcs12 cs.p12 --sign-password-file pass.txt --sign-ca-file ca.pem
unzip -p package.zip '{app}/uninst.exe' >packed-uninst.exe
osslsigncode verify -in packed-uninst.exe -CAfile ca.pem >/dev/null
"$mkinstaller" build --config config.json --logo logo.png --package package.zip --copyright "(c) 2026 Example" \
  --sign-pkcs12 cs.p12 --sign-password-file pass.txt --sign-ca-file ca.pem --out signed-setup.exe 2>/dev/null
osslsigncode verify -in signed-setup.exe -CAfile ca.pem >/dev/null
"$mkinstaller" inspect --ca-file ca.pem signed-setup.exe | grep -F "signature: signed by /CN=Example Publisher; the signature verifies"

# The same application with an unsigned uninstaller, under another name.
sed 's/"构建工具测试"/"构建工具旧式"/' config.json >config-oldstyle.json
"$mkinstaller" pack app --out package-oldstyle.zip
"$mkinstaller" build --config config-oldstyle.json --package package-oldstyle.zip --out oldstyle-setup.exe 2>/dev/null

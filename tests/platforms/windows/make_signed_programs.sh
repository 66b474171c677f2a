#!/usr/bin/env bash
# Makes the program files the signature tests check, from one small program
# the build made: signed by a certificate of a CA made here, the same with
# one byte changed after signing, signed by a certificate whose CA nobody
# trusts, and not signed at all; and the CA's certificate (ca.der) for the
# test to trust in the prefix. Usage: make_signed_programs.sh PROGRAM FOLDER
# Always ends well: when the files cannot be made, FOLDER/why.txt says why,
# and the test that needs them fails with that sentence.
set -uo pipefail
program=$(realpath -m "$1")
out=$(realpath -m "$2")
rm -rf "$out"
mkdir -p "$out"
why() { echo "$1" >"$out/why.txt"; exit 0; }
command -v openssl >/dev/null || why "openssl is missing (scripts/setup.sh installs it)."
command -v osslsigncode >/dev/null || why "osslsigncode is missing (scripts/setup.sh installs it)."
[ -f "$program" ] || why "The program to sign, $program, was not built."
cd "$out" || why "The folder $out cannot be used."

# name KEY CERT SUBJECT [ISSUER_CERT ISSUER_KEY]: a code-signing certificate,
# self-signed when no issuer is given.
ext_leaf="basicConstraints=CA:FALSE
keyUsage=digitalSignature
extendedKeyUsage=codeSigning"
ext_ca="basicConstraints=critical,CA:TRUE
keyUsage=critical,keyCertSign,cRLSign"
{
  openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "/CN=Quillmoor Test Root" \
    -keyout ca.key -out ca.pem -addext "$(sed -n 1p <<<"$ext_ca")" -addext "$(sed -n 2p <<<"$ext_ca")" &&
  openssl req -newkey rsa:2048 -nodes -subj "/CN=Code Page Publisher" -keyout signer.key -out signer.csr &&
  printf '%s\n' "$ext_leaf" >leaf.ext &&
  openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 3650 -extfile leaf.ext \
    -out signer.pem &&
  openssl req -newkey rsa:2048 -nodes -subj "/CN=Orphan Signer" -keyout orphan_ca.key -out orphan.csr &&
  openssl req -x509 -newkey rsa:2048 -nodes -days 3650 -subj "/CN=Unknown Root" -keyout unknown.key \
    -out unknown.pem -addext "$(sed -n 1p <<<"$ext_ca")" -addext "$(sed -n 2p <<<"$ext_ca")" &&
  openssl x509 -req -in orphan.csr -CA unknown.pem -CAkey unknown.key -CAcreateserial -days 3650 \
    -extfile leaf.ext -out orphan.pem &&
  openssl x509 -in ca.pem -outform DER -out ca.der &&
  cat signer.pem ca.pem >signer-chain.pem &&
  osslsigncode sign -certs signer-chain.pem -key signer.key -h sha256 -n "Signed sample" \
    -in "$program" -out signed.exe &&
  # Only the signer's own certificate goes in: its CA is neither in the
  # file nor trusted.
  osslsigncode sign -certs orphan.pem -key orphan_ca.key -h sha256 -in "$program" -out untrusted.exe &&
  cp "$program" unsigned.exe &&
  cp signed.exe tampered.exe
} >make.log 2>&1 || why "Making the certificates or signing failed: $(tail -n 3 make.log | tr '\n' ' ')"

# One byte of the program's code, past the headers, changed after signing.
offset=$((0x600))
byte=$(od -An -tu1 -j "$offset" -N1 tampered.exe | tr -d ' ')
printf "$(printf '\\%03o' $(((byte + 1) % 256)))" | dd of=tampered.exe bs=1 seek="$offset" conv=notrunc status=none ||
  why "The signed copy could not be changed."
exit 0

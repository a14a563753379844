#!/usr/bin/env bash
# Demonstration run over an already built tree: run.sh <build folder>
# zolm-host drives the Message-PRO plug-in through the provider ABI over temporary key-medium folders:
# a GOST key is generated, a request made from a server template, a test CA issues the certificate,
# the key is activated and signs, and openssl checks every result. The shared data block switches the
# language of the plug-in's messages. Leaves nothing behind.
set -euo pipefail
build="$(cd "$1" && pwd)"
host="$build/bin/zolm-host"
plugin="$build/bin/zolm_cp_messagepro4.so"
work="$(mktemp -d)"
# A block of the demo's own, so a host application running on this machine is not disturbed.
export ZOLM_SHARED_DATA_NAME="/zolm_shared_data_demo_$$"
trap '"$host" shared-data-remove >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
cd "$work"
mkdir medium

run() {
  echo "\$ zolm-host $*" | sed "s|$plugin|zolm_cp_messagepro4.so|g"
  "$host" "$@" 2>&1 || true
}
ossl() { openssl "$1" -engine gost "${@:2}" 2>/dev/null; }

echo "Built deliverables and tools:"
ls -1 "$build/bin" | sed 's/^/  /'
echo
echo "== A GOST key's life on a key medium (a folder), through the provider ABI =="
p=(--plugin "$plugin" --medium medium)
run info --plugin "$plugin"
run generate-key "${p[@]}" --password demo-pw --keys qwertyuiopasdfgh \
  --param-set 1.2.643.7.1.2.1.1.1 --algorithm 1.2.643.7.1.1.3.2
cat > template.xml <<'XML'
<response>
  <SubjectSignTool><SignTool>zolm demo</SignTool></SubjectSignTool>
  <Subject>
    <OID order="2"><Key>2.5.4.3</Key><Value>Иван Петров</Value></OID>
    <OID order="1"><Key>2.5.4.6</Key><Value>RU</Value></OID>
  </Subject>
  <Extensions>
    <BasicKeyUsage critical="true"><Flag>digitalSignature</Flag><Flag>nonRepudiation</Flag></BasicKeyUsage>
  </Extensions>
  <SignAlgorithm/>
</response>
XML
run make-request "${p[@]}" --password demo-pw --template template.xml
echo "request: $(openssl req -in medium/req.pem -noout -subject -nameopt sep_comma_plus_space,utf8)"
ossl req -in medium/req.pem -verify -noout && echo "request signature: verified by openssl"
echo "(a test CA issues cert.pem from req.pem)"
ossl req -x509 -newkey gost2012_256 -pkeyopt paramset:A -nodes -keyout ca.key -out ca.pem -subj "/CN=Demo CA" -days 2
ossl x509 -req -in medium/req.pem -CA ca.pem -CAkey ca.key -set_serial 1 -days 1 -copy_extensions copy -out medium/cert.pem
run activate "${p[@]}"
printf 'payment order 1\n' > data.txt
run sign "${p[@]}" --password demo-pw --in data.txt --out data.sig
ossl cms -verify -binary -inform DER -in data.sig -content data.txt -CAfile ca.pem -purpose any -out /dev/null \
  && echo "signature: verified by openssl over the data, chained to the test CA"
run check-password "${p[@]}" --password wrong
echo "Files on the medium: $(cd medium && ls | tr '\n' ' ')"
echo
echo "== Messages in the language of the shared data block =="
echo "(activating again fails: the pending key keyn.der is gone)"
run activate "${p[@]}"
run shared-data --language en
run activate "${p[@]}"
run shared-data-remove

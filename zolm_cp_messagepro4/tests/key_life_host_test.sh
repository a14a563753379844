#!/usr/bin/env bash
# End to end: zolm-host drives zolm_cp_messagepro4.so over temporary medium folders through the whole
# key life; the openssl command line (with the GOST engine) plays the CA and checks every output.
# Usage: key_life_host_test.sh <zolm-host> <zolm_cp_messagepro4.so>
set -u
host="$(realpath "$1")"
plugin="$(realpath "$2")"
work="$(mktemp -d)"
export ZOLM_SHARED_DATA_NAME="/zolm_messagepro4_host_test_$$"
trap '"$host" shared-data-remove >/dev/null 2>&1; rm -rf "$work"' EXIT
cd "$work" || exit 1
mkdir medium target
failures=0
fail() { failures=$((failures + 1)); printf 'FAIL: %s\n' "$*"; }

# run WANT_STDOUT COMMAND...: zolm-host must succeed and print exactly WANT_STDOUT.
run() {
  local want="$1"; shift
  local out
  out="$("$host" --plugin "$plugin" "$@" 2>"$work/stderr" </dev/null)"
  local status=$?
  [ "$status" = 0 ] && [ "$out" = "$want" ] || fail "zolm-host $* -> status $status, stdout [$out], stderr [$(cat "$work/stderr")], want [$want]"
}
ossl() { openssl "$1" -engine gost "${@:2}" 2>>"$work/openssl.log"; }

cat > template.xml <<'XML'
<response>
  <SubjectSignTool><SignTool>tool</SignTool></SubjectSignTool>
  <Subject>
    <OID order="3"><Key>2.5.4.3</Key><Value>Ivan Petrov</Value></OID>
    <OID order="1"><Key>2.5.4.6</Key><Value>RU</Value></OID>
    <OID order="2"><Key>1.2.643.100.3</Key><Value>12345678901</Value></OID>
  </Subject>
  <Extensions>
    <BasicKeyUsage critical="true"><Flag>digitalSignature</Flag><Flag>nonRepudiation</Flag></BasicKeyUsage>
    <ExtendedKeyUsage><OID><Key>1.3.6.1.5.5.7.3.4</Key><Value>mail</Value></OID></ExtendedKeyUsage>
  </Extensions>
  <SignAlgorithm/>
</response>
XML
printf 'payment order 1\n' > data.txt

# The plug-in exports exactly the fifteen functions of the interface.
exports="$(nm -D --defined-only "$plugin" | awk '{print $3}' | sort | tr '\n' ' ')"
[ "$exports" = "cp_ActivateKey cp_ChangePassword cp_CheckPassword cp_CopyKey cp_DeactivateKey cp_DestroyKey cp_Done cp_GenerateKey cp_Info cp_Init cp_MakeRequest cp_MakeRequestCMC cp_ReleaseMemory cp_SignData cp_StoreCertificate " ] \
  || fail "exports [$exports]"
run $'id: MessagePro4\ntitle: Message-PRO 4\nfamily: GOST/CPA\nnumbers: 1 1 0 0 0 1' info
run ok init

# Generate and request.
run ok generate-key --medium medium --password pw1 --keys abcdefghijklmnop \
  --param-set 1.2.643.7.1.2.1.1.1 --algorithm 1.2.643.7.1.1.3.2
for f in mk.db3 masks.db3 kek.opq rand.opq keyn.der; do [ -f "medium/$f" ] || fail "no $f after generate-key"; done
run ok make-request --medium medium --password pw1 --template template.xml
ossl req -in medium/req.pem -verify -noout || fail "request does not verify"
subject="$(openssl req -in medium/req.pem -noout -subject -nameopt sep_comma_plus_space,sname,utf8)"
[ "$subject" = "subject=C=RU, SNILS=12345678901, CN=Ivan Petrov" ] || fail "request subject [$subject]"
text="$(ossl req -in medium/req.pem -noout -text)"
grep -q "X509v3 Key Usage: critical" <<<"$text" && grep -q "Digital Signature, Non Repudiation" <<<"$text" \
  && grep -q "E-mail Protection" <<<"$text" || fail "request extensions: $text"

# The test CA issues the certificate; the host stores it and activates the key.
ossl req -x509 -newkey gost2012_256 -pkeyopt paramset:A -nodes -keyout ca.key -out ca.pem -subj "/CN=Test CA" -days 2 \
  || fail "test CA"
ossl x509 -req -in medium/req.pem -CA ca.pem -CAkey ca.key -set_serial 0x1234ABCD -days 1 -copy_extensions copy \
  -out medium/cert.pem || fail "issue"
run ok activate --medium medium
[ -f medium/key.der ] && [ ! -f medium/keyn.der ] || fail "activate"

# Sign; the signature verifies over the data and carries the signing time.
verify() {  # verify SIGNATURE: over data.txt, chained to the test CA
  ossl cms -verify -binary -inform DER -in "$1" -content data.txt -CAfile ca.pem -purpose any -out /dev/null \
    || fail "signature $1 does not verify"
  ossl cms -cmsout -print -inform DER -in "$1" | grep -q "signingTime" || fail "no signing time in $1"
}
out="$("$host" --plugin "$plugin" sign --medium medium --password pw1 --in data.txt --out sig1.der 2>&1)"
[ "$out" = "signature: $(wc -c <sig1.der) bytes written to sig1.der" ] || fail "sign: $out"
verify sig1.der

# Passwords.
run "accepted: 1" check-password --medium medium --password pw1
run "accepted: 0" check-password --medium medium --password wrong
err="$("$host" --plugin "$plugin" change-password --medium medium --password wrong --new-password pw2 2>&1 >/dev/null)"
case "$err" in
  *"ChangePrivateKeyPasswordEx() failed, MessageProError=168, Ошибка при считывании секретного ключа СКЗИ (lifecycle.cpp:"*) ;;
  *) fail "change-password with a wrong password: [$err]" ;;
esac
run ok change-password --medium medium --password pw1 --new-password pw2
"$host" --plugin "$plugin" sign --medium medium --password pw2 --in data.txt --out sig2.der >/dev/null 2>&1 || fail "sign with pw2"
verify sig2.der

# Renewal: a new pending key, a CMC request signed with the current key and certificate.
run ok generate-key --medium medium --password pw3 --keys abcdefghijklmnop
run ok make-request-cmc --medium medium --template template.xml --ca ../../CA --pending-password pw3 --current-password pw2
ossl cms -verify -inform PEM -in medium/req.pem -CAfile ca.pem -purpose any -out pkidata.der || fail "CMC request does not verify"
ossl cms -cmsout -print -inform PEM -in medium/req.pem | grep -q "id-cct-PKIData" || fail "CMC content type"

# Copy to a second medium: first without a question, then refused, then accepted.
run "copied: 1" copy --medium medium --target target
cmp -s medium/key.der target/key.der && cmp -s medium/keyn.der target/keyn.der && cmp -s medium/kek.opq target/kek.opq \
  || fail "copy contents"
printf 'older' > target/keyn.der
run "copied: 0" copy --medium medium --target target --no
[ "$(cat target/keyn.der)" = "older" ] || fail "a refused copy wrote keyn.der"
run "copied: 1" copy --medium medium --target target --yes
cmp -s medium/keyn.der target/keyn.der || fail "accepted copy"

# Destroy: the key store and the pending key go, the current key and its certificate stay.
run ok destroy --medium medium
for f in mk.db3 masks.db3 kek.opq rand.opq keyn.der; do [ ! -e "medium/$f" ] || fail "$f left after destroy"; done
[ -f medium/key.der ] && [ -f medium/cert.pem ] || fail "destroy removed the current key"

[ "$failures" = 0 ] && echo "key life through zolm-host: all checks passed"
exit "$failures"

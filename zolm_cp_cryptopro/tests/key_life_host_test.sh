#!/usr/bin/env bash
# End to end through zolm-host: the key life of zolm_cp_cryptopro.so with the software CSP in a private
# folder, the request and signatures checked by the openssl command with the GOST engine, a CA made
# with it issuing the certificate, and zolm-csp showing the container.
# Usage: key_life_host_test.sh <zolm-host> <zolm_cp_cryptopro.so> <zolm-csp>
set -u
host="$1"
plugin="$2"
csptool="$3"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export ZOLM_CSP_DIR="$work/csp"
export ZOLM_SHARED_DATA_NAME="/zolm_cp_cryptopro_test_$$"
failures=0
fail() {
  failures=$((failures + 1))
  printf 'FAIL: %s\n' "$*"
}

# expect STATUS STDOUT STDERR ARGS...: zolm-host's exit status and both outputs, exactly.
expect() {
  local status="$1" out="$2" err="$3"
  shift 3
  local got_out got_status
  got_out="$("$host" "$@" 2>"$work/stderr" </dev/null)"
  got_status=$?
  # Line numbers of the plug-in's sources are not fixed here.
  sed -i -E 's/\.cpp:[0-9]+\)/.cpp:LINE)/' "$work/stderr"
  if [ "$got_status" != "$status" ] || [ "$got_out" != "$out" ] || [ "$(cat "$work/stderr")" != "$err" ]; then
    fail "zolm-host $* -> status $got_status [$got_out] [$(cat "$work/stderr")], want $status [$out] [$err]"
  fi
}

# The openssl command with the GOST engine; its notice that the engine is set is dropped.
ossl() {
  local status
  openssl "$@" -engine gost >"$work/openssl.out" 2>"$work/openssl.err"
  status=$?
  grep -v '^Engine "gost" set\.$' "$work/openssl.out"
  [ "$status" = 0 ] || cat "$work/openssl.err"
  return "$status"
}

# A test CA with a GOST key.
openssl genpkey -engine gost -algorithm gost2012_256 -pkeyopt paramset:A -out "$work/ca.key" 2>/dev/null
openssl req -engine gost -new -x509 -key "$work/ca.key" -subj "/CN=Test CA" -days 30 -md_gost12_256 \
  -out "$work/ca.pem" 2>/dev/null || fail "CA certificate"

# The exports are exactly the fifteen of the interface.
exports="$(nm -D --defined-only "$plugin" | awk '{print $3}' | sort | tr '\n' ' ')"
want="cp_ActivateKey cp_ChangePassword cp_CheckPassword cp_CopyKey cp_DeactivateKey cp_DestroyKey cp_Done cp_GenerateKey cp_Info cp_Init cp_MakeRequest cp_MakeRequestCMC cp_ReleaseMemory cp_SignData cp_StoreCertificate "
[ "$exports" = "$want" ] || fail "exports [$exports]"

head -c 5000 /dev/urandom >"$work/data.bin"

for case in "256 1.2.643.7.1.1.3.2 1.2.643.7.1.2.1.1.1" "512 1.2.643.7.1.1.3.3 1.2.643.7.1.2.1.2.1"; do
  set -- $case
  bits="$1" algorithm="$2" paramset="$3"
  medium="$work/medium$bits"
  mkdir "$medium"
  p=(--plugin "$plugin" --medium "$medium")
  cat >"$work/template.xml" <<XML
<response>
  <SubjectSignTool><SignTool>Test Tool</SignTool></SubjectSignTool>
  <Subject>
    <OID order="2"><Key>2.5.4.3</Key><Value>Test User $bits</Value></OID>
    <OID order="1"><Key>2.5.4.6</Key><Value>RU</Value></OID>
  </Subject>
  <Extensions>
    <BasicKeyUsage critical="true"><Flag>digitalSignature</Flag><Flag>nonRepudiation</Flag></BasicKeyUsage>
    <ExtendedKeyUsage><OID><Key>1.3.6.1.5.5.7.3.2</Key><Value>client</Value></OID></ExtendedKeyUsage>
  </Extensions>
  <SignAlgorithm><OID><Key>$algorithm</Key><Value>GOST</Value></OID></SignAlgorithm>
</response>
XML

  expect 0 ok "" generate-key "${p[@]}" --password pin-1 --param-set "$paramset" --algorithm "$algorithm"
  record="$(cat "$medium/container")"
  [[ "$record" =~ ^/[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$ ]] || fail "record [$record]"
  name="${record#/}"
  keyfile="$ZOLM_CSP_DIR/containers/REGISTRY/zolm-$name/signature.key"
  [ "$(stat -c %a "$keyfile")" = 600 ] || fail "key file mode $(stat -c %a "$keyfile")"
  head -c 8 "$keyfile" | grep -q ZCSPKEY1 || fail "key file is not sealed"

  # zolm-host runs each call in a process of its own: the request reopens the pending container.
  expect 1 "" "error: CryptSignAndEncodeCertificate() failed, GetLastError=2148532331/0x8010006B (key_operations.cpp:LINE)" \
    make-request "${p[@]}" --password wrong --template "$work/template.xml"
  expect 0 ok "" make-request "${p[@]}" --password pin-1 --template "$work/template.xml"
  ossl req -in "$medium/req.pem" -verify -noout >/dev/null || fail "$bits: request does not verify"
  subject="$(ossl req -in "$medium/req.pem" -noout -subject -nameopt RFC2253)"
  [ "$subject" = "subject=CN=Test User $bits,C=RU" ] || fail "$bits: subject [$subject]"
  text="$(ossl req -in "$medium/req.pem" -noout -text)"
  grep -q "Key Usage: critical" <<<"$text" || fail "$bits: key usage not critical"
  grep -q "Digital Signature, Non Repudiation" <<<"$text" || fail "$bits: key usage bits"
  grep -q "TLS Web Client Authentication" <<<"$text" || fail "$bits: extended key usage"

  ossl x509 -req -in "$medium/req.pem" -CA "$work/ca.pem" -CAkey "$work/ca.key" -set_serial "$bits" -days 30 \
    -md_gost12_256 -out "$medium/cert.pem" || fail "$bits: issuing"

  expect 0 ok "" activate "${p[@]}"
  [ "$(cat "$medium/container")" = "$name/" ] || fail "$bits: record after activation [$(cat "$medium/container")]"

  "$host" sign "${p[@]}" --password pin-1 --in "$work/data.bin" --out "$work/sig.der" >/dev/null ||
    fail "$bits: sign"
  ossl cms -verify -binary -inform DER -in "$work/sig.der" -content "$work/data.bin" -CAfile "$work/ca.pem" \
    -out /dev/null || fail "$bits: signature does not verify"

  expect 0 "accepted: 1" "" check-password "${p[@]}" --password pin-1
  expect 0 "accepted: 0" "" check-password "${p[@]}" --password wrong
  expect 0 ok "" change-password "${p[@]}" --password pin-1 --new-password pin-2
  expect 0 "accepted: 0" "" check-password "${p[@]}" --password pin-1
  expect 0 "accepted: 1" "" check-password "${p[@]}" --password pin-2
  "$host" sign "${p[@]}" --password pin-2 --in "$work/data.bin" --out "$work/sig2.der" >/dev/null ||
    fail "$bits: sign after the change"
  ossl cms -verify -binary -inform DER -in "$work/sig2.der" -content "$work/data.bin" -CAfile "$work/ca.pem" \
    -out /dev/null || fail "$bits: second signature does not verify"

  expect 1 "" "error: Функция не поддерживается" make-request-cmc "${p[@]}" --template "$work/template.xml" \
    --ca "$work" --pending-password a --current-password b
  expect 1 "" "error: Операция не поддерживается" copy "${p[@]}" --target "$work"
done

# The administration command sees both containers, and installs a certificate with its key.
[ "$("$csptool" list | grep -c '^\\\\.\\REGISTRY\\zolm-')" = 2 ] || fail "zolm-csp list: $("$csptool" list)"
"$csptool" install-cert "zolm-$name" "$medium/cert.pem" >/dev/null || fail "zolm-csp install-cert"
"$csptool" show "zolm-$name" | grep -q "subject:    C=RU, CN=Test User 512" ||
  fail "zolm-csp show: $("$csptool" show "zolm-$name")"

if [ "$failures" -ne 0 ]; then
  echo "$failures failures"
  exit 1
fi
echo "all passed"

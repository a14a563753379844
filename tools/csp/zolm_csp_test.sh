#!/usr/bin/env bash
# zolm-csp end to end in a private CSP folder: containers made, listed, shown and deleted, certificates
# installed with a key and imported into "My", wrong command lines refused with status 2.
# Usage: zolm_csp_test.sh <zolm-csp>
set -u
tool="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export ZOLM_CSP_DIR="$work/csp"
failures=0
fail() {
  failures=$((failures + 1))
  printf 'FAIL: %s\n' "$*"
}

# expect STATUS STDOUT STDERR ARGS...
expect() {
  local status="$1" out="$2" err="$3"
  shift 3
  local got_out got_status
  got_out="$("$tool" "$@" 2>"$work/stderr" </dev/null)"
  got_status=$?
  if [ "$got_status" != "$status" ] || [ "$got_out" != "$out" ] || [ "$(cat "$work/stderr")" != "$err" ]; then
    fail "zolm-csp $* -> status $got_status [$got_out] [$(cat "$work/stderr")], want $status [$out] [$err]"
  fi
}

"$tool" --help | grep -q '^Usage: zolm-csp <command>' || fail "--help"
expect 2 "" $'zolm-csp: no command given\nTry \'zolm-csp --help\'.'
expect 2 "" $'zolm-csp: unknown command frobnicate\nTry \'zolm-csp --help\'.' frobnicate
expect 2 "" $'zolm-csp: wrong number of arguments for show\nTry \'zolm-csp --help\'.' show
expect 2 "" $'zolm-csp: unknown option --force\nTry \'zolm-csp --help\'.' delete x --force
expect 0 "no containers in $ZOLM_CSP_DIR" "" list

expect 0 'created \\.\REGISTRY\alpha' "" create alpha
ZOLM_CSP_PIN=secret expect 0 'created \\.\REGISTRY\beta' "" create '\\.\REGISTRY\beta' --strong \
  --paramset 1.2.643.7.1.2.1.2.2
expect 1 "" 'zolm-csp: creating \\.\REGISTRY\alpha failed: 0x8009000F (NTE_EXISTS)' create alpha
expect 1 "" 'zolm-csp: creating \\.\REGISTRY\..\x failed: 0x8009001F (NTE_BAD_KEYSET_PARAM)' create '..\x'
expect 1 "" 'zolm-csp: generating the key failed: 0x80090008 (NTE_BAD_ALGID)' create gamma --paramset 1.2.3
[ -e "$ZOLM_CSP_DIR/containers/REGISTRY/gamma" ] && fail "a failed create leaves its container"
[ "$(stat -c %a "$ZOLM_CSP_DIR/containers/REGISTRY/beta/signature.key")" = 600 ] || fail "key file mode"

list="$("$tool" list)"
grep -q 'GOST R 34.10-2012 with 512 bit modulus, 512 bits' <<<"$list" || fail "list: $list"
[ "$(grep -c '^\\\\.\\REGISTRY\\' <<<"$list")" = 2 ] || fail "list: $list"

# A certificate for alpha's key, made by a CA of the openssl command.
openssl genpkey -engine gost -algorithm gost2012_256 -pkeyopt paramset:A -out "$work/ca.key" 2>/dev/null
openssl req -engine gost -new -x509 -key "$work/ca.key" -subj "/CN=Tool CA" -days 30 -md_gost12_256 \
  -out "$work/ca.pem" 2>/dev/null
expect 1 "" 'zolm-csp: installing the certificate failed: 0x80090015 (NTE_BAD_PUBLIC_KEY)' \
  install-cert alpha "$work/ca.pem"
expect 1 "" "zolm-csp: cannot read $work/none.pem" install-cert alpha "$work/none.pem"
expect 0 "imported into \"My\"" "" import-my "$work/ca.pem"
expect 1 "" 'zolm-csp: finding the key failed: 0x8009000D (NTE_NO_KEY)' import-my "$work/ca.pem" alpha --exchange
my="$("$tool" list-my)"
grep -q 'subject:    CN=Tool CA' <<<"$my" || fail "list-my: $my"
grep -q 'key:        none' <<<"$my" || fail "list-my: $my"

expect 0 'deleted \\.\REGISTRY\alpha' "" delete alpha
expect 1 "" 'zolm-csp: opening \\.\REGISTRY\alpha failed: 0x80090016 (NTE_BAD_KEYSET)' show alpha

if [ "$failures" -ne 0 ]; then
  echo "$failures failures"
  exit 1
fi
echo "all passed"

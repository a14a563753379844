#!/bin/bash
# zolm-host's UKEP commands on an empty private CSP folder: the empty list in both forms, and signing
# with an id that is not listed. Usage: host_commands_test.sh ZOLM_HOST
set -u
host=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export ZOLM_CSP_DIR="$work/csp"
fail() { echo "FAIL: $*"; exit 1; }

out=$("$host" ukep-list) || fail "ukep-list exit $?"
[ "$out" = "0 certificates" ] || fail "ukep-list printed: $out"
out=$("$host" ukep-list --raw) || fail "ukep-list --raw exit $?"
[ -z "$out" ] || fail "ukep-list --raw printed: $out"

echo data >"$work/data"
"$host" ukep-sign --id 0000000000000000000000000000000000000000 --in "$work/data" --out "$work/sig" 2>"$work/err"
status=$?
[ $status = 1 ] || fail "ukep-sign of an unknown id exit $status"
grep -qx "error: no listed certificate has the id 0000000000000000000000000000000000000000" "$work/err" ||
  fail "ukep-sign said: $(cat "$work/err")"
[ ! -e "$work/sig" ] || fail "a signature file was written"

ZOLM_CSP_VERSION=0x0600 "$host" ukep-list 2>"$work/err"
[ $? = 1 ] || fail "ukep-list with CSP 6.0 did not fail"
grep -qx "error: Неизвестная версия КриптоПРО CSP: 0x0600" "$work/err" || fail "version error: $(cat "$work/err")"
echo "ok"

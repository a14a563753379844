#!/usr/bin/env bash
# End to end: zolm-host drives probe_provider.so over temporary medium folders, through the real ABI.
# Usage: zolm_host_test.sh <zolm-host> <probe_provider.so>
set -u
host="$1"
plugin="$2"
work="$(mktemp -d)"
export ZOLM_SHARED_DATA_NAME="/zolm_host_test_$$"
trap '"$host" shared-data-remove >/dev/null; rm -rf "$work"' EXIT
medium="$work/medium"
target="$work/target"
mkdir "$medium" "$target"
failures=0

# expect STATUS STDOUT STDERR COMMAND...: runs zolm-host with COMMAND and compares exit status and
# both outputs exactly. Standard input is /dev/null unless $input is set.
expect() {
  local status="$1" out="$2" err="$3"
  shift 3
  local got_out got_err got_status
  got_out="$(printf '%s' "${input:-}" | "$host" "$@" 2>"$work/stderr")"
  got_status=$?
  got_err="$(cat "$work/stderr")"
  if [ "$got_status" != "$status" ] || [ "$got_out" != "$out" ] || [ "$got_err" != "$err" ]; then
    failures=$((failures + 1))
    printf 'FAIL: zolm-host %s\n  status %s (want %s)\n  stdout [%s]\n    want [%s]\n  stderr [%s]\n    want [%s]\n' \
      "$*" "$got_status" "$status" "$got_out" "$out" "$got_err" "$err"
  fi
}
p=(--plugin "$plugin" --medium "$medium")

# The plug-in exports exactly the fifteen functions of the interface.
exports="$(nm -D --defined-only "$plugin" | awk '{print $3}' | sort | tr '\n' ' ')"
want="cp_ActivateKey cp_ChangePassword cp_CheckPassword cp_CopyKey cp_DeactivateKey cp_DestroyKey cp_Done cp_GenerateKey cp_Info cp_Init cp_MakeRequest cp_MakeRequestCMC cp_ReleaseMemory cp_SignData cp_StoreCertificate "
[ "$exports" = "$want" ] || { failures=$((failures + 1)); echo "FAIL: exports [$exports]"; }

expect 0 $'id: Probe\ntitle: Probe provider\nfamily: TEST\nnumbers: 1 1 0 0 0 1' "" info --plugin "$plugin"

# Key life cycle.
expect 0 ok "" generate-key "${p[@]}" --password secret --keys abcd
grep -qx 'seed=abcd' "$medium/keyn.der" || { failures=$((failures + 1)); echo "FAIL: key presses not handed out"; }
# The existing pending key is replaced after asking.
expect 0 ok "Файл keyn.der уже существует в копии, заменить его ? yes" \
  generate-key "${p[@]}" --password secret --param no_key_callback=1 --yes
grep -qx 'seed=' "$medium/keyn.der" || { failures=$((failures + 1)); echo "FAIL: no_key_callback=1 not seen"; }
echo '<request/>' >"$work/template.xml"
expect 1 "" "error: wrong password" make-request "${p[@]}" --password wrong --template "$work/template.xml"
expect 0 ok "" make-request "${p[@]}" --password secret --template "$work/template.xml"
expect 0 ok "" activate "${p[@]}"
expect 0 "stored: 1" "" store-certificate "${p[@]}"

# Host failures in the language of the shared data block: none, English, back to Russian, unknown.
expect 1 "" "error: ошибка при переименовании файла keyn.der в key.der" activate "${p[@]}"
expect 0 "shared data block $ZOLM_SHARED_DATA_NAME: version 6, language 1 (English)" "" shared-data --language en
expect 1 "" "error: error renaming file keyn.der to key.der" activate "${p[@]}"
expect 0 "shared data block $ZOLM_SHARED_DATA_NAME: version 6, language 0 (Russian)" "" shared-data --language ru
expect 1 "" "error: ошибка при переименовании файла keyn.der в key.der" activate "${p[@]}"
expect 0 "shared data block $ZOLM_SHARED_DATA_NAME: version 6, language 2 (read as Russian)" "" shared-data --language 2
expect 1 "" "error: ошибка при переименовании файла keyn.der в key.der" activate "${p[@]}"
expect 2 "" "zolm-host: --language takes ru, en or a number 0..255, not \"de\" (see zolm-host --help)" \
  shared-data --language de

# Signing and passwords; a password read from standard input when it is not a terminal.
printf 'data to sign' >"$work/data"
expect 0 "signature: 33 bytes written to $work/sig" "" sign "${p[@]}" --password secret --in "$work/data" --out "$work/sig"
grep -q '^PROBE SIGNATURE ' "$work/sig" || { failures=$((failures + 1)); echo "FAIL: no signature written"; }
expect 1 "" "error: wrong password" sign "${p[@]}" --password wrong --in "$work/data" --out "$work/sig2"
[ ! -e "$work/sig2" ] || { failures=$((failures + 1)); echo "FAIL: a failed signature left a file"; }
expect 0 "accepted: 0" "" check-password "${p[@]}" --password wrong
input=$'secret\n' expect 0 "accepted: 1" "Password of the key: " check-password "${p[@]}"
expect 0 ok "" change-password "${p[@]}" --password secret --new-password other
expect 0 "accepted: 1" "" check-password "${p[@]}" --password other

# Copy: asks before replacing, in the block's language.
expect 0 "shared data block $ZOLM_SHARED_DATA_NAME: version 6, language 1 (English)" "" shared-data --language en
expect 0 "copied: 1" "" copy "${p[@]}" --target "$target"
expect 0 "copied: 0" "The file key.der already exist in a copy, replace it ? no" copy "${p[@]}" --target "$target" --no
expect 0 "copied: 0" \
  "The file key.der already exist in a copy, replace it ? no (no terminal; use --yes or --no)" \
  copy "${p[@]}" --target "$target"
expect 0 "copied: 1" "The file key.der already exist in a copy, replace it ? yes" copy "${p[@]}" --target "$target" --yes

expect 0 ok "" deactivate "${p[@]}"
expect 0 ok "" destroy "${p[@]}"
[ ! -e "$medium/key.der" ] && [ ! -e "$medium/keyn.der" ] || { failures=$((failures + 1)); echo "FAIL: keys left"; }
expect 0 "removed the shared data block $ZOLM_SHARED_DATA_NAME" "" shared-data-remove

# Usage errors and plug-ins that cannot be loaded.
expect 2 "" "zolm-host: unknown command frobnicate (see zolm-host --help)" frobnicate
expect 2 "" "zolm-host: the command activate needs --medium DIR (see zolm-host --help)" activate --plugin "$plugin"
expect 2 "" "zolm-host: the medium folder $work/none does not exist (see zolm-host --help)" \
  activate --plugin "$plugin" --medium "$work/none"
expect 2 "" "zolm-host: unknown option --colour (see zolm-host --help)" info --colour
expect 2 "" "zolm-host: --param needs NAME=VALUE, not \"x\" (see zolm-host --help)" generate-key "${p[@]}" --param x --password a
expect 2 "" "zolm-host: cannot load the plug-in $work/data: $work/data: file too short" info --plugin "$work/data"
"$host" --help | grep -q '^  make-request-cmc ' || { failures=$((failures + 1)); echo "FAIL: --help lacks a command"; }

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all checks passed"

#!/usr/bin/env bash
# Demonstration run over an already built tree: run.sh <build folder>
# Part one, the starter's main job: a demo installation in a temporary folder (start.ini, the starter,
# VERSIONS/1.0.0 with the signed zolm-demoapp), zolm-update-server on loopback offering 1.0.1 as a patch
# made with zolm-patchmaker; the starter, headless and in silent mode, installs 1.0.1 and starts it;
# a second run finds nothing to update and starts 1.0.1 at once.
# Part two: zolm-host drives the Message-PRO plug-in through the provider ABI over temporary key-medium
# folders: a GOST key is generated, a request made from a server template, a test CA issues the
# certificate, the key is activated and signs, and openssl checks every result. The shared data block
# switches the language of the plug-in's messages. Leaves nothing behind.
set -euo pipefail
build="$(cd "$1" && pwd)"
bin="$build/bin"

echo "Built deliverables and tools:"
ls -1 "$bin" | sed 's/^/  /'
echo

# ---- Part one: update and launch ----
updwork="$(mktemp -d)"
server_pid=""
stop_server() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  server_pid=""
}
trap 'stop_server; rm -rf "$updwork"' EXIT
install="$updwork/install"
mkdir -p "$install/VERSIONS/1.0.0" "$updwork/offered/1.0.1" "$updwork/patches" "$updwork/appdata" \
  "$updwork/runtime"
chmod 700 "$updwork/runtime"
cp "$bin/starter" "$install/starter"
cp "$bin/zolm-demoapp" "$install/VERSIONS/1.0.0/zolm-demoapp"
printf 'Zolm demo, version 1.0.0\n' > "$install/VERSIONS/1.0.0/readme.txt"
# Version 1.0.1: a changed readme and a new file beside the same signed application.
cp "$bin/zolm-demoapp" "$updwork/offered/1.0.1/zolm-demoapp"
printf 'Zolm demo, version 1.0.1: what is new\n' > "$updwork/offered/1.0.1/readme.txt"
printf 'added in 1.0.1\n' > "$updwork/offered/1.0.1/notes.txt"
"$bin/zolm-patchmaker" --out "$updwork/patches/1.0.0.xml" "$install/VERSIONS/1.0.0" "$updwork/offered/1.0.1"
"$bin/zolm-patchmaker" --full --out "$updwork/patches/full.xml" "$updwork/offered/1.0.1"

"$bin/zolm-update-server" --versions "$updwork/patches" --port-file "$updwork/port" \
  --probe-path /probe.txt --probe-body zolm-demo-ok --product zolm-demo > "$updwork/server.log" 2>&1 &
server_pid=$!
for _ in $(seq 100); do [ -s "$updwork/port" ] && break; sleep 0.1; done
[ -s "$updwork/port" ] || { cat "$updwork/server.log"; echo "the update server did not start" >&2; exit 1; }
port="$(cat "$updwork/port")"
cat > "$install/start.ini" <<INI
[application]
title=Zolm demo
main=zolm-demoapp
[proxy]
type=INTERNET_OPEN_TYPE_DIRECT
[probe]
url=http://127.0.0.1:$port/probe.txt
content=zolm-demo-ok
[versions]
url=http://127.0.0.1:$port/RPC2
product=zolm-demo
current=1.0.0
silent=1
INI

echo "== The starter's main job: update and launch =="
shown=0
server_said() {  # the server's lines since the last call
  tail -n +$((shown + 1)) "$updwork/server.log" | sed 's/^/  [server] /'
  shown=$(wc -l < "$updwork/server.log")
}
server_said
echo "demo installation: $install"
echo "  start.ini, starter, VERSIONS/1.0.0/{zolm-demoapp (signed), readme.txt}"
echo "offered: patch 1.0.0 -> 1.0.1 ($(wc -c < "$updwork/patches/1.0.0.xml") bytes), full copy ($(wc -c < "$updwork/patches/full.xml") bytes)"
start_starter() {
  # No display: every message goes to standard error; silent mode asks nothing.
  env -u DISPLAY -u WAYLAND_DISPLAY APPDATA="$updwork/appdata" XDG_RUNTIME_DIR="$updwork/runtime" \
    "$install/starter" "demo argument" 2>&1 | sed "s|$updwork|<demo>|g"
}
echo
echo "\$ starter \"demo argument\"        (first run: 1.0.1 is downloaded, built and started)"
start_starter
server_said
echo "versions.current is now: $(sed -n 's/^current=//p' "$install/start.ini")"
echo "VERSIONS: $(cd "$install/VERSIONS" && ls | tr '\n' ' ')"
echo "VERSIONS/1.0.1: $(cd "$install/VERSIONS/1.0.1" && ls | tr '\n' ' ')-- readme: $(cat "$install/VERSIONS/1.0.1/readme.txt")"
echo
echo "\$ starter \"demo argument\"        (second run: nothing to update, 1.0.1 starts at once)"
start_starter
server_said
echo "versions.current is still: $(sed -n 's/^current=//p' "$install/start.ini")"
stop_server
rm -rf "$updwork"
trap - EXIT
echo

# ---- Part two: the provider plug-ins ----
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

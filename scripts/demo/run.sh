#!/usr/bin/env bash
# Demonstration run over an already built tree: run.sh <build folder>
# zolm-host drives the probe plug-in through the provider ABI over a temporary key-medium folder, and
# the shared data block switches the language of the plug-in's messages. Leaves nothing behind.
set -euo pipefail
build="$(cd "$1" && pwd)"
host="$build/bin/zolm-host"
plugin="$build/bin/probe_provider.so"
medium="$(mktemp -d)"
# A block of the demo's own, so a host application running on this machine is not disturbed.
export ZOLM_SHARED_DATA_NAME="/zolm_shared_data_demo_$$"
trap '"$host" shared-data-remove >/dev/null 2>&1 || true; rm -rf "$medium"' EXIT

run() {
  echo "\$ zolm-host $*" | sed "s|$medium|<medium>|g; s|$plugin|probe_provider.so|g"
  "$host" "$@" 2>&1 | sed "s|$medium|<medium>|g" || true
}

echo "Built deliverables and tools:"
ls -1 "$build/bin" | sed 's/^/  /'
echo
echo "== A provider plug-in driven through the host table (medium: a temporary folder) =="
p=(--plugin "$plugin" --medium "$medium")
run info --plugin "$plugin"
run generate-key "${p[@]}" --password demo --keys seed
echo '<request/>' >"$medium/template.xml"
run make-request "${p[@]}" --password demo --template "$medium/template.xml"
run activate "${p[@]}"
printf 'hello' >"$medium/data.txt"
run sign "${p[@]}" --password demo --in "$medium/data.txt" --out "$medium/data.sig"
run check-password "${p[@]}" --password wrong
echo "Files on the medium: $(cd "$medium" && ls | tr '\n' ' ')"
echo
echo "== Host failures reported in the language of the shared data block =="
echo "(activating again fails: the pending key keyn.der is gone)"
run activate "${p[@]}"
run shared-data --language en
run activate "${p[@]}"
run shared-data --language ru
run activate "${p[@]}"
run shared-data-remove

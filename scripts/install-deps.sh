#!/usr/bin/env bash
# Installs every package the project needs on a fresh Debian 12 machine.
# Each area of the project lists its packages in scripts/packages/*.txt (one per line, # comments).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
mapfile -t pkgs < <(cat "$here"/packages/*.txt | sed -e 's/#.*//' -e 's/[[:space:]]//g' | grep -v '^$' | sort -u)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#pkgs[@]} packages present"
  exit 0
fi
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "install-deps: installed ${#missing[@]} packages"

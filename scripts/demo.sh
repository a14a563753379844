#!/usr/bin/env bash
# The main job: installs what is missing, builds, and runs the demonstration.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
scripts/install-deps.sh
scripts/build.sh build
exec scripts/demo/run.sh "$root/build"

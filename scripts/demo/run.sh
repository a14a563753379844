#!/usr/bin/env bash
# Demonstration run over an already built tree: run.sh <build folder>
set -euo pipefail
build="$1"
echo "Built deliverables:"
ls -1 "$build/bin"

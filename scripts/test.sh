#!/usr/bin/env bash
# The test command: installs what is missing, builds, runs the whole suite with CTest, then runs the
# suite once more with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
scripts/install-deps.sh
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
jobs="$(nproc)"

echo "== build (normal) =="
scripts/build.sh build
echo "== tests (normal) =="
ctest --test-dir build --output-on-failure -j"$jobs" --timeout 600

echo "== build (sanitizers) =="
scripts/build.sh build-asan -DZOLM_SANITIZE=ON
echo "== tests (sanitizers) =="
ctest --test-dir build-asan --output-on-failure -j"$jobs" --timeout 900

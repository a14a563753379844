#!/usr/bin/env bash
# Renders the starter's dialogs and the splash to docs/screenshots/*.png (Qt offscreen platform).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cmake -S "$root" -B "$root/build" -G Ninja >/dev/null
cmake --build "$root/build" -j"$(nproc)" --target zolm_ui_screenshots
QT_QPA_PLATFORM=offscreen "$root/build/bin/zolm_ui_screenshots" "$root/docs/screenshots"

#!/usr/bin/env bash
# One PNG per tab of the window, on the embedded sample database: scripts/screenshot.sh [DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-screenshots}
bash scripts/prepare-run.sh
QT_QPA_PLATFORM=offscreen "${QK_BUILD_DIR:-build}/qkadmin" --screenshots "$dir"

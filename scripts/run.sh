#!/usr/bin/env bash
# The window on the embedded sample database (made on first run in ./data).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/prepare-run.sh
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ "${QT_QPA_PLATFORM:-}" != "offscreen" ]; then
    echo "No display. Run it under a virtual one:  xvfb-run -a bash scripts/run.sh" >&2
    exit 1
fi
build=${QK_BUILD_DIR:-build}
export FIREBIRD="$PWD/$build/firebird-root" FIREBIRD_LOCK="$PWD/$build/firebird-lock"
exec "$build/qkadmin" "$@"

#!/usr/bin/env bash
# The whole test suite on a fresh Debian 12 machine: set-up, build, the real Firebird server, ctest.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" -eq 0 ]; then
    bash scripts/setup.sh
fi

build=${QK_BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j2

started=0
if ! (exec 3<>/dev/tcp/127.0.0.1/3050) 2>/dev/null; then
    bash scripts/firebird-up.sh
    started=1
fi
stop() { [ "$started" -eq 1 ] && bash scripts/firebird-down.sh; true; }
trap stop EXIT

export LC_ALL=C.UTF-8
ctest --test-dir "$build" --output-on-failure -j2 "$@"

#!/usr/bin/env bash
# Builds the benchmarks (optimised) and runs them on the embedded engine and against the local server:
#   bench/run.sh [SIZES...]   (documents of one month; default 10000 100000)
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DQK_BUILD_BENCH=ON -DQK_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench -j2 --target qkbench_exchange qkbench_window_pause qkadmin qkadmin-cli qksampledb
started=0
if ! (exec 3<>/dev/tcp/127.0.0.1/3050) 2>/dev/null; then
    bash scripts/firebird-up.sh
    started=1
fi
trap '[ "$started" -eq 1 ] && bash scripts/firebird-down.sh; true' EXIT
build-bench/bench/qkbench_exchange "$@"
# The off-site copy and the fetch beside plain restic on the same files.
bash bench/offsite.sh build-bench
# The window's event loop during an off-site copy.
bash bench/window.sh build-bench
# The nightly chain with its archive copy made during the verification, against its steps run alone.
bash bench/chain.sh build-bench
# A bureau's night: backup --all over many companies beside the same backups one after another.
bash bench/many.sh build-bench

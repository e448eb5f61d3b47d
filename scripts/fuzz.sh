#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a fixed number of inputs from its seed
# corpus; fails on any crash, leak or sanitizer report.
#   scripts/fuzz.sh [RUNS [TARGET...]]   (default 1000000 runs of every target)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-1000000}
shift || true
targets=${*:-service_replies database_info ini_file password_history exchange_formatters backup_walk tar_reader}

if [ "$(id -u)" -eq 0 ]; then
    bash scripts/setup.sh
    for p in clang libclang-rt-14-dev; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
            DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends "$p"
    done
fi

build=${QK_FUZZ_DIR:-build-fuzz}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DQK_FUZZ=ON -DQK_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2

# A small quarantine and short allocation stacks keep a million runs fast and within memory.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:quarantine_size_mb=16:malloc_context_size=2
export LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
passed=0
failed=0
for target in $targets; do
    corpus=$(mktemp -d)
    cp fuzz/corpus/"$target"/* "$corpus"/
    start=$(date +%s)
    if "$build"/fuzz/fuzz_"$target" -runs="$runs" -max_len=4096 -artifact_prefix="$build/" "$corpus" >"$build/fuzz_$target.log" 2>&1; then
        echo "fuzz_$target: $runs runs, $(( $(date +%s) - start )) s, $(grep -o 'cov: [0-9]*' "$build/fuzz_$target.log" | tail -1), no finding"
        passed=$((passed + 1))
    else
        echo "fuzz_$target: FINDING (see $build/fuzz_$target.log)"
        tail -30 "$build/fuzz_$target.log"
        failed=$((failed + 1))
        status=1
    fi
    rm -rf "$corpus"
done
echo "fuzz: $passed passed, $failed failed"
exit $status

#!/usr/bin/env bash
# The whole test suite on a fresh Debian 12 machine: set-up, build, the real Firebird server, ctest.
#   scripts/test.sh              the suite
#   scripts/test.sh --sanitize   the suite built with AddressSanitizer and UndefinedBehaviorSanitizer
set -euo pipefail
cd "$(dirname "$0")/.."

sanitize=0
if [ "${1:-}" = "--sanitize" ]; then
    sanitize=1
    shift
fi

# Root runs what needs root itself; an ordinary user through sudo, and only that.
as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}
if [ "$(id -u)" -eq 0 ] || ! bash scripts/setup.sh --check 2>/dev/null; then
    as_root bash scripts/setup.sh
fi

if [ "$sanitize" -eq 1 ]; then
    build=${QK_BUILD_DIR:-build-sanitize}
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DQK_SANITIZE=ON
    # Leaks inside the client library and Qt's plugins are theirs; ours are reported.
    # The sanitizer's guess at the size of a thread's dynamic TLS block misfires when
    # glibc's block lands 16 bytes into a page (the client library's blocks do, now and
    # then): the leak check then scans a garbage range and its tracer dies of SIGSEGV.
    # Glibc keeps those blocks on its own heap, reachable from each thread's DTV.
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:detect_odr_violation=0:intercept_tls_get_addr=0
    export LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp:print_suppressions=0
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
else
    build=${QK_BUILD_DIR:-build}
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$build" -j2

started=0
if ! (exec 3<>/dev/tcp/127.0.0.1/3050) 2>/dev/null; then
    as_root bash scripts/firebird-up.sh
    started=1
fi
stop() { [ "$started" -eq 1 ] && as_root bash scripts/firebird-down.sh; true; }
trap stop EXIT

export LC_ALL=C.UTF-8
# The test entries' embedded engines keep their shared tables in folders of their own, made afresh: a
# table an engine killed in an earlier run left locked must not stop this one.
rm -rf "$build/firebird-lock"
mkdir -p "$build/firebird-lock"
ctest --test-dir "$build" --output-on-failure -j2 "$@"

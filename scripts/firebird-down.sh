#!/usr/bin/env bash
# Stops the Firebird server that firebird-up.sh started, by its pid. Idempotent.
#   firebird-down.sh          orderly: TERM, KILL after 10 s
#   firebird-down.sh --kill   at once, as a crash would (the tests' server-stop case)
set -uo pipefail

signal=TERM
[ "${1:-}" = "--kill" ] && signal=KILL

pidfile=/run/firebird3.0/fbserver.pid

alive() {
    local state
    [ -r "/proc/$1/stat" ] || return 1
    state=$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null) || return 1
    [ "$state" != "Z" ]
}

# A guardian restarts a killed server: stop it first.
for g in $(pgrep -x fbguard 2>/dev/null); do
    kill -TERM "$g" 2>/dev/null
done

[ -f "$pidfile" ] || exit 0
pid=$(cat "$pidfile")
if alive "$pid"; then
    kill -"$signal" "$pid" 2>/dev/null
    for _ in $(seq 1 100); do
        alive "$pid" || break
        sleep 0.1
    done
    alive "$pid" && kill -KILL "$pid" 2>/dev/null
fi
rm -f "$pidfile"
exit 0

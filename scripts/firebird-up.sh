#!/usr/bin/env bash
# Starts the Firebird 3 server on localhost:3050 without systemd, as user firebird. Idempotent.
set -euo pipefail
# The server keeps its own root and lock folder (/tmp/firebird), whoever starts it: a test entry's
# embedded engines have lock folders of their own, which the server must not inherit (they are
# removed between runs, and the server would then refuse every connection).
unset FIREBIRD FIREBIRD_LOCK FIREBIRD_TMP

pidfile=/run/firebird3.0/fbserver.pid
server=/usr/sbin/firebird
password=${QK_SYSDBA_PASSWORD:-quillstep}

running() {
    [ -f "$pidfile" ] || return 1
    local pid state
    pid=$(cat "$pidfile" 2>/dev/null) || return 1
    [ -r "/proc/$pid/stat" ] || return 1
    state=$(awk '{print $3}' "/proc/$pid/stat" 2>/dev/null) || return 1
    [ "$state" != "Z" ]
}

if running; then
    exit 0
fi

# The test server reads external tables from the tests' folders anywhere under /tmp: on this test
# machine only, every file is open to it. The program itself never needs this (scripts/run.sh gives
# its embedded engine a root of its own).
conf=/etc/firebird/3.0/firebird.conf
if ! grep -qE '^[[:space:]]*ExternalFileAccess[[:space:]]*=[[:space:]]*Full' "$conf"; then
    sed -i -E '/^[[:space:]]*ExternalFileAccess[[:space:]]*=/d' "$conf"
    echo 'ExternalFileAccess = Full' >> "$conf"
fi

mkdir -p /run/firebird3.0 /tmp/firebird /var/log/firebird
chown firebird:firebird /run/firebird3.0 /tmp/firebird /var/log/firebird
# Lock files left by an embedded engine run as root would keep the server out.
find /tmp/firebird -mindepth 1 ! -user firebird -exec chown firebird:firebird {} + 2>/dev/null || true
# A database's lock and monitor files are named after its file's identity (device and inode). A server or
# an embedded engine that was killed leaves them behind, and a new database that gets the same inode (the
# tests make and remove many) would meet a stale lock table. The shared trace and user-mapping tables carry
# mutexes: one left locked by a process killed while holding it stops every later server and engine. With
# the server down, those no running process holds open or mapped are stale.
held=$( (find /proc/[0-9]*/fd -lname '/tmp/firebird/*' -printf '%l\n' 2>/dev/null
         cat /proc/[0-9]*/maps 2>/dev/null | grep -o '/tmp/firebird/[^ ]*') | sort -u || true)
for f in /tmp/firebird/fb_lock_* /tmp/firebird/fb*_monitor_* /tmp/firebird/fb*_trace /tmp/firebird/fb_trace_* \
         /tmp/firebird/fb_user_mapping; do
    [ -e "$f" ] || continue
    grep -qxF "$f" <<<"$held" || rm -f "$f"
done

# The SYSDBA password is set once, with the server stopped, in the security database.
marker=/var/lib/firebird/3.0/.qk-sysdba-set
if [ ! -f "$marker" ]; then
    echo "create or alter user SYSDBA password '$password' using plugin Srp; commit;" |
        runuser -u firebird -- isql-fb -q -bail -user SYSDBA security.db >/dev/null
    touch "$marker"
fi

start-stop-daemon --start --background --make-pidfile --pidfile "$pidfile" \
    --chuid firebird:firebird --exec "$server"

for _ in $(seq 1 100); do
    if (exec 3<>/dev/tcp/127.0.0.1/3050) 2>/dev/null; then
        exit 0
    fi
    sleep 0.1
done
echo "firebird-up: the server did not open port 3050" >&2
exit 1

#!/usr/bin/env bash
# The window's event loop during "Kopiowanie Bazy" with its off-site copy to an append-only REST server
# on loopback (rclone), the sample made as bench/offsite.sh makes it:
#   bench/window.sh BUILD_DIR [DOCUMENTS]   (documents of each month; default 5000)
# Prints the longest pause of the loop (the window must answer within 0.25 s); asserts nothing.
set -euo pipefail
build=$1
documents=${2:-5000}
cli="$build/qkadmin-cli"
work=$(mktemp -d /tmp/qkbench-window-XXXXXX)
rest=
trap '[ -n "$rest" ] && kill "$rest" 2>/dev/null; rm -rf "$work"' EXIT
chmod 1777 "$work"
db="$work/firma"
mkdir -m 1777 "$db"
"$build/tools/qksampledb" --server localhost --documents "$documents" "$db" >/dev/null
# Settings and key in a folder only root may change (a privileged run takes them from nowhere else).
conf="$work/conf"
mkdir -m 0755 "$conf"
head -c 32 /dev/urandom | base64 >"$conf/klucz"
chmod 600 "$conf/klucz"
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
pass=$(head -c 18 /dev/urandom | base64 | tr -d '/+=')
mkdir "$work/rest"
rclone serve restic "$work/rest" --addr "127.0.0.1:$port" --append-only --user kopie --pass "$pass" \
    --config "$work/rclone.conf" 2>"$work/rclone.log" &
rest=$!
for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
    sleep 0.1
done
printf '[Ogolne]\r\nsciezka=%s\r\nprotokol=T\r\n[Zewnetrzna]\r\nrepozytorium=rest:http://kopie:%s@127.0.0.1:%s/firma/\r\nklucz=%s\r\n' \
    "$db" "$pass" "$port" "$conf/klucz" >"$conf/setup.ini"
chmod 600 "$conf/setup.ini"
"$cli" --settings "$conf/setup.ini" offsite init >/dev/null
size=$(du -m "$db/bazaqk.adb" | cut -f1)
echo "The window during Kopiowanie Bazy with an off-site copy to a loopback REST server ($size MB database, $documents documents a month)"
"$build/bench/qkbench_window_pause" "$conf/setup.ini"

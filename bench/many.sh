#!/usr/bin/env bash
# A bureau's night: backup --all --jobs 2 over many companies against the same companies backed up one
# after another, with the peak memory of each whole run (the summed resident memory of its process tree,
# sampled every 0.1 s; the server's own not counted), then health --all over the small companies:
#   bench/many.sh BUILD_DIR [SMALL] [LARGE] [LARGE_DOCUMENTS]
#   (default 200 companies of the sample's 20 documents a month, 20 of 20000)
# Every company's database is a copy of one sample made through the local server (it must be running).
# Prints figures; asserts nothing.
set -euo pipefail
build=$1
small=${2:-200}
large=${3:-20}
large_documents=${4:-20000}
cli="$build/qkadmin-cli"
work=$(mktemp -d /tmp/qkbench-many-XXXXXX)
trap 'rm -rf "$work"' EXIT
chmod 1777 "$work"
chain=(--verify --archive)
now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.2f", b - a }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# NAME COUNT DOCUMENTS: the folder $work/NAME of COUNT settings files, each naming a database of its own.
companies() {
    local name=$1 count=$2 documents=$3 i db
    mkdir -m 1777 "$work/$name-sample"
    "$build/tools/qksampledb" --server localhost --documents "$documents" "$work/$name-sample" >/dev/null
    mkdir "$work/$name"
    for i in $(seq -w 1 "$count"); do
        db="$work/$name-db/firma$i"
        mkdir -p -m 1777 "$db"
        cp "$work/$name-sample/bazaqk.adb" "$db/"
        chmod 666 "$db/bazaqk.adb"
        printf '[Ogolne]\r\nsciezka=%s\r\nprotokol=T\r\n' "$db" >"$work/$name/firma$i.ini"
    done
}

# PID: the peak of the summed resident memory (kB) of PID and its descendants, until PID ends.
peak_kb() {
    local pid=$1 peak=0 sum
    while kill -0 "$pid" 2>/dev/null; do
        sum=$(ps -e -o pid=,ppid=,rss= | awk -v root="$pid" '
            { parent[$1] = $2; rss[$1] = $3 }
            END { for (p in parent) { q = p; while (q > 1 && q != root) q = parent[q]; if (q == root) t += rss[p] }
                  print t + 0 }')
        [ "$sum" -gt "$peak" ] && peak=$sum
        sleep 0.1
    done
    echo "$peak"
}

# NAME: the companies one after another, then backup --all --jobs 2; seconds and peak memory of each.
compare() {
    local name=$1 t pid serial_peak all_peak serial all failed
    t=$(now)
    (for ini in "$work/$name"/*.ini; do "$cli" --settings "$ini" backup "${chain[@]}" >/dev/null || echo "$ini" >>"$work/$name-failed"; done) &
    pid=$!
    serial_peak=$(peak_kb "$pid")
    wait "$pid"
    serial=$(since "$t")
    t=$(now)
    "$cli" backup --all "$work/$name" "${chain[@]}" --jobs 2 >"$work/$name-all.log" &
    pid=$!
    all_peak=$(peak_kb "$pid")
    wait "$pid" || true
    all=$(since "$t")
    failed=0
    [ -f "$work/$name-failed" ] && failed=$(wc -l <"$work/$name-failed")
    printf '  one after another %8.2f s (peak %5d MB)   backup --all --jobs 2 %8.2f s (peak %5d MB)   ratio %s (target 0.6)\n' \
        "$serial" $((serial_peak / 1024)) "$all" $((all_peak / 1024)) "$(ratio "$all" "$serial")"
    echo "  $(grep '^Kopie firm:' "$work/$name-all.log" || echo 'backup --all said no summary')  (failed one after another: $failed)"
}

companies small "$small" 20
companies large "$large" "$large_documents"
echo "backup ${chain[*]} of $small companies of $(($(stat -c %s "$work/small-sample/bazaqk.adb") / 1000)) kB each"
compare small
echo "backup ${chain[*]} of $large companies of $(($(stat -c %s "$work/large-sample/bazaqk.adb") / 1000000)) MB each"
compare large

t=$(now)
"$cli" health --all "$work/small" >"$work/health.log" || true
printf 'health --all over %d companies: %s s (target 3)\n' "$small" "$(since "$t")"

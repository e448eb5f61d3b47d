#!/usr/bin/env bash
# One company's nightly chain, backup --verify --archive (the archive copy made while the backup is
# verified), against the sum of its own steps run alone in the same run: backup, verify-backup, and arj
# filing the same backup and digest. On the embedded engine and through the local server (it must run):
#   bench/chain.sh BUILD_DIR [DOCUMENTS] [ROUNDS]   (documents of each month; default 20500, a database of
#                                                    about 136 MB; medians of ROUNDS, default 3)
# Prints figures; asserts nothing.
set -euo pipefail
build=$1
documents=${2:-20500}
rounds=${3:-3}
cli="$build/qkadmin-cli"
work=$(mktemp -d /tmp/qkbench-chain-XXXXXX)
trap 'rm -rf "$work"' EXIT
chmod 1777 "$work"
now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.3f", b - a }'; }
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
mb() { awk -v b="$1" 'BEGIN { printf "%.1f", b / 1000000 }'; }

for protocol in L T; do
    db="$work/firma-$protocol"
    mkdir -m 1777 "$db"
    if [ "$protocol" = L ]; then
        "$build/tools/qksampledb" --documents "$documents" "$db" >/dev/null
        # Run as root, the embedded engine opens only a database no one else may change.
        chmod 0755 "$db"
        chmod go-w "$db/bazaqk.adb"
    else
        "$build/tools/qksampledb" --server localhost --documents "$documents" "$db" >/dev/null
    fi
    ini="$work/setup-$protocol.ini"
    printf '[Ogolne]\r\nsciezka=%s\r\nprotokol=%s\r\n' "$db" "$protocol" >"$ini"
    "$cli" --settings "$ini" backup >/dev/null # warms the caches
    backup=() verify=() arj=() chain=()
    for i in $(seq "$rounds"); do
        t=$(now); "$cli" --settings "$ini" backup >/dev/null; backup+=("$(since "$t")")
        t=$(now); "$cli" --settings "$ini" verify-backup >/dev/null; verify+=("$(since "$t")")
        t=$(now); (cd "$db" && arj a "$work/alone" bazaqk.abk bazaqk.abk.sha256 >/dev/null); arj+=("$(since "$t")")
        rm -f "$work/alone.arj"
        t=$(now); "$cli" --settings "$ini" backup --verify --archive >"$work/chain.log"; chain+=("$(since "$t")")
        grep -q 'Powstał dodatkowy plik kopii' "$work/chain.log"
        rm -f "$db"/*.arj
    done
    b=$(median "${backup[@]}"); v=$(median "${verify[@]}"); a=$(median "${arj[@]}"); c=$(median "${chain[@]}")
    sum=$(awk -v b="$b" -v v="$v" -v a="$a" 'BEGIN { printf "%.3f", b + v + a }')
    echo "backup --verify --archive, protocol $protocol: database $(mb "$(stat -c %s "$db/bazaqk.adb")") MB, backup $(mb "$(stat -c %s "$db/bazaqk.abk")") MB, $(nproc) cores (median of $rounds)"
    printf '  alone: backup %6.2f s + verify-backup %6.2f s + arj %6.2f s = %6.2f s\n' "$b" "$v" "$a" "$sum"
    printf '  chain: %6.2f s   ratio %s (target 0.75)\n' "$c" "$(awk -v c="$c" -v s="$sum" 'BEGIN { printf "%.2f", c / s }')"
done

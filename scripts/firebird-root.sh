#!/usr/bin/env bash
# Makes a private Firebird root for the embedded engine (the FIREBIRD variable names it): the machine's
# root linked in, firebird.conf copied with ExternalFileAccess set for this root alone, so that the
# machine's configuration is left as it is.
#   scripts/firebird-root.sh DIR "Restrict /data/qk"     (or None, or Full)
set -euo pipefail
dir=$1
access=$2
system=/usr/lib/x86_64-linux-gnu/firebird/3.0
mkdir -p "$dir"
for entry in "$system"/*; do
    name=$(basename "$entry")
    [ "$name" = firebird.conf ] && continue
    ln -sfn "$entry" "$dir/$name"
done
conf="$dir/firebird.conf"
sed -E '/^[[:space:]]*ExternalFileAccess[[:space:]]*=/d' "$(readlink -f "$system/firebird.conf")" >"$conf.tmp"
echo "ExternalFileAccess = $access" >>"$conf.tmp"
mv "$conf.tmp" "$conf"

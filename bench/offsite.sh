#!/usr/bin/env bash
# The off-site copy and the fetch against plain restic on the same files in the same run, and the
# repository's growth for a night's work as a share of the first copy:
#   bench/offsite.sh BUILD_DIR [DOCUMENTS]   (documents of each month; default 5000)
# The sample database is made through the local server (it must be running). Prints figures; asserts nothing.
set -euo pipefail
build=$1
documents=${2:-5000}
cli="$build/qkadmin-cli"
work=$(mktemp -d /tmp/qkbench-offsite-XXXXXX)
trap 'rm -rf "$work"' EXIT
chmod 1777 "$work"
db="$work/firma"
mkdir -m 1777 "$db"
"$build/tools/qksampledb" --server localhost --documents "$documents" "$db" >/dev/null
key="$work/klucz"
head -c 32 /dev/urandom | base64 >"$key"
chmod 600 "$key"
export RESTIC_PASSWORD_FILE=$key RESTIC_PROGRESS_FPS=2
settings() { # NAME REPOSITORY
    printf '[Ogolne]\r\nsciezka=%s\r\nprotokol=T\r\n[Zewnetrzna]\r\nrepozytorium=%s\r\nklucz=%s\r\n' "$db" "$2" "$key" >"$work/$1.ini"
    echo "$work/$1.ini"
}
now() { date +%s.%N; }
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
ini=$(settings firma "$work/repo")
"$cli" --settings "$ini" backup >/dev/null
abk="$db/bazaqk.abk"
files=("$abk" "$abk.sha256")
size=$(stat -c %s "$abk")

# First copies, each into an empty repository: the program's against restic's own backup of the same two files.
copy=() plain=()
for i in 1 2 3 4 5; do
    one=$(settings "firma" "$work/repo$i")
    "$cli" --settings "$one" offsite init >/dev/null
    t=$(now); "$cli" --settings "$one" offsite copy >"$work/copy$i.log"; copy+=("$(awk -v a="$t" -v b="$(now)" 'BEGIN{print b-a}')")
    restic -r "$work/plain$i" init >/dev/null 2>&1
    t=$(now); restic -r "$work/plain$i" backup --json "${files[@]}" >/dev/null; plain+=("$(awk -v a="$t" -v b="$(now)" 'BEGIN{print b-a}')")
done
first_added=$(sed -n 's/.* added=\([0-9]*\).*/\1/p' "$work/copy1.log")
c=$(median "${copy[@]}"); p=$(median "${plain[@]}")
echo "Off-site copy of a $((size / 1000000)) MB backup ($documents documents a month), first copy into an empty repository (median of 5)"
printf '  first copy:     restic backup %6.2f s   offsite copy %6.2f s   ratio %s (target 1.2)\n' "$p" "$c" "$(ratio "$c" "$p")"

# Three nights' work, each 1 % of December's entries changed and a few new ones, a new backup, the copy again.
nights=() plain_nights=() growth=() plain_growth=()
for n in 1 2 3; do
    isql-fb -q -user SYSDBA -password "${ISC_PASSWORD:-quillstep}" "localhost:$db/bazaqk.adb" >/dev/null <<SQL
update FJ_ZAP12 set KWOTA = KWOTA + $n where mod(NUMEWI, 100) = $n;
insert into FJ_ZAP12 (NUMEWI, NUMPOZ, STRONA, KONTO, KWOTA, KWORO) select NUMEWI + 100000 * $n, NUMPOZ, STRONA, KONTO, KWOTA, KWORO from FJ_ZAP12 where NUMEWI < 300;
commit;
SQL
    "$cli" --settings "$ini" backup >/dev/null
    t=$(now); "$cli" --settings "$(settings firma "$work/repo1")" offsite copy >"$work/night.log"; nights+=("$(awk -v a="$t" -v b="$(now)" 'BEGIN{print b-a}')")
    t=$(now); restic -r "$work/plain1" backup --json "${files[@]}" >"$work/plain-night.json"; plain_nights+=("$(awk -v a="$t" -v b="$(now)" 'BEGIN{print b-a}')")
    growth+=("$(sed -n 's/.* added=\([0-9]*\).*/\1/p' "$work/night.log")")
    plain_growth+=("$(grep '"message_type":"summary"' "$work/plain-night.json" | sed -n 's/.*"data_added":\([0-9]*\).*/\1/p')")
done
night=$(median "${nights[@]}"); plain_night=$(median "${plain_nights[@]}")
night_added=$(median "${growth[@]}"); plain_added=$(median "${plain_growth[@]}")
printf '  a night later:  restic backup %6.2f s   offsite copy %6.2f s   ratio %s (target 1.2; median of 3 nights)\n' "$plain_night" "$night" "$(ratio "$night" "$plain_night")"
printf '  repository growth: first copy %.1f MB, a night %.1f MB = %s of the first copy (restic alone: %.1f MB)\n' \
    "$(ratio "$first_added" 1000000)" "$(ratio "$night_added" 1000000)" "$(ratio "$night_added" "$first_added")" \
    "$(ratio "$plain_added" 1000000)"

# The fetch (both files, through the digest and the walk, then renamed) against restic's dump of them.
fetch=() dump=()
for i in 1 2 3 4 5; do
    t=$(now); "$cli" --settings "$(settings firma "$work/repo1")" offsite fetch latest --yes >/dev/null; fetch+=("$(awk -v a="$t" -v b="$(now)" 'BEGIN{print b-a}')")
    t=$(now)
    restic -r "$work/plain1" dump latest "$abk" >"$work/dump.abk"
    restic -r "$work/plain1" dump latest "$abk.sha256" >"$work/dump.sha256"
    dump+=("$(awk -v a="$t" -v b="$(now)" 'BEGIN{print b-a}')")
done
f=$(median "${fetch[@]}"); d=$(median "${dump[@]}")
echo "Fetch of the newest copy (median of 5)"
printf '  restic dump (2 files) %6.2f s   offsite fetch %6.2f s   ratio %s (target 1.2)\n' "$d" "$f" "$(ratio "$f" "$d")"

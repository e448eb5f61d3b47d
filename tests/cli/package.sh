#!/usr/bin/env bash
# Builds the Debian package from a configured build tree and checks what it holds and what it needs:
#   package.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "package: $*" >&2; exit 1; }

(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" >cpack.log 2>&1) || { cat "$work/cpack.log"; fail "cpack failed"; }
deb=$(ls "$work"/qkadmin_*.deb)

# The files: the programs in their home, linked into the binary path, the desktop entry, its icon,
# the manual page and the nightly backup units.
dpkg-deb -c "$deb" | awk '{print $6 ($7 ? " " $7 " " $8 : "")}' | sed 's|^\./|/|' >"$work/files"
for f in /opt/qkadmin/qkadmin /opt/qkadmin/qkadmin-cli /usr/share/applications/qkadmin.desktop \
         /usr/share/icons/hicolor/scalable/apps/qkadmin.svg /usr/share/man/man1/qkadmin-cli.1 \
         /lib/systemd/system/qkadmin-backup.service /lib/systemd/system/qkadmin-backup.timer \
         /lib/systemd/system/qkadmin-backup@.service /lib/systemd/system/qkadmin-backup@.timer \
         /lib/systemd/system/qkadmin-offsite.service /lib/systemd/system/qkadmin-offsite@.service \
         /opt/qkadmin/settings-folder /etc/qkadmin/credentials /usr/lib/tmpfiles.d/qkadmin.conf \
         "/usr/bin/qkadmin -> ../../opt/qkadmin/qkadmin" "/usr/bin/qkadmin-cli -> ../../opt/qkadmin/qkadmin-cli"; do
    grep -qxF "$f" "$work/files" || fail "missing $f"
done
if grep -E 'test_|qksampledb|qkbench|fuzz_' "$work/files"; then fail "a test or tool program in the package"; fi

# The dependencies: every library the programs link directly comes from a package named there, and the
# client library and the archiver, which are loaded and started at run time, are named too.
depends=$(dpkg-deb -f "$deb" Depends)
dpkg-deb -x "$deb" "$work/root"
names=$(tr ',' '\n' <<<"$depends" | awk '{print $1}')
named() { grep -qxF "$1" <<<"$names"; }
for p in libfbclient2 arj libqt6widgets6 qt6-qpa-plugins; do named "$p" || fail "Depends lacks $p: $depends"; done
dpkg-deb -f "$deb" Recommends | grep -qw restic || fail "Recommends lacks restic, which the off-site copies run"
for program in qkadmin qkadmin-cli; do
    ! ldd "$work/root/opt/qkadmin/$program" | grep -q 'not found' || fail "$program: a library is not found"
    for needed in $(readelf -d "$work/root/opt/qkadmin/$program" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
        lib=$(ldd "$work/root/opt/qkadmin/$program" | awk -v n="$needed" '$1 == n {print $3}')
        [ -n "$lib" ] || fail "$program: $needed is not found"
        package=$(dpkg -S "$(readlink -f "$lib")" 2>/dev/null | head -1 | cut -d: -f1) ||
            package=$(dpkg -S "$lib" 2>/dev/null | head -1 | cut -d: -f1) || true
        [ -n "$package" ] || fail "$program: $lib belongs to no package"
        named "$package" || fail "$program needs $lib of $package, which Depends does not name: $depends"
    done
done
# The programs start from where the package puts them (stripped, outside the build tree).
"$work/root/usr/bin/qkadmin-cli" --help >/dev/null || fail "qkadmin-cli --help failed"
grep -q '^Exec=qkadmin$' "$work/root/usr/share/applications/qkadmin.desktop" || fail "the desktop entry does not start qkadmin"
# The nightly units: root's settings, an unprivileged user, the credentials as a file of the unit's own,
# the health after the backup; sandboxed so that systemd rates them at most 2.0.
units="$work/root/lib/systemd/system"
single="$units/qkadmin-backup.service"
template="$units/qkadmin-backup@.service"
grep -q '^ExecStart=/usr/bin/qkadmin-cli --settings /etc/qkadmin/backup.ini backup --verify --archive --keep 14$' "$single" ||
    fail "the backup service runs something else"
grep -q '^ExecStart=/usr/bin/qkadmin-cli --settings /etc/qkadmin/%i.ini backup --verify --archive --keep 14$' "$template" ||
    fail "the template unit runs something else"
for unit in "$single" "$template"; do
    grep -q '^User=qkbackup$' "$unit" || fail "$(basename "$unit") does not run as qkbackup"
    grep -q '^LoadCredential=credentials:/etc/qkadmin/credentials$' "$unit" || fail "$(basename "$unit") has no credentials"
    grep -q '^EnvironmentFile=' "$unit" && fail "$(basename "$unit") puts the credentials into the environment"
    grep -q '^ExecStopPost=-/usr/bin/qkadmin-cli --settings /etc/qkadmin/[%a-z.]*ini health$' "$unit" ||
        fail "$(basename "$unit") does not check the health after the backup"
    # The metrics go to the package's own folder, and a file that cannot be written fails the unit.
    grep -q '^ExecStopPost=/usr/bin/qkadmin-cli --settings /etc/qkadmin/[%a-z.]*ini health --format prometheus --output /var/lib/qkadmin-metrics/qkadmin[-%i]*\.prom$' "$unit" ||
        fail "$(basename "$unit") does not write the metrics, or hides its failure"
    grep -q '^ReadWritePaths=.*[= ]/var/lib/qkadmin-metrics\( \|$\)' "$unit" || fail "$(basename "$unit") may not write the metrics folder"
    grep -q 'prometheus/node-exporter' "$unit" && fail "$(basename "$unit") still names the node exporter's own folder"
done
# The metrics folder as the package makes it: the units' user writes it, the collector's user (not in
# the group) reads it. Made here by the package's own tmpfiles line in the extracted tree, with the
# users of a system the package has configured.
mkdir -p "$work/root/etc"
printf 'root:x:0:0::/root:/bin/sh\nqkbackup:x:54399:54398::/nonexistent:/usr/sbin/nologin\n' >"$work/root/etc/passwd"
printf 'root:x:0:\nqkadmin:x:54398:\n' >"$work/root/etc/group"
if command -v systemd-tmpfiles >/dev/null; then
    systemd-tmpfiles --root="$work/root" --create qkadmin.conf || fail "the tmpfiles line does not apply"
    [ "$(stat -c '%u %g %a' "$work/root/var/lib/qkadmin-metrics")" = "54399 54398 755" ] ||
        fail "the metrics folder is $(stat -c '%u %g %a' "$work/root/var/lib/qkadmin-metrics"), not qkbackup's, readable by all"
else
    echo "package: systemd-tmpfiles is not installed: the metrics folder was checked in postinst only"
fi
grep -q '^OnCalendar=' "$units/qkadmin-backup@.timer" || fail "the template timer has no calendar"
# The off-site copy: a unit of its own after a backup that succeeded, which may reach the network, with the
# key as its credential, its cache in a folder of its own, stopped with SIGINT (restic keeps its lock on SIGTERM).
offsite="$units/qkadmin-offsite.service"
offsite_template="$units/qkadmin-offsite@.service"
grep -q '^OnSuccess=qkadmin-offsite.service$' "$single" || fail "the backup service does not start the off-site copy"
grep -q '^OnSuccess=qkadmin-offsite@%i.service$' "$template" || fail "the template unit does not start the off-site copy"
grep -q '^ExecStart=/usr/bin/qkadmin-cli --settings /etc/qkadmin/backup.ini offsite copy$' "$offsite" ||
    fail "the off-site unit runs something else"
grep -q '^ExecStart=/usr/bin/qkadmin-cli --settings /etc/qkadmin/%i.ini offsite copy$' "$offsite_template" ||
    fail "the off-site template runs something else"
for unit in "$offsite" "$offsite_template"; do
    for line in '^User=qkbackup$' '^KillSignal=SIGINT$' '^CacheDirectory=qkadmin-offsite$' '^LoadCredential=offsite-key:/etc/qkadmin/[%a-z]*\.key$' \
                '^ConditionPathExists=/etc/qkadmin/[%a-z]*\.key$'; do
        grep -q "$line" "$unit" || fail "$(basename "$unit") lacks $line"
    done
    grep -q '^IPAddressDeny=' "$unit" && fail "$(basename "$unit") may not reach the repository"
    grep -q '^EnvironmentFile=' "$unit" && fail "$(basename "$unit") puts secrets into the environment"
done
if command -v systemd-analyze >/dev/null; then
    systemd-analyze verify "$template" 2>&1 | grep -v 'qkadmin-cli' | grep -i 'error' && fail "the template unit does not verify"
    mkdir -p "$work/units"
    cp "$single" "$offsite" "$work/units/"
    cp "$template" "$work/units/qkadmin-backup@firma1.service"
    cp "$offsite_template" "$work/units/qkadmin-offsite@firma1.service"
    for unit in "$work/units/"*.service; do
        level=$(systemd-analyze security --offline=true "$unit" 2>&1 | sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p')
        [ -n "$level" ] || fail "systemd-analyze did not rate $(basename "$unit")"
        awk -v l="$level" 'BEGIN { exit !(l <= 2.0) }' || fail "$(basename "$unit") is rated $level, above 2.0"
    done
else
    echo "package: systemd-analyze is not installed: the units' sandbox was not rated"
fi

# The credentials file: root's alone, kept over upgrades; the settings folder made by postinst.
dpkg-deb -c "$deb" | grep -E ' \./etc/qkadmin/credentials$' | grep -q '^-rw------- root/root' ||
    fail "the credentials file is not root's alone: $(dpkg-deb -c "$deb" | grep credentials)"
dpkg-deb -e "$deb" "$work/control"
grep -qxF /etc/qkadmin/credentials "$work/control/conffiles" || fail "the credentials file is not a conffile"
grep -qxF /etc/qkadmin/backup.ini "$work/control/conffiles" || fail "the unit's settings are not a conffile"
dpkg-deb -c "$deb" | grep -E ' \./etc/qkadmin/backup.ini$' | grep -q '^-rw-r--r-- root/root' ||
    fail "the unit's settings may be changed by others than root"
grep -q 'useradd --system --gid qkadmin' "$work/control/postinst" || fail "postinst does not make the units' user"
grep -q 'chmod 2770' "$work/control/postinst" || fail "postinst does not make the settings folder"
grep -q 'install -d -o qkbackup -g qkadmin -m 0755 /var/lib/qkadmin-metrics' "$work/control/postinst" ||
    fail "postinst does not make the metrics folder without systemd-tmpfiles"
grep -q 'systemd-tmpfiles --create qkadmin.conf' "$work/control/postinst" || fail "postinst does not make the metrics folder"
[ "$(cat "$work/root/opt/qkadmin/settings-folder")" = /var/lib/qkadmin ] || fail "settings-folder names another folder"

# An operator who is not root: a member of the folder's group (a temporary uid and gid here), with the
# folder made as postinst makes it, writes setup.ini there and hears in Polish what to set.
if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null; then
    chmod 755 "$work"
    folder="$work/ustawienia"
    mkdir -p "$folder"
    chown root:54322 "$folder"
    chmod 2770 "$folder"
    echo "$folder" >"$work/root/opt/qkadmin/settings-folder"
    set +e
    out=$(cd / && setpriv --reuid=54321 --regid=54321 --groups=54322 "$work/root/usr/bin/qkadmin-cli" stats 2>&1)
    rc=$?
    set -e
    [ "$rc" -eq 1 ] || fail "as an operator: exit $rc, not 1: $out"
    grep -q "Nie wskazano folderu bazy danych (plik $folder/setup.ini, sekcja \[Ogolne\], klucz sciezka)" <<<"$out" ||
        fail "as an operator: the first run does not say what to set: $out"
    [ "$(stat -c '%u %g %a' "$folder/setup.ini")" = "54321 54322 660" ] ||
        fail "as an operator: setup.ini is $(stat -c '%u %g %a' "$folder/setup.ini"), not the group's to share"
    # Another operator of the group changes it afterwards.
    printf '[Ogolne]\r\nsciezka=/brak\r\n' >"$work/other.ini"
    setpriv --reuid=54323 --regid=54323 --groups=54322 sh -c "cat '$work/other.ini' > '$folder/setup.ini'" ||
        fail "another operator of the group cannot write setup.ini"
    # Two operators of the group share the lock file the first one made (its mode past any umask).
    firma="$work/firma"
    mkdir -p "$firma"
    chown root:54322 "$firma"
    chmod 2770 "$firma"
    printf 'to nie jest kopia' >"$firma/bazaqk.abk"
    chmod 640 "$firma/bazaqk.abk"
    chown root:54322 "$firma/bazaqk.abk"
    printf '[Ogolne]\r\nsciezka=%s\r\nprotokol=T\r\n' "$firma" >"$work/firma.ini"
    chmod 644 "$work/firma.ini"
    for uid in 54321 54323; do
        set +e
        out=$(cd / && umask 022 && setpriv --reuid=$uid --regid=$uid --groups=54322 "$work/root/usr/bin/qkadmin-cli" \
            --settings "$work/firma.ini" verify-backup 2>&1)
        set -e
        grep -q 'pliku blokady' <<<"$out" && fail "operator $uid cannot take the lock: $out"
        grep -q 'to nie jest kopia bazy' <<<"$out" || fail "operator $uid did not reach the backup: $out"
    done
    [ "$(stat -c '%u %g %a' "$firma/bazaqk.abk.lock")" = "54321 54322 660" ] ||
        fail "the lock file is $(stat -c '%u %g %a' "$firma/bazaqk.abk.lock"), not the group's to share"
fi
echo "package: $(basename "$deb"): files and dependencies as expected"

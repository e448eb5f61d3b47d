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
         /opt/qkadmin/settings-folder /etc/qkadmin/credentials \
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
grep -q 'ExecStart=/usr/bin/qkadmin-cli backup --verify --archive --keep 14' \
    "$work/root/lib/systemd/system/qkadmin-backup.service" || fail "the backup service runs something else"
grep -q '^EnvironmentFile=-/etc/qkadmin/credentials$' "$work/root/lib/systemd/system/qkadmin-backup.service" ||
    fail "the backup service does not read the credentials file"

grep -q '^ExecStopPost=-/usr/bin/qkadmin-cli health$' "$work/root/lib/systemd/system/qkadmin-backup.service" ||
    fail "the backup service does not check the health after the backup"

# Several databases: the template's instance names a settings file in the settings folder.
template="$work/root/lib/systemd/system/qkadmin-backup@.service"
grep -q 'ExecStart=/usr/bin/qkadmin-cli --settings /var/lib/qkadmin/%i.ini backup --verify --archive --keep 14' "$template" ||
    fail "the template unit runs something else"
grep -q '^EnvironmentFile=-/etc/qkadmin/credentials$' "$template" || fail "the template does not read the credentials file"
grep -q '^ExecStopPost=-/usr/bin/qkadmin-cli --settings /var/lib/qkadmin/%i.ini health$' "$template" ||
    fail "the template does not check the health of its own database"
grep -q '^OnCalendar=' "$work/root/lib/systemd/system/qkadmin-backup@.timer" || fail "the template timer has no calendar"
if command -v systemd-analyze >/dev/null; then
    systemd-analyze verify "$template" 2>&1 | grep -v 'qkadmin-cli' | grep -i 'error' && fail "the template unit does not verify"
fi

# The credentials file: root's alone, kept over upgrades; the settings folder made by postinst.
dpkg-deb -c "$deb" | grep -E ' \./etc/qkadmin/credentials$' | grep -q '^-rw------- root/root' ||
    fail "the credentials file is not root's alone: $(dpkg-deb -c "$deb" | grep credentials)"
dpkg-deb -e "$deb" "$work/control"
grep -qxF /etc/qkadmin/credentials "$work/control/conffiles" || fail "the credentials file is not a conffile"
grep -q 'chmod 2770' "$work/control/postinst" || fail "postinst does not make the settings folder"
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
fi
echo "package: $(basename "$deb"): files and dependencies as expected"

#!/usr/bin/env bash
# Builds the Debian package as Debian builds it (dpkg-buildpackage with debhelper, from a copy of the
# sources in a folder of the build tree, so that nothing lands beside the checkout), has lintian judge
# it, checks what it holds and needs, then installs, upgrades, removes and purges it on this machine as
# an administrator does, and leaves the machine as it was:
#   package.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
src=$1
build=$(cd "$2" && pwd)
fail() { echo "package: $*" >&2; exit 1; }
for tool in dpkg-buildpackage dh lintian fakeroot; do
    command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/setup.sh)"
done

# The same folder on every run: ccache then finds the previous run's objects (its paths are relative to
# CCACHE_BASEDIR, and dpkg-buildflags' -ffile-prefix-map names the folder).
work=$build/package
rm -rf "$work"
mkdir -p "$work/qkadmin"
git -C "$src" ls-files -z --cached --others --exclude-standard |
    (cd "$src" && xargs -0 cp --parents -t "$work/qkadmin" 2>/dev/null || true)
[ -f "$work/qkadmin/debian/control" ] || fail "the copy of the sources has no debian/control"
if command -v ccache >/dev/null; then
    # debhelper gives the build a HOME of its own: the cache is named before.
    export CMAKE_CXX_COMPILER_LAUNCHER=ccache CCACHE_DIR=${CCACHE_DIR:-$(ccache -k cache_dir)} \
           CCACHE_BASEDIR=$work CCACHE_NOHASHDIR=true
fi
export DEB_BUILD_OPTIONS="parallel=2 nocheck"
(cd "$work/qkadmin" && dpkg-buildpackage -us -uc -b >"$work/build.log" 2>&1) ||
    { tail -50 "$work/build.log"; fail "dpkg-buildpackage failed"; }
deb=$(ls "$work"/qkadmin_*.deb)
dbgsym=$(ls "$work"/qkadmin-dbgsym_*.*deb) || fail "no -dbgsym package"
version=$(dpkg-deb -f "$deb" Version)
[ "$version" = "$(cd "$work/qkadmin" && dpkg-parsechangelog -S Version)" ] || fail "version $version is not the changelog's"
project=$(sed -n 's/^project(qkadmin VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
[ "${version%%-*}" = "$project" ] || fail "the changelog's version $version is not the project's $project (CMakeLists.txt)"

# Debian's own checks: no error, no warning (overrides only for deliberate choices, each explained).
lintian --fail-on error,warning --tag-display-limit 0 "$work"/qkadmin_*.changes >"$work/lintian.log" 2>&1 ||
    { cat "$work/lintian.log"; fail "lintian rejects the package"; }
grep -E '^[EW]: ' "$work/lintian.log" && fail "lintian reports errors or warnings"
while read -r line; do
    case $line in '#'*) continue ;; '') continue ;; esac
    grep -B1 -xF "$line" "$src/debian/qkadmin.lintian-overrides" | head -1 | grep -q '^#' ||
        fail "the override '$line' says not why"
done <"$src/debian/qkadmin.lintian-overrides"

# The files: the commands in /usr/bin linking to the programs' private folder, nothing in /opt, the
# desktop entry, its icon, both manual pages compressed, the units, the tmpfiles line, the rules.
dpkg-deb -c "$deb" >"$work/listing"
dpkg-deb -c "$dbgsym" >"$work/dbgsym-listing"
awk '{print $6 ($7 ? " " $7 " " $8 : "")}' "$work/listing" | sed 's|^\./|/|' >"$work/files"
for f in /usr/lib/qkadmin/qkadmin /usr/lib/qkadmin/qkadmin-cli /usr/lib/qkadmin/settings-folder \
         "/usr/bin/qkadmin -> ../lib/qkadmin/qkadmin" "/usr/bin/qkadmin-cli -> ../lib/qkadmin/qkadmin-cli" \
         /usr/share/applications/qkadmin.desktop /usr/share/icons/hicolor/scalable/apps/qkadmin.svg \
         /usr/share/man/man1/qkadmin.1.gz /usr/share/man/man1/qkadmin-cli.1.gz \
         /usr/share/doc/qkadmin/copyright /usr/share/doc/qkadmin/changelog.gz \
         /lib/systemd/system/qkadmin-backup.service /lib/systemd/system/qkadmin-backup.timer \
         /lib/systemd/system/qkadmin-backup@.service /lib/systemd/system/qkadmin-backup@.timer \
         /lib/systemd/system/qkadmin-offsite.service /lib/systemd/system/qkadmin-offsite@.service \
         /lib/systemd/system/qkadmin-offsite-check.service /lib/systemd/system/qkadmin-offsite-check.timer \
         /lib/systemd/system/qkadmin-backup-all.service /lib/systemd/system/qkadmin-backup-all.timer \
         /etc/qkadmin/credentials /etc/qkadmin/backup.ini /usr/lib/tmpfiles.d/qkadmin.conf \
         /usr/share/qkadmin/prometheus/qkadmin.rules.yml; do
    grep -qxF "$f" "$work/files" || fail "missing $f"
done
if grep -E '^/opt|test_|qksampledb|qkoldbackup|qkbench|fuzz_' "$work/files"; then fail "/opt, or a test or tool program, in the package"; fi
dpkg-deb -f "$deb" Description | sed -n '2,$p' | grep -q 'Firebird' || fail "the extended description is empty"
dpkg-deb -f "$deb" Maintainer | grep -q '@localhost' && fail "the maintainer's address is @localhost"

# The dependencies, from the libraries the programs link (versioned by their shlibs), and the client
# library and the archiver, which are loaded and started at run time.
depends=$(dpkg-deb -f "$deb" Depends)
names=$(tr ',' '\n' <<<"$depends" | awk '{print $1}')
named() { grep -qxF "$1" <<<"$names"; }
for p in libfbclient2 arj libqt6widgets6 qt6-qpa-plugins; do named "$p" || fail "Depends lacks $p: $depends"; done
grep -qE 'libqt6core6 \(>= 6\.[0-9.]+\)' <<<"$depends" || fail "Depends are not the libraries' own (shlibs): $depends"
dpkg-deb -f "$deb" Recommends | grep -qw restic || fail "Recommends lacks restic, which the off-site copies run"
dpkg-deb -x "$deb" "$work/root"
home=$work/root/usr/lib/qkadmin
for program in qkadmin qkadmin-cli; do
    ! ldd "$home/$program" | grep -q 'not found' || fail "$program: a library is not found"
    for needed in $(readelf -d "$home/$program" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
        # "NAME => PATH (...)", or for the dynamic loader itself "PATH (...)".
        lib=$(ldd "$home/$program" | awk -v n="$needed" '$1 == n {print $3} $2 ~ /^\(/ && $1 ~ ("/" n "$") {print $1}')
        [ -n "$lib" ] || fail "$program: $needed is not found"
        package=$(dpkg -S "$(readlink -f "$lib")" 2>/dev/null | head -1 | cut -d: -f1) ||
            package=$(dpkg -S "$lib" 2>/dev/null | head -1 | cut -d: -f1) || true
        [ -n "$package" ] || fail "$program: $lib belongs to no package"
        named "$package" || fail "$program needs $lib of $package, which Depends does not name: $depends"
    done
    # Stripped, its debugging symbols in the -dbgsym package under its build id.
    readelf -S "$home/$program" | grep -q '\.debug_info' && fail "$program is not stripped"
    id=$(readelf -n "$home/$program" | sed -n 's/.*Build ID: \([0-9a-f]*\).*/\1/p')
    grep -q "/usr/lib/debug/.build-id/${id:0:2}/${id:2}.debug\$" "$work/dbgsym-listing" ||
        fail "$program: no debugging symbols for build id $id in $(basename "$dbgsym")"
done
"$home/qkadmin-cli" --help >/dev/null || fail "qkadmin-cli --help failed"
grep -q '^Exec=qkadmin$' "$work/root/usr/share/applications/qkadmin.desktop" || fail "the desktop entry does not start qkadmin"
[ "$(cat "$home/settings-folder")" = /var/lib/qkadmin ] || fail "settings-folder names another folder"

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
done
grep -q '^OnCalendar=' "$units/qkadmin-backup@.timer" || fail "the template timer has no calendar"
# The bureau's one run over every company of /etc/qkadmin: the same user, credentials and sandbox, each
# company's metrics written as it finishes into the package's metrics folder.
all="$units/qkadmin-backup-all.service"
grep -q '^ExecStart=/usr/bin/qkadmin-cli backup --all /etc/qkadmin --verify --archive --keep 14 --metrics /var/lib/qkadmin-metrics$' "$all" ||
    fail "the unit of all companies runs something else"
grep -q '^User=qkbackup$' "$all" || fail "qkadmin-backup-all.service does not run as qkbackup"
grep -q '^LoadCredential=credentials:/etc/qkadmin/credentials$' "$all" || fail "qkadmin-backup-all.service has no credentials"
grep -q '^EnvironmentFile=' "$all" && fail "qkadmin-backup-all.service puts the credentials into the environment"
grep -q '^ReadWritePaths=.*[= ]/var/lib/qkadmin-metrics\( \|$\)' "$all" || fail "qkadmin-backup-all.service may not write the metrics folder"
grep -q '^OnCalendar=' "$units/qkadmin-backup-all.timer" || fail "the timer of all companies has no calendar"
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
    mkdir -p "$work/units"
    cp "$single" "$offsite" "$all" "$work/units/"
    cp "$template" "$work/units/qkadmin-backup@firma1.service"
    cp "$offsite_template" "$work/units/qkadmin-offsite@firma1.service"
    for unit in "$work/units/"*.service; do
        level=$(systemd-analyze security --offline=true "$unit" 2>&1 | sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p')
        [ -n "$level" ] || fail "systemd-analyze did not rate $(basename "$unit")"
        awk -v l="$level" 'BEGIN { exit !(l <= 2.0) }' || fail "$(basename "$unit") is rated $level, above 2.0"
    done
fi

# The credentials file: root's alone, a conffile as the unit's settings are.
grep -E ' \./etc/qkadmin/credentials$' "$work/listing" | grep -q '^-rw------- root/root' ||
    fail "the credentials file is not root's alone: $(grep credentials "$work/listing")"
grep -E ' \./etc/qkadmin/backup.ini$' "$work/listing" | grep -q '^-rw-r--r-- root/root' ||
    fail "the unit's settings may be changed by others than root"
dpkg-deb -e "$deb" "$work/control"
for conffile in /etc/qkadmin/credentials /etc/qkadmin/backup.ini; do
    grep -qxF "$conffile" "$work/control/conffiles" || fail "$conffile is not a conffile"
done
# Removal stops every unit, also the companies' instances, which debhelper does not know by name.
# (An upgrade stops and restarts nothing: a backup that runs is not cut off.)
for unit in qkadmin-backup.timer qkadmin-backup.service qkadmin-backup-all.timer qkadmin-backup-all.service \
            qkadmin-offsite.service 'qkadmin-backup@*.timer' \
            'qkadmin-backup@*.service' 'qkadmin-offsite@*.service'; do
    grep -F "'$unit'" "$work/control/prerm" | grep -q 'deb-systemd-invoke stop' || fail "prerm does not stop $unit"
done
grep -B1 'deb-systemd-invoke stop' "$work/control/prerm" | grep '^ *if ' | grep -v '"$1" = remove' && fail "prerm stops a unit on upgrade"
grep -E 'deb-systemd-invoke (restart|\$_dh_action)' "$work/control/postinst" && fail "an upgrade restarts a unit (a running backup)"

# An operator who is not root: a member of the folder's group (a temporary uid and gid here), with the
# folder made as postinst makes it, writes setup.ini there and hears in Polish what to set.
if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null; then
    chmod 755 "$work"
    folder="$work/ustawienia"
    mkdir -p "$folder"
    chown root:54322 "$folder"
    chmod 2770 "$folder"
    echo "$folder" >"$home/settings-folder"
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

# Install, upgrade, remove, purge: as root, with apt, on a machine where the package is not installed
# (an installation of someone's own is never touched), one run of this test at a time on the machine.
if [ "$(id -u)" -ne 0 ] || ! command -v apt-get >/dev/null; then
    echo "package: not root: $(basename "$deb") built and checked, not installed"
    exit 0
fi
exec 9>/run/lock/qkadmin-package-test.lock
flock -w 900 9 || fail "another run of this test holds the machine's package for 15 minutes"
if dpkg-query -W -f='${Status}' qkadmin 2>/dev/null | grep -qv 'not-installed'; then
    echo "package: qkadmin is installed on this machine: install, upgrade and purge not tried"
    exit 0
fi
had_user=$(getent passwd qkbackup >/dev/null && echo yes || echo no)
had_group=$(getent group qkadmin >/dev/null && echo yes || echo no)
db=$work/firma-db
apt_() { DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 -q -y --no-install-recommends "$@" >>"$work/apt.log" 2>&1 ||
    { tail -30 "$work/apt.log"; fail "apt-get $* failed"; }; }
cleanup() {
    DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 -q -y purge qkadmin >/dev/null 2>&1 || true
    rm -f /etc/qkadmin/firma1.key
    rmdir /etc/qkadmin 2>/dev/null || true
    [ "$had_user" = yes ] || userdel qkbackup 2>/dev/null || true
    [ "$had_group" = yes ] || groupdel qkadmin 2>/dev/null || true
}
trap cleanup EXIT

# The previous build: the same files under a lower version, so that the upgrade below runs dpkg's and
# the maintainer scripts' whole upgrade path.
dpkg-deb -R "$deb" "$work/previous"
sed -i "s/^Version: .*/Version: 6.9.9/" "$work/previous/DEBIAN/control"
dpkg-deb -b "$work/previous" "$work/qkadmin_6.9.9_previous.deb" >/dev/null
apt_ install "$work/qkadmin_6.9.9_previous.deb"
[ "$(dpkg-query -W -f='${Version}' qkadmin)" = 6.9.9 ] || fail "the previous build is not installed"
[ "$(readlink -f /usr/bin/qkadmin-cli)" = /usr/lib/qkadmin/qkadmin-cli ] || fail "/usr/bin/qkadmin-cli is not the program"
/usr/bin/qkadmin-cli --help >/dev/null || fail "the installed qkadmin-cli does not start"
getent passwd qkbackup | grep -q ':/nonexistent:/usr/sbin/nologin$' || fail "postinst did not make the units' user"
[ "$(stat -c '%U %G %a' /var/lib/qkadmin)" = "root qkadmin 2770" ] || fail "the settings folder is $(stat -c '%U %G %a' /var/lib/qkadmin)"
[ "$(stat -c '%U %G %a' /var/lib/qkadmin-metrics)" = "qkbackup qkadmin 755" ] ||
    fail "the metrics folder is $(stat -c '%U %G %a' /var/lib/qkadmin-metrics), not qkbackup's, readable by all"
[ "$(stat -c '%U %a' /etc/qkadmin/credentials)" = "root 600" ] || fail "the installed credentials are $(stat -c '%U %a' /etc/qkadmin/credentials)"
# Installed disabled: no timer of the package is enabled.
ls /etc/systemd/system/*.wants/qkadmin* 2>/dev/null && fail "the package enabled a unit"
if command -v systemd-analyze >/dev/null; then
    for unit in /lib/systemd/system/qkadmin*; do
        case $unit in
        *@.*) name=$(basename "$unit" | sed 's/@\./@firma1./') ;;
        *) name=$(basename "$unit") ;;
        esac
        out=$(systemd-analyze verify "$name" 2>&1) || fail "systemd-analyze verify $name: $out"
        grep -i qkadmin <<<"$out" && fail "systemd-analyze verify $name: $out"
    done
fi

# The administrator sets the machine up: edits the settings and the credentials, adds a company with its
# off-site key and enables its timer; the company's database, backups and archives are in its own folder.
mkdir -p "$db"
for f in bazaqk.adb bazaqk.abk 26121002.arj; do head -c 4096 /dev/urandom >"$db/$f"; done
(cd "$db" && sha256sum * >"$work/db.sha256")
printf '[Ogolne]\nsciezka=%s\nprotokol=T\n' "$db" >/etc/qkadmin/backup.ini
printf 'ISC_USER=SYSDBA\nISC_PASSWORD=haslo-biura\n' >/etc/qkadmin/credentials
cp /etc/qkadmin/backup.ini "$work/backup.ini.edited"
cp /etc/qkadmin/credentials "$work/credentials.edited"
cp /etc/qkadmin/backup.ini /etc/qkadmin/firma1.ini
head -c 32 /dev/urandom | base64 >/etc/qkadmin/firma1.key
chmod 600 /etc/qkadmin/firma1.key
systemctl enable qkadmin-backup@firma1.timer >/dev/null 2>&1 || fail "the administrator cannot enable a company's timer"
ls /etc/systemd/system/timers.target.wants/qkadmin-backup@firma1.timer >/dev/null || fail "the company's timer was not enabled"
echo 'x' >/var/lib/qkadmin/setup.ini

# The upgrade keeps what the administrator changed, as it was.
apt_ install "$deb"
[ "$(dpkg-query -W -f='${Version}' qkadmin)" = "$version" ] || fail "the upgrade did not install $version"
cmp -s /etc/qkadmin/backup.ini "$work/backup.ini.edited" || fail "the upgrade changed the edited backup.ini"
cmp -s /etc/qkadmin/credentials "$work/credentials.edited" || fail "the upgrade changed the credentials"
[ "$(stat -c '%U %a' /etc/qkadmin/credentials)" = "root 600" ] || fail "after the upgrade the credentials are $(stat -c '%U %a' /etc/qkadmin/credentials)"
ls /etc/qkadmin/*.dpkg-* 2>/dev/null && fail "the upgrade left a conffile beside the administrator's"
[ -f /var/lib/qkadmin/setup.ini ] || fail "the upgrade lost the operators' settings"

# Removal: the programs and units go; the settings, the credentials and the operators' folder stay.
if [ -d /run/systemd/system ]; then
    systemctl start qkadmin-backup.timer
fi
apt_ remove qkadmin
[ -e /usr/bin/qkadmin-cli ] && fail "remove left the program"
[ -e /lib/systemd/system/qkadmin-backup.timer ] && fail "remove left the units"
if [ -d /run/systemd/system ]; then
    systemctl is-active -q qkadmin-backup.timer && fail "remove left the timer running"
fi
dpkg-query -W -f='${Status}' qkadmin | grep -q 'config-files' || fail "remove did not leave the settings"
cmp -s /etc/qkadmin/backup.ini "$work/backup.ini.edited" || fail "remove changed the settings"
cmp -s /etc/qkadmin/credentials "$work/credentials.edited" || fail "remove changed the credentials"
[ -f /var/lib/qkadmin/setup.ini ] || fail "remove lost the operators' settings"

# Purge: the settings, the operators' folder, the metrics folder and the company's enabled timer go; the
# company's database, backups and archives, and its off-site key (without which its copies cannot be
# read), stay.
apt_ purge qkadmin
dpkg-query -W -f='${Status}' qkadmin 2>/dev/null | grep -q 'install ok\|config-files' && fail "purge left the package"
for gone in /etc/qkadmin/backup.ini /etc/qkadmin/credentials /etc/qkadmin/firma1.ini /var/lib/qkadmin \
            /var/lib/qkadmin-metrics /etc/systemd/system/timers.target.wants/qkadmin-backup@firma1.timer; do
    [ -e "$gone" ] || [ -L "$gone" ] && fail "purge left $gone"
done
ls /var/lib/systemd/deb-systemd-helper-enabled/ 2>/dev/null | grep -q qkadmin && fail "purge left debhelper's state of the units"
[ -f /etc/qkadmin/firma1.key ] || fail "purge removed the company's off-site key"
(cd "$db" && sha256sum -c --quiet "$work/db.sha256") || fail "purge touched the company's database or backups"
echo "package: $(basename "$deb") and $(basename "$dbgsym"): lintian clean; installed, upgraded, removed, purged"

#!/usr/bin/env bash
# Installs everything the build, the tests and the run command need (Debian 12, as root). Idempotent.
# It leaves the machine's Firebird configuration alone: the test server's start-up sets what the tests need.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config git
    libgtest-dev libgmock-dev
    qt6-base-dev qt6-base-dev-tools libgl-dev qt6-translations-l10n
    firebird3.0-server firebird3.0-utils libfbclient2 firebird-dev libssl-dev
    arj xvfb xauth imagemagick fonts-dejavu-core fonts-dejavu-extra strace clang-format
    restic rclone openssh-server openssh-client
    debhelper dpkg-dev fakeroot lintian prometheus
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

# --check: only say (by the exit status) whether anything is missing; needs no root.
if [ "${1:-}" = "--check" ]; then
    [ ${#missing[@]} -eq 0 ]
    exit
fi

if [ ${#missing[@]} -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    # The server package asks for the SYSDBA password at install; answer it up front.
    echo "firebird3.0-server shared/firebird/sysdba_password/first_install password quillstep" | debconf-set-selections
    echo "firebird3.0-server shared/firebird/sysdba_password/new_password password quillstep" | debconf-set-selections
    apt-get -o DPkg::Lock::Timeout=600 update -q
    apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends "${missing[@]}"
fi

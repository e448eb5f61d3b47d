#!/usr/bin/env bash
# Shared by run.sh and screenshot.sh: set-up, build, the embedded sample database and setup.ini.
set -euo pipefail
cd "$(dirname "$0")/.."

# Root installs what is missing; an ordinary user is asked for sudo only then.
if [ "$(id -u)" -eq 0 ]; then
    bash scripts/setup.sh
elif ! bash scripts/setup.sh --check 2>/dev/null; then
    sudo bash scripts/setup.sh
fi
build=${QK_BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target qkadmin qksampledb

data=${QK_DATA_DIR:-$PWD/data}
exe_dir=$(cd "$build" && pwd)
mkdir -p "$exe_dir/paczki"
if [ ! -f "$data/bazaqk.adb" ]; then
    mkdir -p "$data"
    # Embedded (no server): the window opens it with protocol letter L.
    "$build/tools/qksampledb" --packages-folder "$exe_dir" "$data" >/dev/null
    echo "sample database: $data/bazaqk.adb"
fi
# The engine makes the file writable by its group; run as root, the window opens on the embedded engine
# only a database no one else may change (its triggers would run with root's rights).
chmod go-w "$data" "$data/bazaqk.adb"
if [ ! -f "$exe_dir/setup.ini" ]; then
    printf '[Ogolne]\r\nsciezka=%s\r\nserwer=\r\nprotokol=L\r\ncien=%s\r\n' "$data" "$data" >"$exe_dir/setup.ini"
    chmod 644 "$exe_dir/setup.ini" # the window run as root takes only settings no one else may change
fi

# The embedded engine gets a Firebird root of its own that may read external files in the data folder
# only; the machine's configuration is not touched. Lock files stay with this build.
bash scripts/firebird-root.sh "$exe_dir/firebird-root" "Restrict $data"
mkdir -p "$exe_dir/firebird-lock"

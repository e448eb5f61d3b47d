#!/usr/bin/env bash
# Checks that includes run one way through the layers:
#   platform <- db <- core <- admin, backup, users, yearend, exchange <- gui, cli
# (the sample database tool stands on the operations; fuzz targets beside gui and cli, benchmarks above
# them), and that only gui/ includes a Qt Widgets header. Tests are not checked and a benchmark may include
# Qt Widgets: they drive the window on purpose (the bench measures its event loop).
#   check-layers.sh SOURCE_DIR QTWIDGETS_INCLUDE_DIR   the tree; prints each wrong include, exit 1 if any
#   check-layers.sh --self-test QTWIDGETS_INCLUDE_DIR  a tree with one wrong include of each kind must fail
set -uo pipefail

rank() {
    case $1 in
    platform) echo 0 ;;
    db) echo 1 ;;
    core) echo 2 ;;
    admin | backup | users | yearend | exchange) echo 3 ;;
    tools | sampledb | oldbackup) echo 4 ;;
    gui | cli | fuzz) echo 5 ;;
    bench) echo 6 ;;
    *) echo -1 ;;
    esac
}

check_tree() {
    local root=$1 widgets=$2 bad=0 file dir line target
    for dir in platform db core admin backup users yearend exchange gui cli tools bench fuzz; do
        [ -d "$root/$dir" ] || continue
        while IFS= read -r file; do
            while IFS= read -r line; do
                if [[ $line =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\"([A-Za-z_]+)/ ]]; then
                    target=${BASH_REMATCH[1]}
                    [ "$target" = "$dir" ] && continue
                    [ "$dir" = tools ] && { [ "$target" = sampledb ] || [ "$target" = oldbackup ]; } && continue
                    local from to
                    from=$(rank "$dir")
                    to=$(rank "$target")
                    if [ "$to" -lt 0 ] || [ "$to" -ge "$from" ]; then
                        echo "${file#"$root"/}: $dir/ must not include $target/: $line"
                        bad=1
                    fi
                elif [[ $line =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\<(QtWidgets/)?([A-Za-z]+)\> ]]; then
                    { [ "$dir" = gui ] || [ "$dir" = bench ]; } && continue
                    if [ -n "${BASH_REMATCH[1]}" ] || [ -e "$widgets/${BASH_REMATCH[2]}" ]; then
                        echo "${file#"$root"/}: only gui/ includes Qt Widgets: $line"
                        bad=1
                    fi
                fi
            done < "$file"
        done < <(find "$root/$dir" -type f \( -name '*.h' -o -name '*.cpp' \))
    done
    return $bad
}

if [ ! -d "${2:-}" ] || [ ! -e "$2/QWidget" ]; then
    echo "usage: check-layers.sh SOURCE_DIR|--self-test QTWIDGETS_INCLUDE_DIR" >&2
    exit 2
fi

if [ "$1" = --self-test ]; then
    tmp=$(mktemp -d)
    trap 'rm -rf "$tmp"' EXIT
    mkdir -p "$tmp/platform" "$tmp/db" "$tmp/core" "$tmp/backup" "$tmp/cli" "$tmp/gui"
    printf '#include "platform/Errors.h"\n#include <QWidget>\n' > "$tmp/gui/MainF.cpp"
    printf '#include "db/Errors.h"\n#include <QString>\n' > "$tmp/core/MainD.cpp"
    check_tree "$tmp" "$2" >/dev/null || { echo "self-test: a sound tree was refused" >&2; exit 1; }
    failures=0
    for wrong in 'platform/Convert.cpp:#include "db/Errors.h"' 'db/Query.cpp:#include "core/MainD.h"' \
                 'core/MainD.cpp:#include "backup/BackupOps.h"' 'backup/BackupOps.cpp:#include "gui/MainF.h"' \
                 'backup/BackupOps.cpp:#include "users/UserAccounts.h"' 'cli/main.cpp:#include "gui/MainF.h"' \
                 'core/Operator.h:#include <QMessageBox>' 'cli/main.cpp:#include <QtWidgets/QApplication>'; do
        file=$tmp/${wrong%%:*}
        cp "$file" "$file.keep" 2>/dev/null || : > "$file.keep"
        printf '%s\n' "${wrong#*:}" >> "$file"
        if check_tree "$tmp" "$2" >/dev/null; then
            echo "self-test: not caught: ${wrong}" >&2
            failures=1
        fi
        mv "$file.keep" "$file"
    done
    [ "$failures" -eq 0 ] && echo "self-test: every wrong include caught"
    exit $failures
fi

check_tree "$1" "$2" && echo "layers: every include runs down the layers"

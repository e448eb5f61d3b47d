// qkoldbackup: writes a small sample backup as an older server's backup program wrote it, for trying
// the way from an older server (inspect-backup, restore) without one.
#include "oldbackup/OldBackupWriter.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    bool ok = args.size() == 3;
    OldBackupWriter::Options o;
    if (ok)
        o.format = args[1].toInt(&ok);
    if (!ok || o.format < 6 || o.format > 10) {
        std::fputs(
            "usage: qkoldbackup FORMAT FILE   (FORMAT 6 to 10: InterBase 6 / Firebird 1.x ... Firebird 3)\n",
            stderr);
        return 2;
    }
    o.externalFile = args[2] + QStringLiteral(".exd");
    QFile f(args[2]);
    const QByteArray bytes = OldBackupWriter::write(o);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "qkoldbackup: cannot write %s\n", qPrintable(args[2]));
        return 1;
    }
    return 0;
}

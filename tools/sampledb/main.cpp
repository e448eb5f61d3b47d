// qksampledb: creates a sample QK accounting database for the run command, the tests and the benchmarks.
#include "db/Errors.h"
#include "platform/Paths.h"
#include "sampledb/SampleDb.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdio>

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QCommandLineParser p;
    p.setApplicationDescription(
        QStringLiteral("Creates a sample QK accounting database (bazaqk.adb) in DIR."));
    p.addHelpOption();
    p.addPositionalArgument(QStringLiteral("DIR"),
                            QStringLiteral("folder of the database and its exchange files"));
    p.addOptions({
        {QStringLiteral("file"), QStringLiteral("database file name (default bazaqk.adb)"),
         QStringLiteral("NAME"), QStringLiteral("bazaqk.adb")},
        {QStringLiteral("server"),
         QStringLiteral("create through this server (e.g. localhost); default: embedded"),
         QStringLiteral("HOST")},
        {QStringLiteral("dialect"), QStringLiteral("SQL dialect, 1 or 3"), QStringLiteral("N"),
         QStringLiteral("3")},
        {QStringLiteral("old"),
         QStringLiteral("the old schema, without the tables of versions 2.21 to 2.42")},
        {QStringLiteral("no-staging-indexes"),
         QStringLiteral("leave out the indexes on the staging tables IMPORT_D and IMPORT_Z")},
        {QStringLiteral("packages-folder"), QStringLiteral("folder holding paczki/ (default DIR)"),
         QStringLiteral("PATH")},
        {QStringLiteral("documents"), QStringLiteral("documents per month"), QStringLiteral("N"),
         QStringLiteral("20")},
        {QStringLiteral("entries"), QStringLiteral("entries per document"), QStringLiteral("N"),
         QStringLiteral("3")},
        {QStringLiteral("accounts"), QStringLiteral("accounts in the plan"), QStringLiteral("N"),
         QStringLiteral("40")},
        {QStringLiteral("packages"), QStringLiteral("transfer packages"), QStringLiteral("N"),
         QStringLiteral("3")},
        {QStringLiteral("transfers"), QStringLiteral("transfers per package"), QStringLiteral("N"),
         QStringLiteral("4")},
        {QStringLiteral("months"), QStringLiteral("months with documents, e.g. 3 or 1,2,3 (default all)"),
         QStringLiteral("LIST")},
        {QStringLiteral("seed"), QStringLiteral("random seed"), QStringLiteral("N"), QStringLiteral("1")},
        {QStringLiteral("user"), QStringLiteral("user name"), QStringLiteral("NAME"),
         QStringLiteral("SYSDBA")},
        {QStringLiteral("password"), QStringLiteral("password"), QStringLiteral("TEXT"),
         QStringLiteral("quillstep")},
    });
    p.process(app);
    if (p.positionalArguments().size() != 1) {
        std::fputs("usage: qksampledb [options] DIR (see --help)\n", stderr);
        return 2;
    }
    const QString sep = Paths::separator();
    QString dir = QDir::toNativeSeparators(QFileInfo(p.positionalArguments().first()).absoluteFilePath());
    if (!dir.endsWith(sep))
        dir += sep;

    SampleDb::Options o;
    o.databaseFile = dir + p.value(QStringLiteral("file"));
    o.server = p.value(QStringLiteral("server"));
    o.dialect = p.value(QStringLiteral("dialect")).toInt();
    o.variant = p.isSet(QStringLiteral("old")) ? SampleSchema::Variant::Old : SampleSchema::Variant::Current;
    o.exchangeFolder = dir;
    o.stagingIndexes = !p.isSet(QStringLiteral("no-staging-indexes"));
    QString pk = p.isSet(QStringLiteral("packages-folder"))
                     ? QDir::toNativeSeparators(
                           QFileInfo(p.value(QStringLiteral("packages-folder"))).absoluteFilePath())
                     : dir;
    if (!pk.endsWith(sep))
        pk += sep;
    o.packageFolder = pk;
    o.scale.documentsPerMonth = p.value(QStringLiteral("documents")).toInt();
    o.scale.entriesPerDocument = p.value(QStringLiteral("entries")).toInt();
    o.scale.accounts = std::max(2, p.value(QStringLiteral("accounts")).toInt());
    o.scale.packages = p.value(QStringLiteral("packages")).toInt();
    o.scale.transfersPerPackage = p.value(QStringLiteral("transfers")).toInt();
    o.scale.seed = p.value(QStringLiteral("seed")).toUInt();
    if (p.isSet(QStringLiteral("months"))) {
        o.scale.months.clear();
        for (const QString &m :
             p.value(QStringLiteral("months")).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            const int n = m.toInt();
            if (n < 1 || n > 12) {
                std::fputs("qksampledb: months are 1 to 12\n", stderr);
                return 2;
            }
            o.scale.months << n;
        }
    }
    o.user = p.value(QStringLiteral("user"));
    o.password = p.value(QStringLiteral("password"));
    if (o.dialect != 1 && o.dialect != 3) {
        std::fputs("qksampledb: dialect is 1 or 3\n", stderr);
        return 2;
    }
    try {
        SampleDb::create(o);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "qksampledb: %s\n", e.what());
        return 1;
    }
    std::printf("%s\n", qPrintable(o.databaseFile));
    return 0;
}

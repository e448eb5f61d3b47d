// Monthly export and import against the real server at growing sizes, beside a raw fetch of the same
// rows (isql-fb to /dev/null, and the database layer without formatting) and the cost of one prepared
// insert. Prints the figures and ratios; asserts nothing.
#include "core/MainD.h"
#include "core/Operator.h"
#include "db/Database.h"
#include "db/Query.h"
#include "db/Transaction.h"
#include "exchange/ExchangeOps.h"
#include "platform/IniFile.h"
#include "sampledb/SampleDb.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

namespace {

// Says nothing; remembers when each stage of the import began.
struct NullOperator : Operator {
    QElapsedTimer clock;
    QList<QPair<QString, qint64>> stages;
    void message(Box, const QString &) override {}
    bool confirm(const QString &) override { return true; }
    void setLabel(const QString &label, const QString &text, Tone) override
    {
        if (label == QLatin1String("Label42")) {
            if (!clock.isValid())
                clock.start();
            stages.append({text, clock.elapsed()});
        }
    }
    void setProgress(const QString &, int) override {}
    void clearMemo(const QString &) override {}
    void appendLine(const QString &, const QString &) override {}
    void beginBusy() override {}
    void endBusy() override {}
    void processEvents() override {}
    void endProgram() override {}
};

QString makeFolder(QTemporaryDir &root, const QString &name)
{
    const QString path = root.path() + QLatin1Char('/') + name + QLatin1Char('/');
    QDir().mkpath(path);
    QFile(path).setPermissions(QFileDevice::Permissions(0x7777));
    return path;
}

QString createDatabase(const QString &folder, int documents)
{
    SampleDb::Options o;
    o.databaseFile = folder + QStringLiteral("bazaqk.adb");
    o.server = QStringLiteral("localhost");
    o.exchangeFolder = folder;
    o.packageFolder = folder;
    o.scale.documentsPerMonth = documents;
    o.scale.entriesPerDocument = 3;
    o.scale.accounts = 200;
    o.scale.months = documents > 0 ? QList<int>{3} : QList<int>{};
    SampleDb::create(o);
    return folder;
}

std::unique_ptr<TMainDm> module(const QString &folder, QTemporaryDir &root, const QString &name)
{
    const QString settings = makeFolder(root, name);
    QString path = folder;
    path.chop(1);
    IniFile::writeString(settings + "setup.ini", "Ogolne", "sciezka", path);
    IniFile::writeString(settings + "setup.ini", "Ogolne", "protokol", "T");
    auto dm = std::make_unique<TMainDm>(settings);
    dm->DataModuleCreate();
    dm->EmployeeTran.commit();
    return dm;
}

double isqlFetch(const QString &folder)
{
    QFile script(folder + "fetch.sql");
    script.open(QIODevice::WriteOnly);
    script.write("select * from FJ_DOK3 order by NUMEWI;\nselect * from FJ_ZAP3 order by NUMEWI,NUMPOZ,STRONA;\n"
                 "select * from FJ_ROZR order by KONTO;\nselect * from FJ_BIL order by NUMZAP;\n"
                 "select * from FJ_ZPLK order by KONTO;\n");
    script.close();
    QProcess p;
    p.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer t;
    t.start();
    p.start("isql-fb", {"-q", "-user", "SYSDBA", "-password", "quillstep", "-i", folder + "fetch.sql",
                        "localhost:" + folder + "bazaqk.adb"});
    p.waitForFinished(-1);
    return t.nsecsElapsed() / 1e6;
}

double layerFetch(TMainDm &dm)
{
    QElapsedTimer t;
    t.start();
    for (const char *sql : {"select * from FJ_DOK3 order by NUMEWI", "select * from FJ_ZAP3 order by NUMEWI,NUMPOZ,STRONA",
                            "select * from FJ_ROZR order by KONTO", "select * from FJ_BIL order by NUMZAP",
                            "select * from FJ_ZPLK order by KONTO"}) {
        Query &q = dm.IBQuery6;
        q.close();
        q.setSql(QString::fromLatin1(sql));
        q.open();
        while (!q.eof())
            q.next();
        q.close();
    }
    dm.EmployeeTran.commit();
    return t.nsecsElapsed() / 1e6;
}

double preparedInsertMicros(TMainDm &dm)
{
    Query q(QStringLiteral("bench"), &dm.EmployeeDb, &dm.EmployeeTran);
    q.setSql(QStringLiteral("insert into FJ_ZAP12 (NUMEWI, NUMPOZ, STRONA, KONTO, KWOTA, KWORO) values "
                            "(:NUMEWI, :NUMPOZ, :STRONA, :KONTO, :KWOTA, :KWORO)"));
    const int n = 5000;
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < n; ++i) {
        q.paramByName("NUMEWI").setAsFloat(i);
        q.paramByName("NUMPOZ").setAsInteger(1);
        q.paramByName("STRONA").setAsString("W");
        q.paramByName("KONTO").setAsString("201-001");
        q.paramByName("KWOTA").setAsFloat(i / 100.0);
        q.paramByName("KWORO").setAsFloat(0);
        q.execute();
    }
    const double us = t.nsecsElapsed() / 1e3 / n;
    dm.EmployeeTran.rollback();
    return us;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QList<int> sizes{1000, 10000, 100000};
    if (argc > 1) {
        sizes.clear();
        for (int i = 1; i < argc; ++i)
            sizes << QString::fromLatin1(argv[i]).toInt();
    }
    QTemporaryDir root(QDir::tempPath() + "/qkbench-XXXXXX");
    QFile(root.path()).setPermissions(QFileDevice::Permissions(0x7777));
    std::printf("%9s %10s %10s %10s %8s %11s %10s %11s %11s\n", "documents", "isql ms", "layer ms", "export ms",
                "exp/isql", "import ms", "ins us/row", "import rows", "us per row");
    QList<double> importTimes;
    for (int n : sizes) {
        NullOperator op;
        const QString a = createDatabase(makeFolder(root, QStringLiteral("a%1").arg(n)), n);
        const QString b = createDatabase(makeFolder(root, QStringLiteral("b%1").arg(n)), 0);
        auto dmA = module(a, root, QStringLiteral("sa%1").arg(n));
        const double isql = isqlFetch(a);
        const double layer = layerFetch(*dmA);
        QElapsedTimer t;
        t.start();
        ExchangeOps::exportMonth(*dmA, op, 3, "2026");
        const double exportMs = t.nsecsElapsed() / 1e6;
        dmA->EmployeeTran.commit();
        const double insertUs = preparedInsertMicros(*dmA);
        dmA->shutDown();

        QFile::copy(a + "EX03D.TXT", b + "EX03D.TXT");
        QFile::copy(a + "EX03Z.TXT", b + "EX03Z.TXT");
        auto dmB = module(b, root, QStringLiteral("sb%1").arg(n));
        t.restart();
        ExchangeOps::importMonth(*dmB, op, 3, true);
        dmB->EmployeeTran.commit();
        const double importMs = t.nsecsElapsed() / 1e6;
        dmB->shutDown();
        importTimes << importMs;
        for (qsizetype k = 0; k + 1 < op.stages.size(); ++k)
            std::printf("          %-40s %8lld ms\n", qPrintable(op.stages[k].first),
                        op.stages[k + 1].second - op.stages[k].second);
        // Rows the import executes statements for: documents (insert, number) and entries (renumber, insert).
        const double rows = n * 2.0 + n * 3.0 * 2.0;
        std::printf("%9d %10.0f %10.0f %10.0f %8.2f %11.0f %10.1f %11.0f %11.1f\n", n, isql, layer, exportMs,
                    exportMs / isql, importMs, insertUs, rows, importMs * 1000 / rows);
        std::fflush(stdout);
    }
    for (qsizetype i = 1; i < importTimes.size(); ++i)
        std::printf("import time x%.0f rows: %.2f\n", double(sizes[i]) / sizes[i - 1], importTimes[i] / importTimes[i - 1]);
    return 0;
}

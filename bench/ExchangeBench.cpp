// Benchmarks of the program against baselines measured in the same run on the same database:
//   - the monthly export against a plain fetch of the same five selects written directly on the client
//     library (prepare, execute, fetch every row into its buffers, convert nothing);
//   - the monthly import against the same number of prepared single-row statements of each kind it
//     executes, each in a plain loop on the client library;
//   - the import's growth on a database whose staging tables carry no indexes;
//   - the window's start-up to its first paint, and the grants of a user with every right;
//   - the restore of the sample's backup against the server's own gbak -c of the same backup into a new file;
//   - the peak resident sizes of the export, the import and the transfer export at two sizes;
//   - qkadmin-cli health on the largest sample.
// Each measured operation runs in a process of its own (this program started again with "child"), so
// that its peak resident size is its own. Prints figures and ratios; asserts nothing.
#include "backup/BackupGate.h"
#include "backup/BackupOps.h"
#include "backup/RestoreWorker.h"
#include "core/MainD.h"
#include "core/Operator.h"
#include "db/Database.h"
#include "db/Query.h"
#include "db/Transaction.h"
#include "exchange/ExchangeOps.h"
#include "platform/Archiver.h"
#include "platform/BackupDigest.h"
#include "platform/IniFile.h"
#include "platform/Paths.h"
#include "sampledb/SampleDb.h"
#include "users/UserAccounts.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct NullOperator : Operator {
    void message(Box, const QString &) override {}
    bool confirm(const QString &) override { return true; }
    void showLockFlag(bool) override {}
    void showConnectionCount(const QString &) override {}
    void setStage(Activity, const QString &) override {}
    void setActivity(Activity, int) override {}
    void clearLog(Log) override {}
    void appendLine(Log, const QString &) override {}
    void showResult(YearEnd, const QString &) override {}
    void beginBusy() override {}
    void endBusy() override {}
    void processEvents() override {}
    void endProgram() override {}
};

long peakKb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

QString makeFolder(const QString &root, const QString &name) {
    const QString path = root + QLatin1Char('/') + name + QLatin1Char('/');
    QDir().mkpath(path);
    QFile(path).setPermissions(QFileDevice::Permissions(0x7777));
    return path;
}

QString settingsFor(const QString &dbFolder, const QString &protocol, const QString &settingsFolder) {
    QString path = dbFolder;
    path.chop(1);
    const QString ini = settingsFolder + "setup.ini";
    IniFile::writeString(ini, "Ogolne", "sciezka", path);
    IniFile::writeString(ini, "Ogolne", "protokol", protocol);
    return ini;
}

std::unique_ptr<TMainDm> module(const QString &ini) {
    auto dm = std::make_unique<TMainDm>(QFileInfo(ini).absolutePath() + "/", ini);
    dm->DataModuleCreate();
    dm->EmployeeTran.commit();
    return dm;
}

// ---- the plain client-library loops ------------------------------------------------------------

// A statement on the raw client library with its buffers: described once, executed and fetched
// with nothing converted.
class RawStatement {
public:
    RawStatement(Database &db, Transaction &tr, const char *sql) : m_db(db), m_tr(tr), m_fb(db.client()) {
        ISC_STATUS_ARRAY st;
        m_fb.dsql_alloc_statement2(st, m_db.handle(), &m_stmt);
        m_db.check(st);
        m_out = allocate(20);
        m_fb.dsql_prepare(st, m_tr.handle(), &m_stmt, 0, sql, 3, m_out);
        m_db.check(st);
        m_out = described(m_out, m_fb.dsql_describe);
        bind(m_out, m_outData);
        m_in = described(allocate(20), m_fb.dsql_describe_bind);
        bind(m_in, m_inData);
    }
    ~RawStatement() {
        ISC_STATUS_ARRAY st;
        m_fb.dsql_free_statement(st, &m_stmt, DSQL_drop);
        std::free(m_out);
        std::free(m_in);
    }
    int inputs() const { return m_in->sqld; }
    // Fills every input with a value of its type derived from i (text 'K', numbers i, a date).
    void setInputs(qint64 i) {
        for (int k = 0; k < m_in->sqld; ++k) {
            XSQLVAR &v = m_in->sqlvar[k];
            *v.sqlind = 0;
            switch (v.sqltype & ~1) {
            case SQL_TEXT:
                std::memset(v.sqldata, 'K', size_t(v.sqllen));
                break;
            case SQL_VARYING: {
                const short n = 1;
                std::memcpy(v.sqldata, &n, 2);
                v.sqldata[2] = 'K';
                break;
            }
            case SQL_SHORT: {
                const short s = short(i % 30000);
                std::memcpy(v.sqldata, &s, 2);
                break;
            }
            case SQL_LONG: {
                const int s = int(i);
                std::memcpy(v.sqldata, &s, 4);
                break;
            }
            case SQL_INT64: {
                qint64 s = i;
                for (int d = 0; d < -v.sqlscale; ++d)
                    s *= 10;
                std::memcpy(v.sqldata, &s, 8);
                break;
            }
            case SQL_DOUBLE: {
                const double d = double(i);
                std::memcpy(v.sqldata, &d, 8);
                break;
            }
            case SQL_TYPE_DATE: {
                const ISC_DATE d = 61000;
                std::memcpy(v.sqldata, &d, 4);
                break;
            }
            case SQL_TIMESTAMP: {
                const ISC_TIMESTAMP t{61000, 0};
                std::memcpy(v.sqldata, &t, 8);
                break;
            }
            default:
                *v.sqlind = -1;
            }
        }
    }
    void execute() {
        ISC_STATUS_ARRAY st;
        m_fb.dsql_execute(st, m_tr.handle(), &m_stmt, 1, m_in->sqld ? m_in : nullptr);
        m_db.check(st);
    }
    qint64 fetchAll() {
        ISC_STATUS_ARRAY st;
        qint64 rows = 0;
        while (m_fb.dsql_fetch(st, &m_stmt, 1, m_out) == 0)
            ++rows;
        m_fb.dsql_free_statement(st, &m_stmt, DSQL_close);
        return rows;
    }

private:
    // The descriptor with room for every column or parameter the statement has.
    XSQLDA *described(XSQLDA *d, decltype(&::isc_dsql_describe) describe) {
        ISC_STATUS_ARRAY st;
        if (d->sqld == 0 || d->sqld > d->sqln) {
            if (d->sqld > d->sqln) {
                const int n = d->sqld;
                std::free(d);
                d = allocate(n);
            }
            describe(st, &m_stmt, 1, d);
            m_db.check(st);
            if (d->sqld > d->sqln)
                return described(d, describe);
        }
        return d;
    }
    static XSQLDA *allocate(int n) {
        auto *d = static_cast<XSQLDA *>(std::calloc(1, XSQLDA_LENGTH(n)));
        d->version = SQLDA_VERSION1;
        d->sqln = short(n);
        return d;
    }
    static void bind(XSQLDA *d, std::vector<std::vector<char>> &data) {
        data.assign(size_t(d->sqld), {});
        for (int k = 0; k < d->sqld; ++k) {
            XSQLVAR &v = d->sqlvar[k];
            data[size_t(k)].assign(size_t(v.sqllen) + 2 + sizeof(short) + 8, 0);
            v.sqldata = data[size_t(k)].data();
            v.sqlind = reinterpret_cast<short *>(data[size_t(k)].data() + v.sqllen + 2 + 6);
            v.sqltype |= 1;
        }
    }
    Database &m_db;
    Transaction &m_tr;
    FbClient &m_fb;
    isc_stmt_handle m_stmt = 0;
    XSQLDA *m_out = nullptr;
    XSQLDA *m_in = nullptr;
    std::vector<std::vector<char>> m_outData, m_inData;
};

const char *const kExportSelects[] = {
    "select * from FJ_DOK3 order by NUMEWI", "select * from FJ_ZAP3 order by NUMEWI,NUMPOZ,STRONA",
    "select * from FJ_ROZR order by KONTO", "select * from FJ_BIL order by NUMZAP",
    "select * from FJ_ZPLK order by KONTO"};

// ---- the children ----------------------------------------------------------------------------------

int child(const QStringList &a) {
    const QString mode = a.value(2), ini = a.value(3);
    const int n = a.value(4).toInt();
    auto dm = module(ini);
    NullOperator op;
    if (mode == "fetch" || mode == "floor")
        dm->EmployeeTran.start(); // the plain loops run in the module's transaction, started here
    QElapsedTimer t;
    t.start();
    if (mode == "fetch") {
        for (const char *sql : kExportSelects) {
            RawStatement s(dm->EmployeeDb, dm->EmployeeTran, sql);
            s.execute();
            s.fetchAll();
        }
    } else if (mode == "export") {
        ExchangeOps::exportMonth(*dm, op, 3, "2026");
    } else if (mode == "import") {
        ExchangeOps::importMonth(*dm, op, 3, true);
        dm->EmployeeTran.commit();
    } else if (mode == "floor") {
        // What the import executes one row at a time, as plain prepared loops: document inserts, the
        // two staging updates, entry inserts. Rolled back.
        struct Kind {
            const char *sql;
            int perDocument;
        };
        const Kind kinds[] = {
            {"insert into FJ_DOK12 (TYPREJ, KONTOW, NUMDOK, NUMPOZ, DATDOK, DOKTYP, DOKNUM, DOKDAT, K_KOD, "
             "K_IDN, "
             "K_NAZ, K_AD1, K_AD2, TERDNI, TERDAT, OPIS1, OPIS2, KTO) values "
             "(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)",
             1},
            {"update IMPORT_D set NUMEWI = ? where (TYPREJ = ?) AND (KONTOW = ?) AND (NUMDOK = ?) AND "
             "(NUMPOZ = ?)",
             1},
            {"update IMPORT_Z set NUMEWI = ? where (NUMEWI2 = ?)", 1},
            {"insert into FJ_ZAP12 (NUMEWI, NUMPOZ, STRONA, KONTO, KWOTA, KWORO) values (?,?,?,?,?,?)", 3},
        };
        for (const Kind &k : kinds) {
            RawStatement s(dm->EmployeeDb, dm->EmployeeTran, k.sql);
            for (qint64 i = 0; i < qint64(n) * k.perDocument; ++i) {
                s.setInputs(i);
                s.execute();
            }
        }
        const double ms = t.nsecsElapsed() / 1e6;
        dm->EmployeeTran.rollback();
        std::printf("%.1f %ld\n", ms, peakKb());
        dm->shutDown();
        return 0;
    } else if (mode == "transfers") {
        const QString folder = QFileInfo(ini).absolutePath() + "/";
        QDir().mkpath(folder + "paczki");
        ExchangeOps::exportTransfers(*dm, op, folder);
    } else if (mode == "backup") {
        BackupOps::backupDatabase(*dm, op);
    } else if (mode == "restore") {
        Archiver::setLauncher(
            [](const Archiver::Launch &, Archiver::Finished) { return true; }); // no archive copy
        BackupOps::restoreDatabase(*dm, op);
    } else if (mode == "grants") {
        UserAccounts::UserForm f;
        f.userName = "QKBENCH";
        f.rightsGate = f.all = f.remove = f.insert = f.update = f.select = true;
        UserAccounts::GrantTableRights(*dm, op, f);
        dm->EmployeeTran.commit();
    }
    const double ms = t.nsecsElapsed() / 1e6;
    if (dm->EmployeeTran.active())
        dm->EmployeeTran.commit();
    std::printf("%.1f %ld\n", ms, peakKb());
    dm->shutDown();
    return 0;
}

// ---- the parent ------------------------------------------------------------------------------------

struct Run {
    double ms = 0;
    long kb = 0;
};

Run runChild(const QString &mode, const QString &ini, int n) {
    QProcess p;
    p.start(QCoreApplication::applicationFilePath(), {"child", mode, ini, QString::number(n)});
    p.waitForFinished(-1);
    const QStringList out = QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed().split(' ');
    if (p.exitCode() != 0 || out.size() != 2) {
        std::fprintf(stderr, "child %s failed: %s\n", qPrintable(mode), p.readAllStandardError().constData());
        return {-1, 0};
    }
    return {out[0].toDouble(), out[1].toLong()};
}

// The median of three runs (peak size of the last).
Run median(const QString &mode, const QString &ini, int n, int runs = 3) {
    std::vector<Run> r;
    for (int i = 0; i < runs; ++i)
        r.push_back(runChild(mode, ini, n));
    std::sort(r.begin(), r.end(), [](const Run &a, const Run &b) { return a.ms < b.ms; });
    return r[r.size() / 2];
}

// The peak resident size of a whole qkadmin-cli run, as an operator measures it (the kernel's own
// account of the process, its start-up included); -1 when the run failed. A process's peak counts the
// memory of the one it was forked from until its exec: the run is forked by a small "measure" process
// of this program, not by this one, whose own size would stand in for the command's start-up.
long cliPeakKb(const QString &ini, const QStringList &command) {
    QDir().mkpath(QCoreApplication::applicationDirPath() + "/../paczki"); // export-transfers writes there
    QProcess p;
    p.start(QCoreApplication::applicationFilePath(),
            QStringList{"measure", QCoreApplication::applicationDirPath() + "/../qkadmin-cli", "--settings",
                        ini} +
                command);
    p.waitForFinished(-1);
    bool ok = false;
    const long kb = QString::fromLatin1(p.readAllStandardOutput()).trimmed().toLong(&ok);
    return ok ? kb : -1;
}

// The median of runs whole qkadmin-cli runs, process start to end, in milliseconds.
double cliMedianMs(const QStringList &args, int runs) {
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        QProcess p;
        QElapsedTimer t;
        t.start();
        p.start(QCoreApplication::applicationDirPath() + "/../qkadmin-cli", args);
        p.waitForFinished(-1);
        ms.push_back(t.nsecsElapsed() / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

// measure PROGRAM ARGS...: runs it, its output discarded, and prints its peak resident size in KiB
// (-1 when it failed). Called before anything of this program is set up, to stay small.
int measure(char **argv) {
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execv(argv[0], argv);
        _exit(127);
    }
    int status = 0;
    rusage ru{};
    if (pid < 0 || wait4(pid, &status, 0, &ru) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::printf("-1\n");
        return 0;
    }
    std::printf("%ld\n", ru.ru_maxrss);
    return 0;
}

QString createDatabase(const QString &folder, int documents, bool server, bool stagingIndexes = true) {
    SampleDb::Options o;
    o.databaseFile = folder + "bazaqk.adb";
    o.server = server ? QStringLiteral("localhost") : QString();
    o.exchangeFolder = folder;
    o.packageFolder = folder;
    o.scale.documentsPerMonth = documents;
    o.scale.entriesPerDocument = 3;
    o.scale.accounts = 200;
    o.scale.months = documents > 0 ? QList<int>{3} : QList<int>{};
    // As many transfers as documents, a hundred to a package.
    o.scale.transfersPerPackage = documents > 0 ? 100 : 0;
    o.scale.packages = documents / 100;
    o.stagingIndexes = stagingIndexes;
    SampleDb::create(o);
    return folder;
}

double loadAverage() {
    QFile f("/proc/loadavg");
    return f.open(QIODevice::ReadOnly) ? f.readAll().split(' ').value(0).toDouble() : -1;
}

} // namespace

int main(int argc, char **argv) {
    // The embedded engine's restore runs in this same program, started again as a worker.
    if (const int rc = RestoreWorker::runIfAsked(argc, argv); rc >= 0)
        return rc;
    if (argc > 2 && std::strcmp(argv[1], "measure") == 0)
        return measure(argv + 2);
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.value(1) == "child")
        return child(args);

    QList<int> sizes{10000, 100000};
    if (args.size() > 1) {
        sizes.clear();
        for (int i = 1; i < args.size(); ++i)
            sizes << args[i].toInt();
    }
    QTemporaryDir rootDir(QDir::tempPath() + "/qkbench-XXXXXX");
    QFile(rootDir.path()).setPermissions(QFileDevice::Permissions(0x7777));
    const QString root = rootDir.path();
    std::printf("load average at start: %.2f (2 cores)\n\n", loadAverage());

    std::printf(
        "Monthly export against a plain client-library fetch of the same five selects (median of 3)\n");
    std::printf("%-9s %9s %10s %10s %8s %12s %12s\n", "engine", "documents", "fetch ms", "export ms", "ratio",
                "fetch MB", "export MB");
    QStringList importLines;
    std::map<bool, std::map<int, std::array<long, 3>>> peaks; // export, import, transfer export
    std::map<bool, std::map<int, long>> startup;              // the command line connected, doing nothing
    for (const bool server : {false, true}) {
        const QString protocol = server ? "T" : "L";
        for (int n : sizes) {
            const QString tag = QString("%1%2").arg(server ? "s" : "e").arg(n);
            const QString a = createDatabase(makeFolder(root, "a" + tag), n, server);
            const QString iniA = settingsFor(a, protocol, makeFolder(root, "sa" + tag));
            const Run fetch = median("fetch", iniA, n), exp = median("export", iniA, n);
            std::printf("%-9s %9d %10.0f %10.0f %8.2f %12.1f %12.1f\n", server ? "server" : "embedded", n,
                        fetch.ms, exp.ms, exp.ms / fetch.ms, fetch.kb / 1024.0, exp.kb / 1024.0);
            std::fflush(stdout);

            median("transfers", iniA, n);
            peaks[server][n] = {cliPeakKb(iniA, {"export", "--month", "3"}), 0,
                                cliPeakKb(iniA, {"export-transfers"})};
            startup[server][n] = cliPeakKb(iniA, {"check-input", "--month", "3"});

            const QString b = createDatabase(makeFolder(root, "b" + tag), 0, server);
            for (const char *f : {"EX03D.TXT", "EX03Z.TXT"})
                QFile::copy(a + f, b + f);
            QProcess::execute("chmod", {"a+r", b + "EX03D.TXT", b + "EX03Z.TXT"});
            const QString iniB = settingsFor(b, protocol, makeFolder(root, "sb" + tag));
            const Run imp = runChild("import", iniB, n), floor = runChild("floor", iniB, n);
            // The whole command's peak, importing the month over itself (every document found and replaced).
            peaks[server][n][1] = cliPeakKb(iniB, {"import", "--month", "3"});
            importLines << QString::asprintf(
                "%-9s %9d %10.0f %10.0f %8.2f %9.0f%% %12.1f", server ? "server" : "embedded", n, imp.ms,
                floor.ms, imp.ms / floor.ms, 100.0 * (imp.ms - floor.ms) / imp.ms, imp.kb / 1024.0);
        }
    }
    std::printf(
        "\nMonthly import against its floor: the same prepared single-row statements in plain loops\n");
    std::printf("%-9s %9s %10s %10s %8s %10s %12s\n", "engine", "documents", "import ms", "floor ms", "ratio",
                "above", "import MB");
    for (const QString &l : importLines)
        std::printf("%s\n", qPrintable(l));

    if (sizes.size() >= 2) {
        const int small = sizes.first(), large = sizes.last();
        std::printf("\nPeak resident size of the whole qkadmin-cli process, %d against %d documents (MB; "
                    "ratio), beside\n"
                    "its start-up size (connected, doing nothing, at %d)\n",
                    large, small, small);
        std::printf("%-9s %8s %22s %22s %22s\n", "engine", "start-up", "export", "import", "transfer export");
        for (const bool server : {false, true}) {
            std::printf("%-9s %8.1f", server ? "server" : "embedded", startup[server][small] / 1024.0);
            for (int k = 0; k < 3; ++k) {
                const long a = peaks[server][small][size_t(k)], b = peaks[server][large][size_t(k)];
                std::printf(" %7.1f -> %7.1f %5.2f", a / 1024.0, b / 1024.0,
                            a > 0 ? double(b) / double(a) : 0.0);
            }
            std::printf("\n");
        }
    }

    QStringList healthLines;
    std::printf("\nRestore of the sample's backup against gbak -c of the same backup into a new file (median "
                "of 3)\n");
    std::printf("%-9s %9s %10s %10s %8s\n", "engine", "documents", "gbak ms", "restore ms", "ratio");
    for (const bool server : {false, true}) {
        const int n = sizes.last();
        const QString tag = QString("r%1%2").arg(server ? "s" : "e").arg(n);
        const QString folder = createDatabase(makeFolder(root, tag), n, server);
        const QString ini = settingsFor(folder, server ? "T" : "L", makeFolder(root, "s" + tag));
        runChild("backup", ini, n);
        std::vector<double> gbak;
        double syncRestoredMs = 0;
        for (int i = 0; i < 3; ++i) {
            const QString target = folder + "gbak-c.adb";
            QFile::remove(target);
            QStringList a{"-c", "-user", "SYSDBA", "-password", "quillstep"};
            if (server)
                a << "-se"
                  << "localhost:service_mgr";
            a << folder + "bazaqk.abk" << target;
            QElapsedTimer t;
            t.start();
            QProcess::execute("gbak", a);
            gbak.push_back(t.nsecsElapsed() / 1e6);
            if (i == 0) {
                // What putting a restored database in place durably adds: the engine never syncs the file
                // it restored, so the program does before the rename, and the folder after.
                t.restart();
                Paths::syncFile(target);
                Paths::syncFolderOf(target);
                syncRestoredMs = t.nsecsElapsed() / 1e6;
            }
            QFile::remove(target);
        }
        std::sort(gbak.begin(), gbak.end());
        const Run restore = median("restore", ini, n);
        std::printf("%-9s %9d %10.0f %10.0f %8.2f\n", server ? "server" : "embedded", n, gbak[1], restore.ms,
                    restore.ms / gbak[1]);
        // What the digest adds to a backup and the gate (digest and walk, one read) to a restore.
        const Run backup = median("backup", ini, n);
        const QString abk = folder + "bazaqk.abk";
        const double mb = double(QFileInfo(abk).size()) / 1e6;
        QElapsedTimer d;
        d.start();
        BackupDigest::ofFile(abk);
        const double digestMs = d.nsecsElapsed() / 1e6;
        d.restart();
        const bool whole = BackupGate::inspect(abk).passes();
        const double gateMs = d.nsecsElapsed() / 1e6;
        // The backup's own syncs (its file, written by the server, and the folder): timed on a fresh copy
        // of it that nobody has synced yet, as the server's output before the program puts it in place.
        QFile::remove(abk + ".copy");
        QFile::copy(abk, abk + ".copy");
        d.restart();
        Paths::syncFile(abk + ".copy");
        Paths::syncFolderOf(abk);
        const double syncBackupMs = d.nsecsElapsed() / 1e6;
        QFile::remove(abk + ".copy");
        std::printf(
            "%-9s durable swaps: sync of an unsynced backup %.0f ms (%.3f of the backup), of the restored "
            "database %.0f ms (%.3f of the restore; target 0.05 each)\n",
            server ? "server" : "embedded", syncBackupMs, syncBackupMs / backup.ms, syncRestoredMs,
            syncRestoredMs / restore.ms);
        std::printf("%-9s backup %.1f MB: backup %.0f ms, digest %.0f ms (%.2f of the backup, %.0f MB/s); "
                    "gate %.0f ms "
                    "(%.2f of the restore, %.0f MB/s, %s)\n",
                    server ? "server" : "embedded", mb, backup.ms, digestMs, digestMs / backup.ms,
                    mb / digestMs * 1000, gateMs, gateMs / restore.ms, mb / gateMs * 1000,
                    whole ? "whole" : "NOT WHOLE");
        std::fflush(stdout);
        // The health check of the same database, the whole command-line run.
        healthLines << QString::asprintf("%-9s %9d %8.0f ms (target 300)", server ? "server" : "embedded", n,
                                         cliMedianMs({"--settings", ini, "health"}, 5));
    }
    std::printf("\nqkadmin-cli health on the same database, process start to end (median of 5)\n");
    for (const QString &l : healthLines)
        std::printf("%s\n", qPrintable(l));

    // An office: fifty companies' databases through the one server, every one checked at once.
    {
        const QString companies = makeFolder(root, "companies");
        for (int c = 1; c <= 50; ++c) {
            const QString folder = createDatabase(makeFolder(root, QString("firma%1").arg(c)), 10, true);
            QFile::copy(settingsFor(folder, "T", makeFolder(root, QString("sf%1").arg(c))),
                        companies + QString("firma%1.ini").arg(c));
        }
        std::printf("\nqkadmin-cli health --all over 50 companies through the server (median of 3): %.0f ms "
                    "(target 3000)\n",
                    cliMedianMs({"health", "--all", companies}, 3));
    }

    std::printf("\nImport into a database whose staging tables have no indexes (embedded)\n");
    std::printf("%9s %10s %8s\n", "documents", "import ms", "x time");
    double previous = 0;
    for (int n : {5000, 10000, 20000}) {
        const QString tag = QString("n%1").arg(n);
        const QString a = createDatabase(makeFolder(root, "a" + tag), n, false);
        const QString b = createDatabase(makeFolder(root, "b" + tag), 0, false, false);
        {
            auto dm = module(settingsFor(a, "L", makeFolder(root, "sa" + tag)));
            NullOperator op;
            ExchangeOps::exportMonth(*dm, op, 3, "2026");
            dm->shutDown();
        }
        for (const char *f : {"EX03D.TXT", "EX03Z.TXT"})
            QFile::copy(a + f, b + f);
        const Run imp = runChild("import", settingsFor(b, "L", makeFolder(root, "sb" + tag)), n);
        if (previous > 0)
            std::printf("%9d %10.0f %8.2f\n", n, imp.ms, imp.ms / previous);
        else
            std::printf("%9d %10.0f %8s\n", n, imp.ms, "-");
        previous = imp.ms;
        std::fflush(stdout);
    }

    std::printf("\nStart-up: process start to the window's first paint, sample database (median of 5)\n");
    const QString window =
        QFileInfo(QCoreApplication::applicationDirPath() + "/../qkadmin").absoluteFilePath();
    for (const bool server : {false, true}) {
        const QString db = createDatabase(makeFolder(root, server ? "us" : "ue"), 20, server);
        const QString home = makeFolder(root, server ? "hs" : "he");
        QFile::copy(window, home + "qkadmin");
        settingsFor(db, server ? "T" : "L", home);
        std::vector<double> times;
        for (int i = 0; i < 5; ++i) {
            QProcess p;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("QT_QPA_PLATFORM", "offscreen");
            p.setProcessEnvironment(env);
            QElapsedTimer t;
            t.start();
            p.start(home + "qkadmin", {"--quit-after-paint"});
            p.waitForFinished(-1);
            times.push_back(p.exitCode() == 0 ? t.nsecsElapsed() / 1e6 : -1);
        }
        std::sort(times.begin(), times.end());
        std::printf("%-9s %8.0f ms (target 500)\n", server ? "server" : "embedded", times[2]);
    }

    std::printf("\nGrants: the 421 statements of a modify with every right box ticked, on the server\n");
    {
        const QString db = createDatabase(makeFolder(root, "g"), 20, true);
        const Run g = median("grants", settingsFor(db, "T", makeFolder(root, "sg")), 0);
        std::printf("%8.0f ms (target 2000)\n", g.ms);
    }
    std::printf("\nload average at end: %.2f\n", loadAverage());
    return 0;
}

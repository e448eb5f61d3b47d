#include "common/TestDb.h"

#include "db/Database.h"
#include "db/Errors.h"
#include "db/Query.h"
#include "db/Transaction.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <iberror.h>

#include <cstdio>
#include <memory>
#include <ostream>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

std::vector<std::unique_ptr<QTemporaryDir>> &folders() {
    static std::vector<std::unique_ptr<QTemporaryDir>> f;
    return f;
}

} // namespace

QString TestDb::server() {
    const QByteArray s = qgetenv("QK_TEST_SERVER");
    return s.isEmpty() ? QStringLiteral("localhost") : QString::fromLocal8Bit(s);
}

QString TestDb::newFolder() {
    auto dir = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/qktest-XXXXXX"));
    if (!dir->isValid())
        throw std::runtime_error("cannot create a test folder");
    // The server runs as its own user: it must be able to write here.
    QFile(dir->path())
        .setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                        QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup |
                        QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther);
    const QString path = dir->path() + QLatin1Char('/');
    folders().push_back(std::move(dir));
    return path;
}

SampleData::Scale TestDb::Spec::smallScale() {
    SampleData::Scale s;
    s.documentsPerMonth = 6;
    s.entriesPerDocument = 3;
    s.accounts = 12;
    s.packages = 2;
    s.transfersPerPackage = 3;
    return s;
}

namespace {

// A sample database in a new folder, through the server or by the embedded engine (empty server).
QString create(const TestDb::Spec &spec, const QString &server) {
    const QString base = TestDb::newFolder(), folder = base + spec.subfolder;
    if (!spec.subfolder.isEmpty()) {
        QDir().mkpath(folder);
        for (QString f = folder.chopped(1); f.size() > base.size(); f = QFileInfo(f).path())
            QFile(f).setPermissions(QFile(base).permissions());
    }
    QDir(folder).mkpath(QStringLiteral("paczki"));
    QFile(folder + QStringLiteral("paczki")).setPermissions(QFile(folder).permissions());
    SampleDb::Options o;
    o.databaseFile = folder + QStringLiteral("bazaqk.adb");
    o.server = server;
    o.dialect = spec.dialect;
    o.variant = spec.variant;
    o.stagingIndexes = spec.stagingIndexes;
    o.exchangeFolder = folder;
    o.packageFolder = folder;
    o.scale = spec.scale;
    SampleDb::create(o);
    // The embedded engine runs as this process: run as root, the database and its folders must be root's
    // alone, or the program refuses to open them (their triggers would run with root's rights).
    if (server.isEmpty() && ::geteuid() == 0) {
        ::chmod(QFile::encodeName(o.databaseFile).constData(), 0644);
        for (QString f = folder.chopped(1); f.size() >= base.size() - 1; f = QFileInfo(f).path())
            ::chmod(QFile::encodeName(f).constData(), 0755);
    }
    return folder;
}

} // namespace

QString TestDb::createDatabase(const Spec &spec) {
    // Once in about a dozen suite runs under full load, the server answered the first attachment after
    // it had created a database with "file ... is not a valid database" (no trace in its log). That is
    // the server's race in setting up a test, not a behaviour under test: such a database is made again,
    // in a new folder, at most twice.
    for (int attempt = 0;; ++attempt) {
        try {
            const QString folder = create(spec, server());
            scalar(folder, QStringLiteral("select count(*) from RDB$DATABASE"));
            return folder;
        } catch (const EngineError &e) {
            if (e.engineCode() != isc_bad_db_format || attempt == 2)
                throw;
            std::fprintf(stderr, "TestDb: a new database was refused (%s); made again\n", e.what());
        }
    }
}

QString TestDb::createEmbeddedDatabase(const Spec &spec) {
    return create(spec, QString());
}

int TestDb::damageDataPages(const QString &databaseFile, const QList<int> &relationIds) {
    QFile f(databaseFile);
    if (!f.open(QIODevice::ReadWrite))
        throw std::runtime_error("cannot open the database file to damage it");
    QByteArray bytes = f.readAll();
    auto u16 = [&](qsizetype at) { return int(quint8(bytes[at])) | int(quint8(bytes[at + 1])) << 8; };
    const int pageSize = u16(16); // the header page's page size follows the 16-byte page header
    int damaged = 0;
    for (qsizetype page = 0; page + pageSize <= bytes.size(); page += pageSize) {
        // A data page: type 5 at byte 0, relation at 20, record count at 22, then (offset, length) pairs.
        if (bytes[page] != 5 || !relationIds.contains(u16(page + 20)))
            continue;
        const int count = u16(page + 22);
        for (int i = 0; i < count; ++i) {
            const int offset = u16(page + 24 + 4 * i), length = u16(page + 26 + 4 * i);
            // Past the 13-byte record header, 0x81 pairs each ask to repeat a byte 127 times.
            for (int k = 13; offset > 0 && k < length && offset + k < pageSize; ++k)
                bytes[page + offset + k] = char(0x81);
        }
        ++damaged;
    }
    if (!f.seek(0) || f.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write the damaged database file");
    return damaged;
}

QStringList TestDb::connectionParams() {
    return {QStringLiteral("user_name=SYSDBA"), QStringLiteral("password=quillstep"),
            QStringLiteral("config=Providers=Remote,Loopback")};
}

void TestDb::connect(Database &db, const QString &folder) {
    db.setDatabaseName(folder + QStringLiteral("bazaqk.adb"));
    db.params = connectionParams();
    db.open();
}

namespace {

// Runs f on a statement of a connection of its own, then commits and detaches.
template <typename F> void onOwnConnection(const QString &folder, const QString &sql, F f) {
    Database db;
    Transaction tr(&db);
    db.defaultTransaction = &tr;
    TestDb::connect(db, folder);
    Query q(QStringLiteral("TestDb"), &db);
    q.setSql(sql);
    f(q);
    q.close();
    tr.commit();
    db.close();
}

} // namespace

QString TestDb::scalar(const QString &folder, const QString &sql) {
    QString v;
    onOwnConnection(folder, sql, [&](Query &q) {
        q.open();
        v = q.field(0).asString();
    });
    return v;
}

void TestDb::exec(const QString &folder, const QString &sql) {
    onOwnConnection(folder, sql, [](Query &q) { q.execute(); });
}

void TestDb::cleanUp() {
    folders().clear();
}

void PrintTo(const QString &s, std::ostream *os) {
    *os << '"' << s.toStdString() << '"';
}

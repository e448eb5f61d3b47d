// Disk failures during an export and damaged files before an import: nothing is lost, the operator is told.
#include "common/RecordingOperator.h"
#include "common/TestFiles.h"
#include "common/TestModule.h"
#include "db/Errors.h"
#include "exchange/ExchangeLayouts.h"
#include "exchange/ExchangeOps.h"
#include "exchange/ExchangeWriter.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <gtest/gtest.h>

namespace {

// A file on a device that is full after a number of bytes.
class FailingSaveFile : public QSaveFile {
public:
    FailingSaveFile(const QString &path, qint64 limit) : QSaveFile(path), m_left(limit) {}

protected:
    qint64 writeData(const char *data, qint64 len) override {
        if (len > m_left) {
            setErrorString(QStringLiteral("No space left on device"));
            return -1;
        }
        m_left -= len;
        return QSaveFile::writeData(data, len);
    }

private:
    qint64 m_left;
};

} // namespace

TEST(ExportFaults, AFullDiskLeavesNoTruncatedFile) {
    TestDb::Spec spec;
    spec.scale.documentsPerMonth = 200;
    TestModule m(TestDb::createDatabase(spec));
    m.started();
    RecordingOperator op;
    ExchangeOps::exportMonth(*m.dm, op, 3, "2026");
    m.started();
    const QByteArray entriesBefore = TestFiles::read(m.folder + "EX03Z.TXT");
    ASSERT_EQ(entriesBefore.size(), 600 * 70);
    m.exec("update FJ_DOK3 set KTO = 'Nowy księgowy'");
    m.exec("update FJ_ZAP3 set KWORO = 0");

    ExchangeWriter::setFileFactory([](const QString &path) -> std::unique_ptr<QSaveFile> {
        if (path.endsWith(QLatin1String("EX03Z.TXT")))
            return std::make_unique<FailingSaveFile>(path, 10000);
        return std::make_unique<QSaveFile>(path);
    });
    RecordingOperator failing;
    try {
        ExchangeOps::exportMonth(*m.dm, failing, 3, "2026");
        FAIL();
    } catch (const FileError &e) {
        EXPECT_TRUE(e.message().contains(m.folder + "EX03Z.TXT"));
        EXPECT_TRUE(e.message().contains(QStringLiteral("No space left on device")));
    }
    ExchangeWriter::setFileFactory({});
    EXPECT_EQ(TestFiles::read(m.folder + "EX03Z.TXT"), entriesBefore); // the earlier complete file, untouched
    EXPECT_TRUE(
        TestFiles::read(m.folder + "EX03D.TXT").contains("Nowy ksi\xEAgowy")); // finished before: stays
    EXPECT_EQ(QDir(m.folder).entryList({"EX03Z*"}, QDir::Files),
              QStringList({"EX03Z.TXT"})); // no temporary left
    EXPECT_TRUE(failing.messages.isEmpty());
}

TEST(ImportFaults, DamagedFilesAreRefusedBeforeAnyChange) {
    TestModule m;
    m.started();
    RecordingOperator op;
    ExchangeOps::exportMonth(*m.dm, op, 3, "2026");
    m.started();
    const QString path = m.folder + "EX03Z.TXT";
    const QByteArray good = TestFiles::read(path);
    const QString before = m.value("select count(*) || '/' || sum(KWOTA) from FJ_ZAP3");

    const QByteArray shortLast = good.left(good.size() - 5) + "\r\n";
    QByteArray lfOnly = good;
    lfOnly.replace("\r\n", "\n");
    for (const QByteArray &bad : {shortLast, lfOnly}) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bad);
        f.close();
        RecordingOperator imp;
        try {
            ExchangeOps::importMonth(*m.dm, imp, 3, true);
            FAIL();
        } catch (const QkError &e) {
            EXPECT_TRUE(e.message().contains(path));
        }
        EXPECT_FALSE(m.dm->EmployeeTran.active());
        EXPECT_EQ(m.value("select count(*) || '/' || sum(KWOTA) from FJ_ZAP3"), before);
    }
    EXPECT_NO_THROW(ExchangeLayouts::checkRecords(m.folder + "EX03D.TXT", ExchangeLayouts::documents()));
    QFile empty(m.folder + "EMPTY.TXT");
    empty.open(QIODevice::WriteOnly);
    empty.close();
    EXPECT_NO_THROW(ExchangeLayouts::checkRecords(m.folder + "EMPTY.TXT", ExchangeLayouts::entries()));

    // The file is read a piece at a time: a fault far past the first piece, and one at its seam, are named.
    const int length = ExchangeLayouts::entries().recordLength();
    const QByteArray record = QByteArray(length - 2, 'x') + "\r\n";
    for (const int badAt : {40001, 14979, 14980}) { // 14 979 records of 70 bytes fill a piece
        QByteArray bytes = record.repeated(50000);
        bytes[qsizetype(badAt - 1) * length + length - 1] = 'y';
        QFile f(m.folder + "BIG.TXT");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
        f.close();
        try {
            ExchangeLayouts::checkRecords(m.folder + "BIG.TXT", ExchangeLayouts::entries());
            FAIL() << badAt;
        } catch (const QkError &e) {
            EXPECT_TRUE(e.message().contains(QStringLiteral("rekord %1 ").arg(badAt)))
                << e.message().toStdString();
        }
    }
}

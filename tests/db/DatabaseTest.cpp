// The database session against the real server: connection, transaction and statement rules.
#include "db/Database.h"
#include "common/TestDb.h"
#include "db/DatabaseInfo.h"
#include "db/Errors.h"
#include "db/FbClient.h"
#include "db/Query.h"
#include "db/Transaction.h"
#include "platform/AnsiCodec.h"
#include "platform/Signals.h"

#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>

namespace {

QString sharedFolder() {
    static const QString folder = TestDb::createDatabase();
    return folder;
}

struct Session {
    Database db;
    Transaction tr{&db};
    Query q{QStringLiteral("IBQuery8"), &db, &tr};
    explicit Session(const QString &folder) {
        db.defaultTransaction = &tr;
        db.setDatabaseName(folder + QStringLiteral("bazaqk.adb"));
        db.params = TestDb::connectionParams();
    }
};

template <typename E> QString messageOf(const std::function<void()> &f) {
    try {
        f();
    } catch (const E &e) {
        return e.message();
    }
    return QStringLiteral("<no error>");
}

} // namespace

TEST(ClientLibrary, MissingLibraryNamesTheLibrarySought) {
    EXPECT_EQ(
        messageOf<LibraryMissingError>([] { FbClient::load(QStringLiteral("libfbclient-not-here.so.9")); }),
        QStringLiteral("InterBase library libfbclient-not-here.so.9 not found in the path. Please install "
                       "InterBase to use this functionality"));
    EXPECT_EQ(FbClient::defaultLibraryName(), QStringLiteral("libfbclient.so.2"));
}

// The client library's own SIGTERM handler, put in place at its first call, would shut it down in a
// thread of its own while the program still uses and frees its handles (a crash, now and then). A
// program with handlers of its own keeps them in front: the library goes on until the program ends it.
TEST(ClientLibrary, ASignalLeavesTheLibraryToTheProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe"); // a process of its own, where the library loads afresh
    EXPECT_EXIT(
        {
            Signals::install();
            Session s(sharedFolder());
            s.db.open();
            std::raise(SIGTERM);
            QThread::msleep(300); // the library's shutdown would have detached everything by now
            s.q.setSql(QStringLiteral("select count(*) from FJ_BAZA"));
            s.q.open();
            std::_Exit(Signals::received() == SIGTERM && s.q.field(0).asInteger() == 1 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(Connection, OpenCloseAndNames) {
    Session s(sharedFolder());
    EXPECT_FALSE(s.db.connected());
    s.db.open();
    EXPECT_TRUE(s.db.connected());
    s.db.open(); // nothing when already connected
    EXPECT_EQ(s.db.sqlDialect(), 3);
    s.db.setDatabaseName(s.db.databaseName()); // the same name does nothing
    EXPECT_EQ(messageOf<LayerError>([&] { s.db.setDatabaseName(QStringLiteral("/other.adb")); }),
              QStringLiteral("Cannot perform operation -- DB is currently open"));
    s.db.close();
    EXPECT_FALSE(s.db.connected());
    s.db.close(); // nothing when closed

    Database empty;
    EXPECT_EQ(messageOf<LayerError>([&] { empty.open(); }), QStringLiteral("Database name is missing"));
}

TEST(Connection, WrongPasswordAndMissingFileAreEngineErrors) {
    Session s(sharedFolder());
    s.db.params = {QStringLiteral("user_name=SYSDBA"), QStringLiteral("password=wrong"),
                   QStringLiteral("config=Providers=Remote,Loopback")};
    try {
        s.db.open();
        FAIL();
    } catch (const EngineError &e) {
        EXPECT_TRUE(e.message().startsWith(
            QStringLiteral("Serwer bazy danych odrzucił logowanie użytkownika SYSDBA")));
        EXPECT_TRUE(e.message().contains(QStringLiteral("\rYour user name and password are not defined")));
        EXPECT_FALSE(e.message().endsWith(QLatin1Char('.')));
        EXPECT_NE(e.engineCode(), 0);
    }
    EXPECT_FALSE(s.db.connected());
    Session m(TestDb::newFolder());
    EXPECT_THROW(m.db.open(), EngineError);
    EXPECT_FALSE(m.db.connected());
}

TEST(Connection, DialectOneDatabaseLowersTheConnection) {
    TestDb::Spec spec;
    spec.dialect = 1;
    spec.scale.months = {3};
    Session s(TestDb::createDatabase(spec));
    s.db.open();
    EXPECT_EQ(s.db.sqlDialect(), 1);
    // Dialect 1 keeps DECIMAL(13,2) as a double and DATE as a timestamp: values still read back.
    s.q.setSql(QStringLiteral("select KWOWN, TERDAT from FJ_BIL where NUMZAP = 1"));
    s.q.open();
    EXPECT_GT(s.q.fieldByName("kwown").asFloat() + 1, 0.0);
    EXPECT_EQ(s.q.fieldByName("TERDAT").asString(), QStringLiteral("2025-12-31"));
    s.db.close();
}

TEST(Transaction, StartCommitRollbackRules) {
    Session s(sharedFolder());
    EXPECT_EQ(messageOf<LayerError>([&] { s.tr.start(); }),
              QStringLiteral("Cannot perform operation -- DB is not open"));
    EXPECT_EQ(messageOf<LayerError>([&] { s.tr.commit(); }), QStringLiteral("Transaction is not active"));
    EXPECT_EQ(messageOf<LayerError>([&] { s.tr.rollback(); }), QStringLiteral("Transaction is not active"));
    // Opening a statement attaches and starts by itself.
    s.q.setSql(QStringLiteral("select ILE from FJ_BAZA where LP=1"));
    s.q.open();
    EXPECT_TRUE(s.db.connected());
    EXPECT_TRUE(s.tr.active());
    EXPECT_EQ(messageOf<LayerError>([&] { s.tr.start(); }), QStringLiteral("Transaction is active"));
    s.tr.commit();
    EXPECT_FALSE(s.tr.active());
    EXPECT_FALSE(s.q.isOpen());
    // A result is not usable after its transaction ended.
    EXPECT_EQ(messageOf<LayerError>([&] { s.q.fieldByName("ILE"); }),
              QStringLiteral("IBQuery8: Field 'ILE' not found"));
    s.db.close();
}

TEST(Transaction, ExecuteLeavesWorkUncommittedAndCloseCommitsIt) {
    const QString folder = TestDb::createDatabase();
    {
        Session s(folder);
        s.q.setSql(QStringLiteral("update FJ_BAZA set ILE = 7 where LP = 1"));
        s.q.execute();
        EXPECT_TRUE(s.tr.active());
        EXPECT_EQ(TestDb::scalar(folder, QStringLiteral("select ILE from FJ_BAZA where LP=1")),
                  QStringLiteral("0"));
        s.db.close(); // the default end action commits
    }
    EXPECT_EQ(TestDb::scalar(folder, QStringLiteral("select ILE from FJ_BAZA where LP=1")),
              QStringLiteral("7"));
    {
        Session s(folder);
        s.q.setSql(QStringLiteral("update FJ_BAZA set ILE = 9 where LP = 1"));
        s.q.execute();
        s.tr.rollback();
        s.db.close();
    }
    EXPECT_EQ(TestDb::scalar(folder, QStringLiteral("select ILE from FJ_BAZA where LP=1")),
              QStringLiteral("7"));
}

TEST(Statement, EmptyTextAndOpenDataset) {
    Session s(sharedFolder());
    EXPECT_EQ(messageOf<LayerError>([&] { s.q.execute(); }), QStringLiteral("Empty SQL Statement"));
    EXPECT_FALSE(s.db.connected()); // the transaction stays as it was
    EXPECT_EQ(messageOf<LayerError>([&] { s.q.open(); }), QStringLiteral("Empty SQL Statement"));
    s.q.setSql(QStringLiteral("select * from FJ_BAZA"));
    s.q.open();
    EXPECT_EQ(messageOf<LayerError>([&] { s.q.execute(); }), QStringLiteral("Dataset open"));
    s.q.close();
    s.db.close();
}

TEST(Statement, FieldsByNameNullsAndTypes) {
    const QString folder = TestDb::createDatabase();
    Session s(folder);
    s.q.setSql(QStringLiteral("update FJ_BAZA set Bila = NULL, FIRMA = 'Żółć' where LP = 1"));
    s.q.execute();
    s.q.clearSql();
    s.q.addLine(QStringLiteral("select LP, Bila, ile, FIRMA, CAST(1234.50 AS DECIMAL(13,2)) AS KW,"));
    s.q.addLine(QStringLiteral("CAST(-0.05 AS NUMERIC(9,2)) AS NEG, CAST('2009-06-15' AS DATE) AS D,"));
    s.q.addLine(QStringLiteral("CAST('2009-06-15 13:45:10' AS TIMESTAMP) AS TS, CAST(NULL AS DATE) AS ND,"));
    s.q.addLine(QStringLiteral("CAST(2.5 AS DOUBLE PRECISION) AS DBL from FJ_BAZA where LP = 1"));
    s.q.open();
    ASSERT_FALSE(s.q.eof());
    EXPECT_EQ(s.q.fieldByName("lp").asInteger(), 1);
    EXPECT_TRUE(s.q.fieldByName("BILA").isNull());
    EXPECT_EQ(s.q.fieldByName("bila").asString(), QString());
    EXPECT_EQ(s.q.fieldByName("ILE").asString(), QStringLiteral("0"));
    EXPECT_EQ(s.q.fieldByName("firma").asString().trimmed(), QStringLiteral("Żółć"));
    EXPECT_EQ(s.q.fieldByName("FIRMA").asString().size(), 60); // CHAR comes back padded
    EXPECT_EQ(s.q.fieldByName("KW").asString(), QStringLiteral("1234.5"));
    EXPECT_DOUBLE_EQ(s.q.fieldByName("KW").asFloat(), 1234.5);
    EXPECT_EQ(s.q.fieldByName("NEG").asString(), QStringLiteral("-0.05"));
    EXPECT_EQ(s.q.fieldByName("D").asString(), QStringLiteral("2009-06-15"));
    EXPECT_EQ(s.q.fieldByName("D").asDateTime().date(), QDate(2009, 6, 15));
    EXPECT_EQ(s.q.fieldByName("TS").asString(), QStringLiteral("2009-06-15 13:45:10"));
    EXPECT_EQ(s.q.fieldByName("ND").asDateTime().date(), QDate(1899, 12, 30));
    EXPECT_EQ(s.q.fieldByName("ND").asString(), QString());
    EXPECT_EQ(s.q.fieldByName("DBL").asString(), QStringLiteral("2.5"));
    EXPECT_EQ(messageOf<LayerError>([&] { s.q.fieldByName("NOPE"); }),
              QStringLiteral("IBQuery8: Field 'NOPE' not found"));
    s.q.next();
    EXPECT_TRUE(s.q.eof());
    s.q.close();

    // An empty result: at end at once, every field null.
    s.q.setSql(QStringLiteral("select ILE from FJ_BAZA where LP = 2"));
    s.q.open();
    EXPECT_TRUE(s.q.eof());
    EXPECT_EQ(s.q.fieldByName("ile").asString(), QString());
    s.q.close();
    s.tr.rollback();
    s.db.close();
}

TEST(Statement, NamedParametersAllTypes) {
    const QString folder = TestDb::createDatabase();
    Session s(folder);
    s.q.setSql(
        QStringLiteral("insert into FJ_BIL values (:NUMZAP, :KONTO, :KWOWN, :kwoma, :KWORO, :OPIS, :TERDAT, "
                       ":NAZWA1, ':NOT_A_PARAM', NULL)"));
    EXPECT_EQ(s.q.paramCount(), 8);
    s.q.paramByName("numzap").setAsInteger(901);
    s.q.paramByName("KONTO").setAsString(QStringLiteral("201-Łódź"));
    s.q.paramByName("KWOWN").setAsFloat(2.675);
    s.q.paramByName("KWOMA").setAsString(QStringLiteral("10.10"));
    s.q.paramByName("KWORO").setAsInteger(-3);
    s.q.paramByName("OPIS").clear();
    s.q.paramByName("TERDAT").setAsDateTime(QDateTime(QDate(2009, 6, 15), QTime(0, 0), Qt::UTC));
    s.q.paramByName("NAZWA1").setAsString(QStringLiteral("ąćęłńóśźż ĄĆĘŁŃÓŚŹŻ €"));
    EXPECT_EQ(messageOf<LayerError>([&] { s.q.paramByName("NOPE"); }),
              QStringLiteral("IBQuery8: Parameter 'NOPE' not found"));
    s.q.execute();
    s.q.execute(); // again with the same values, prepared once
    s.q.setSql(QStringLiteral("select * from FJ_BIL where NUMZAP = :N"));
    s.q.paramByName("N").setAsFloat(901);
    s.q.open();
    ASSERT_FALSE(s.q.eof());
    EXPECT_EQ(s.q.fieldByName("KONTO").asString().trimmed(), QStringLiteral("201-Łódź"));
    EXPECT_EQ(s.q.fieldByName("KWOWN").asString(),
              QStringLiteral("2.68")); // the server rounds the double to cents
    EXPECT_EQ(s.q.fieldByName("KWOMA").asString(), QStringLiteral("10.1"));
    EXPECT_EQ(s.q.fieldByName("KWORO").asString(), QStringLiteral("-3"));
    EXPECT_TRUE(s.q.fieldByName("OPIS").isNull());
    EXPECT_EQ(s.q.fieldByName("TERDAT").asString(), QStringLiteral("2009-06-15"));
    EXPECT_EQ(s.q.fieldByName("NAZWA1").asString().trimmed(), QStringLiteral("ąćęłńóśźż ĄĆĘŁŃÓŚŹŻ €"));
    EXPECT_EQ(s.q.fieldByName("NAZWA2").asString().trimmed(), QStringLiteral(":NOT_A_PARAM"));
    s.q.next();
    EXPECT_FALSE(s.q.eof()); // inserted twice
    s.q.close();
    s.tr.rollback();
    s.db.close();
}

TEST(Statement, CharactersOutsideTheCodePageAreSentAsQuestionMarks) {
    EXPECT_EQ(AnsiCodec::encode(QStringLiteral("Zażółć 中")), QByteArray("Za\xBF\xF3\xB3\xE6 ?"));
    EXPECT_EQ(AnsiCodec::decode(QByteArray("\xA5\xC6\xCA\xA3\xD1\xD3\x8C\x8F\xAF")),
              QStringLiteral("ĄĆĘŁŃÓŚŹŻ"));
    const QString all = QStringLiteral("ąćęłńóśźżĄĆĘŁŃÓŚŹŻ");
    EXPECT_EQ(AnsiCodec::encode(all),
              QByteArray("\xB9\xE6\xEA\xB3\xF1\xF3\x9C\x9F\xBF\xA5\xC6\xCA\xA3\xD1\xD3\x8C\x8F\xAF"));
    EXPECT_EQ(AnsiCodec::decode(AnsiCodec::encode(all)), all);
}

TEST(Statement, RowsBeyondTheCacheStepAndLocate) {
    const QString folder = TestDb::createDatabase();
    Session s(folder);
    // 2500 rows: more than two cache steps.
    s.q.setSql(QStringLiteral("insert into FJ_ZAP5 (NUMEWI, NUMPOZ, STRONA, KONTO, KWOTA, KWORO) "
                              "values (:N, :P, :S, :K, :KW, 0)"));
    for (int i = 1; i <= 2500; ++i) {
        s.q.paramByName("N").setAsInteger(10000 + i);
        s.q.paramByName("P").setAsInteger(i % 7);
        s.q.paramByName("S").setAsString(i % 2 ? QStringLiteral("W") : QStringLiteral("m"));
        s.q.paramByName("K").setAsString(QStringLiteral("konto-%1").arg(i));
        s.q.paramByName("KW").setAsFloat(i / 100.0);
        s.q.execute();
    }
    s.q.setSql(QStringLiteral("select * from FJ_ZAP5 where NUMEWI > 10000 order by NUMEWI"));
    s.q.open();
    int n = 0;
    double sum = 0;
    while (!s.q.eof()) {
        ++n;
        sum += s.q.fieldByName("KWOTA").asFloat();
        s.q.next();
    }
    EXPECT_EQ(n, 2500);
    EXPECT_NEAR(sum, 2500 * 2501 / 200.0, 1e-6);
    EXPECT_TRUE(s.q.locate(QStringLiteral("STRONA;KONTO"),
                           {QStringLiteral("M"), QStringLiteral("KONTO-1234")}, true));
    EXPECT_EQ(s.q.fieldByName("NUMEWI").asInteger(), 11234);
    EXPECT_FALSE(s.q.locate(QStringLiteral("STRONA;KONTO"),
                            {QStringLiteral("M"), QStringLiteral("KONTO-1234")}, false));
    EXPECT_TRUE(s.q.locate(QStringLiteral("NUMEWI;NUMPOZ"), {12001, 2001 % 7}, false));
    EXPECT_EQ(s.q.fieldByName("KONTO").asString().trimmed(), QStringLiteral("konto-2001"));
    s.q.first();
    EXPECT_EQ(s.q.fieldByName("NUMEWI").asInteger(), 10001);
    s.q.close();
    s.tr.rollback();
    s.db.close();
}

TEST(Statement, EngineErrorsCarryCodesAndJoinedTexts) {
    Session s(sharedFolder());
    s.q.setSql(QStringLiteral("select * from FJ_NOPE"));
    try {
        s.q.open();
        FAIL();
    } catch (const EngineError &e) {
        EXPECT_EQ(e.sqlCode(), -204);
        EXPECT_EQ(e.engineCode(), 335544569L); // isc_dsql_error
        EXPECT_TRUE(e.message().contains(QStringLiteral("\r\nTable unknown\r\nFJ_NOPE")));
        EXPECT_FALSE(e.message().endsWith(QLatin1Char('.')));
    }
    s.db.close();
}

TEST(DatabaseInfo, UserNamesListEveryAttachment) {
    const QString folder = sharedFolder();
    Session a(folder);
    Session b(folder);
    a.db.open();
    b.db.open();
    DatabaseInfo info(&a.db);
    const QStringList names = info.userNames();
    EXPECT_EQ(names.count(QStringLiteral("SYSDBA")), 2);
    a.db.close();
    b.db.close();
    EXPECT_EQ(messageOf<LayerError>([&] { info.userNames(); }),
              QStringLiteral("Cannot perform operation -- DB is not open"));
}

TEST(Statement, ForwardOnlyReadsTheSameRowsWithoutKeepingThem) {
    Session s(sharedFolder());
    const QString sql = QStringLiteral("select NUMEWI, K_NAZ, DOKDAT from FJ_DOK3 order by NUMEWI");
    QStringList cached, forward;
    s.q.setSql(sql);
    for (s.q.open(); !s.q.eof(); s.q.next())
        cached << s.q.field(0).asString() + '|' + s.q.field(1).asString() + '|' + s.q.field(2).asString();
    s.q.close();
    ASSERT_GT(cached.size(), 2);

    s.q.forwardOnly = true;
    s.q.open();
    const char *row = s.q.rowData();
    ASSERT_NE(row, nullptr);
    for (; !s.q.eof(); s.q.next()) {
        EXPECT_EQ(s.q.rowData(), row); // one buffer, refilled by each fetch
        forward << s.q.field(0).asString() + '|' + s.q.field(1).asString() + '|' + s.q.field(2).asString();
    }
    EXPECT_EQ(forward, cached);
    EXPECT_EQ(s.q.rowData(), nullptr); // past the end there is no row
    EXPECT_TRUE(s.q.field(0).isNull());
    s.q.first(); // the rows already passed are gone
    EXPECT_TRUE(s.q.eof());
    s.q.close();
    s.q.open();
    EXPECT_FALSE(s.q.locate(QStringLiteral("NUMEWI"), {cached.last().section('|', 0, 0).toInt()}, false));
    s.q.close();
    s.q.forwardOnly = false;
    s.db.close();
}

TEST(Statement, TextsLongerThan64KiBAreSentWhole) {
    // 70 000 bytes, over the 16-bit length the prepare call takes, the condition after a long comment
    // (a generated statement's notes): a text cut at 64 KiB ends inside the comment and is refused.
    const QString sql = QStringLiteral("select count(*) from FJ_BAZA /* ") +
                        QString(70000, QLatin1Char('x')) + QStringLiteral(" */ where LP = 1");
    ASSERT_GT(sql.size(), 70000);
    for (const QString &folder : {sharedFolder(), TestDb::createEmbeddedDatabase()}) {
        Session s(folder);
        if (folder != sharedFolder())
            s.db.params.last() = QStringLiteral("config=Providers=Engine12");
        s.q.setSql(sql);
        s.q.open();
        EXPECT_EQ(s.q.field(0).asString(), QStringLiteral("1")) << folder.toStdString();
        s.q.close();
        s.q.setSql(sql.left(70000) + QChar(0) + QStringLiteral("1)"));
        EXPECT_EQ(messageOf<LayerError>([&] { s.q.open(); }),
                  QStringLiteral("SQL statement text contains a NUL character"));
        s.db.close();
    }
}

TEST(DatabaseInfo, HeaderCountersAndModes) {
    // Written from the reply layout: item, u16 length, integer low byte first; 01 ends.
    const QByteArray reply = QByteArray::fromHex("680400"
                                                 "0a000000"
                                                 "690400"
                                                 "0c000000"
                                                 "6b0400"
                                                 "feffff80"
                                                 "0e0200"
                                                 "0020"
                                                 "340400"
                                                 "00000000"
                                                 "3f0400"
                                                 "01000000"
                                                 "01");
    const DatabaseInfo::Header h = DatabaseInfo::parseHeader(reply);
    EXPECT_EQ(h.oldestInteresting, 10);
    EXPECT_EQ(h.oldestActive, 12);
    EXPECT_EQ(h.next, 0x80fffffeLL); // past 2^31: a count, never negative
    EXPECT_EQ(h.pageSize, 8192);
    EXPECT_FALSE(h.forcedWrites);
    EXPECT_TRUE(h.readOnly);
    EXPECT_THROW(DatabaseInfo::parseHeader(QByteArray::fromHex("680900")), LayerError);

    Session s(sharedFolder());
    s.db.open();
    const DatabaseInfo::Header live = DatabaseInfo(&s.db).header();
    EXPECT_GT(live.next, 0);
    EXPECT_LE(live.oldestInteresting, live.next);
    EXPECT_LE(live.oldestActive, live.next);
    EXPECT_GT(live.pageSize * live.pages, 0);
    EXPECT_TRUE(live.forcedWrites);
    EXPECT_FALSE(live.readOnly);
    s.db.close();
}

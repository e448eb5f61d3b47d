// Server user accounts and their table rights, against the real server.
#include "users/UserAccounts.h"
#include "common/RecordingOperator.h"
#include "common/WindowHarness.h"
#include "core/MainD.h"
#include "db/Errors.h"
#include "platform/IniFile.h"
#include "users/PasswordHistory.h"

#include <QFileInfo>
#include <QLineEdit>

#include <gtest/gtest.h>

#include <unistd.h>

using UserAccounts::UserForm;

namespace {

QString uniqueUser(const char *suffix) {
    return QStringLiteral("QKT%1_%2").arg(getpid()).arg(QLatin1String(suffix));
}

// "S*" for SELECT with grant option, sorted, comma-separated.
QString privileges(const QString &folder, const QString &user, const QString &table) {
    Database db;
    Transaction tr(&db);
    db.defaultTransaction = &tr;
    TestDb::connect(db, folder);
    Query q(QStringLiteral("q"), &db);
    q.setSql(
        QStringLiteral("select RDB$PRIVILEGE, RDB$GRANT_OPTION from RDB$USER_PRIVILEGES where RDB$USER = :U "
                       "and RDB$RELATION_NAME = :T order by 1"));
    q.paramByName("U").setAsString(user);
    q.paramByName("T").setAsString(table);
    q.open();
    QStringList p;
    while (!q.eof()) {
        p << q.field(0).asString().trimmed() + (q.field(1).asInteger() ? QStringLiteral("*") : QString());
        q.next();
    }
    q.close();
    tr.commit();
    db.close();
    return p.join(QLatin1Char(','));
}

void dropUser(TMainDm &dm, const QString &name) {
    try {
        RecordingOperator op;
        UserAccounts::deleteUser(dm, op, name);
    } catch (const QkError &) {
    }
}

UserForm form(const QString &name, const QString &password) {
    UserForm f;
    f.userName = name;
    f.firstName = QStringLiteral("Jan");
    f.lastName = QStringLiteral("Kowalski");
    f.password = password;
    f.userId = QStringLiteral("0");
    f.groupId = QStringLiteral("0");
    return f;
}

} // namespace

TEST(Grants, StatementsAndTableOrder) {
    const QStringList &t = UserAccounts::rightsTables();
    ASSERT_EQ(t.size(), 84);
    EXPECT_EQ(t[0], QStringLiteral("FJ_ZPLK"));
    EXPECT_EQ(t[10], QStringLiteral("FJ_OBR"));
    EXPECT_EQ(t[11], QStringLiteral("FJ_DOK1"));
    EXPECT_EQ(t[23], QStringLiteral("FJ_ZAP1"));
    EXPECT_EQ(t[35], QStringLiteral("FJ_VAT7"));
    EXPECT_EQ(t[39], QStringLiteral("FJ_STA1"));
    EXPECT_EQ(t[45], QStringLiteral("FJ_FLOP"));
    EXPECT_EQ(t[48], QStringLiteral("TA_EXD1"));
    EXPECT_EQ(t[49], QStringLiteral("TA_EXZ1"));
    EXPECT_EQ(t[71], QStringLiteral("TA_EXZ12"));
    EXPECT_EQ(t[72], QStringLiteral("IMPORT_R"));
    EXPECT_EQ(t[83], QStringLiteral("TA_PACZP"));

    UserForm r;
    r.rightsGate = true;
    r.all = true;
    r.insert = true;
    const QStringList s = UserAccounts::grantStatements("JAN", r);
    ASSERT_EQ(s.size(), 421);
    EXPECT_EQ(s.mid(0, 5),
              QStringList({"GRANT ALL ON FJ_ZPLK TO JAN WITH GRANT OPTION",
                           "REVOKE DELETE ON FJ_ZPLK FROM JAN", "GRANT INSERT ON FJ_ZPLK TO JAN",
                           "REVOKE UPDATE ON FJ_ZPLK FROM JAN", "REVOKE SELECT ON FJ_ZPLK FROM JAN"}));
    EXPECT_EQ(s.last(), QStringLiteral("GRANT ALL ON FJ_BAZA TO JAN"));
    r.rightsGate = false;
    EXPECT_EQ(UserAccounts::grantStatements("JAN", r), QStringList({"GRANT ALL ON FJ_BAZA TO JAN"}));
    r.rightsGate = true;
    r.all = false;
    EXPECT_EQ(UserAccounts::grantStatements("JAN", r)[0], QStringLiteral("REVOKE ALL ON FJ_ZPLK FROM JAN"));

    for (const char *ok : {"JAN", "j", "Ksiegowa_2", "A$B", "A234567890123456789012345678901"})
        EXPECT_TRUE(UserAccounts::isPlainIdentifier(QString::fromLatin1(ok))) << ok;
    for (const char *bad : {"", "X TO PUBLIC", "1JAN", "_JAN", "JAN;", "A2345678901234567890123456789012",
                            "ŁUCJA", "PUBLIC", "public", "Public"})
        EXPECT_FALSE(UserAccounts::isPlainIdentifier(QString::fromUtf8(bad))) << bad;
}

TEST(Accounts, AddFindModifyDeleteWithRights) {
    const QString folder = TestDb::createDatabase();
    TestModule m(folder);
    TMainDm &dm = *m.dm;
    dm.EmployeeTran.commit();
    const QString history = m.settingsFolder + QStringLiteral("jn.ini");
    const QString name = uniqueUser("A");
    dropUser(dm, name);

    UserForm f = form(name, QStringLiteral(" Dobre#Haslo1 "));
    f.rightsGate = true;
    f.all = true;
    f.insert = f.update = f.select = true; // DELETE left unticked: revoked after the ALL grant
    f.userId = QStringLiteral("12");
    RecordingOperator op;
    UserAccounts::addUser(dm, op, f, history);
    EXPECT_EQ(op.texts(),
              QStringList({"Modyfikacja zakończona pomyślnie ..."})); // the first history entry is silent
    EXPECT_TRUE(dm.EmployeeTran.active());                            // the grants wait for the next commit
    dm.EmployeeTran.commit();
    EXPECT_FALSE(dm.IBSecurity.active());
    EXPECT_EQ(privileges(folder, name, "FJ_ZPLK"), QStringLiteral("I*,R*,S*,U*"));
    EXPECT_EQ(privileges(folder, name, "TA_PACZP"), QStringLiteral("I*,R*,S*,U*"));
    EXPECT_EQ(privileges(folder, name, "FJ_BAZA"), QStringLiteral("D,I,R,S,U"));

    RecordingOperator fo;
    const auto found = UserAccounts::findUser(dm, fo, name);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->firstName, QStringLiteral("Jan"));
    EXPECT_EQ(found->lastName, QStringLiteral("Kowalski"));
    // The password date in the Polish short format, whatever the machine's locale (C in the tests).
    const QDate today = QDate::currentDate();
    EXPECT_EQ(found->middleName, QStringLiteral("%1.%2.%3")
                                     .arg(today.day())
                                     .arg(today.month(), 2, 10, QLatin1Char('0'))
                                     .arg(today.year()));
    EXPECT_EQ(found->userId, 12);

    // Everything revoked on the listed tables; FJ_BAZA keeps ALL.
    UserForm none = form(name, QStringLiteral("Drugie#Haslo2"));
    none.rightsGate = true;
    RecordingOperator mo;
    UserAccounts::modifyUser(dm, mo, none, history);
    EXPECT_EQ(mo.texts(),
              QStringList({"Nowe hasło jest prawidłowe, spełnia wszystkie obowiązujące zasady ...",
                           "Modyfikacja zakończona pomyślnie ..."}));
    dm.EmployeeTran.commit();
    EXPECT_EQ(privileges(folder, name, "FJ_ZPLK"), QString());
    EXPECT_EQ(privileges(folder, name, "FJ_BAZA"), QStringLiteral("D,I,R,S,U"));

    // Without the gate only the FJ_BAZA grant runs: rights given by hand stay.
    TestDb::exec(folder, QStringLiteral("GRANT SELECT ON FJ_BIL TO ") + name);
    UserForm gateOff = form(name, QStringLiteral("Trzecie#Haslo3"));
    RecordingOperator go;
    UserAccounts::modifyUser(dm, go, gateOff, history);
    dm.EmployeeTran.commit();
    EXPECT_EQ(privileges(folder, name, "FJ_BIL"), QStringLiteral("S"));

    RecordingOperator del;
    UserAccounts::deleteUser(dm, del, name);
    RecordingOperator nf;
    EXPECT_FALSE(UserAccounts::findUser(dm, nf, name).has_value());
    EXPECT_EQ(nf.texts(), QStringList({"User not found."}));
    EXPECT_THROW(UserAccounts::deleteUser(dm, del, name), EngineError);
    EXPECT_FALSE(dm.IBSecurity.active());
    EXPECT_EQ(IniFile::sectionLines(history, name).size(), 3); // the history stays
    dm.shutDown();
}

TEST(Accounts, RefusalsStopBeforeTheGrants) {
    const QString folder = TestDb::createDatabase();
    TestModule m(folder);
    TMainDm &dm = *m.dm;
    dm.EmployeeTran.commit();
    const QString history = m.settingsFolder + QStringLiteral("jn.ini");
    const QString name = uniqueUser("R");
    dropUser(dm, name);

    // A name the statements cannot carry: refused before anything is sent or recorded.
    RecordingOperator bad;
    UserAccounts::addUser(dm, bad, form(QStringLiteral("X TO PUBLIC"), QStringLiteral("Dobre#Haslo1")),
                          history);
    ASSERT_EQ(bad.messages.size(), 1);
    EXPECT_EQ(bad.messages[0].kind, Operator::Box::Warning);
    EXPECT_FALSE(QFileInfo::exists(history));
    // PUBLIC is an identifier, but the grants would go to everyone: refused the same way.
    for (const char *everyone : {"PUBLIC", " public "}) {
        RecordingOperator pub;
        UserAccounts::addUser(dm, pub, form(QLatin1String(everyone), QStringLiteral("Dobre#Haslo1")),
                              history);
        UserAccounts::modifyUser(dm, pub, form(QLatin1String(everyone), QStringLiteral("Dobre#Haslo1")),
                                 history);
        ASSERT_EQ(pub.messages.size(), 2) << everyone;
        EXPECT_EQ(pub.messages[0].text, bad.messages[0].text);
        EXPECT_EQ(pub.messages[1].text, bad.messages[0].text);
    }
    EXPECT_FALSE(QFileInfo::exists(history));
    EXPECT_EQ(m.value("select count(*) from RDB$USER_PRIVILEGES where RDB$USER = 'PUBLIC' and "
                      "RDB$RELATION_NAME starting with 'FJ_'"),
              QStringLiteral("0"));

    // Rules fail: no history, no request.
    RecordingOperator weak;
    UserAccounts::addUser(dm, weak, form(name, QStringLiteral("krotkie")), history);
    EXPECT_EQ(weak.messages.size(), 3);
    EXPECT_FALSE(QFileInfo::exists(history));
    EXPECT_FALSE(dm.IBSecurity.active());

    // Not an integer id: the conversion error before the service is attached.
    UserForm wrongId = form(name, QStringLiteral("Dobre#Haslo1"));
    wrongId.groupId = QStringLiteral("x");
    RecordingOperator wi;
    EXPECT_THROW(UserAccounts::addUser(dm, wi, wrongId, history), QkError);
    EXPECT_FALSE(QFileInfo::exists(history));

    RecordingOperator first;
    UserAccounts::addUser(dm, first, form(name, QStringLiteral("Dobre#Haslo1")), history);
    dm.EmployeeTran.commit();
    // The server refuses a duplicate: the history entry stays, no grant runs.
    RecordingOperator dup;
    EXPECT_THROW(UserAccounts::addUser(dm, dup, form(name, QStringLiteral("Inne#Haslo22")), history),
                 EngineError);
    EXPECT_EQ(IniFile::sectionLines(history, name).size(), 2);
    EXPECT_FALSE(dm.EmployeeTran.active());
    EXPECT_FALSE(dup.texts().contains(QStringLiteral("Modyfikacja zakończona pomyślnie ...")));
    // A repeat is refused with its message.
    RecordingOperator rep;
    UserAccounts::modifyUser(dm, rep, form(name, QStringLiteral("Inne#Haslo22")), history);
    EXPECT_EQ(rep.texts(),
              QStringList({"Błąd!!!  ...  Takie samo hasło już było używane do 6 haseł wstecz ..."}));
    EXPECT_EQ(PasswordHistoryResult, '0');

    RecordingOperator empty;
    EXPECT_FALSE(UserAccounts::findUser(dm, empty, QString()).has_value());
    EXPECT_EQ(empty.texts(), QStringList({"You must enter a user name to find."}));
    dropUser(dm, name);
    dm.shutDown();
}

TEST(Accounts, OldDatabaseStopsAtTheFirstMissingTable) {
    TestDb::Spec spec;
    spec.variant = SampleSchema::Variant::Old;
    const QString folder = TestDb::createDatabase(spec);
    TestModule m(folder);
    TMainDm &dm = *m.dm;
    dm.EmployeeTran.commit();
    const QString name = uniqueUser("O");
    dropUser(dm, name);
    UserForm f = form(name, QStringLiteral("Dobre#Haslo1"));
    f.rightsGate = true;
    f.select = true;
    RecordingOperator op;
    EXPECT_THROW(UserAccounts::addUser(dm, op, f, m.settingsFolder + QStringLiteral("jn.ini")), EngineError);
    EXPECT_TRUE(op.messages.isEmpty());
    dm.EmployeeTran.commit(); // the statements before the failing one are in the open transaction
    EXPECT_EQ(privileges(folder, name, "TA_EXZ12"), QStringLiteral("S"));
    EXPECT_EQ(privileges(folder, name, "FJ_BAZA"), QString());
    dropUser(dm, name);
    dm.shutDown();
}

TEST(AccountsWindow, FindFillsTheEditsDeleteEmptiesThem) {
    const QString folder = TestDb::createDatabase();
    RecordedBoxes boxes;
    TestModule m(folder);
    TMainForm w(*m.dm);
    w.FormActivate();
    const QString name = uniqueUser("W");
    dropUser(*m.dm, name);
    w.UserNameEdit->setText(name);
    w.FirstNameEdit->setText(QStringLiteral("Zofia"));
    w.LastNameEdit->setText(QStringLiteral("Wiśniewska"));
    w.PasswordEdit->setText(QStringLiteral("Zofia#2026x"));
    w.AddUserBtnClick();
    EXPECT_EQ(boxes.texts(), QStringList({"Modyfikacja zakończona pomyślnie ..."}));
    EXPECT_FALSE(m.dm->EmployeeTran.active()); // the activation after the box committed the grant
    EXPECT_EQ(privileges(folder, name, "FJ_BAZA"), QStringLiteral("D,I,R,S,U"));

    w.FirstNameEdit->clear();
    w.FindUserBtnClick();
    EXPECT_EQ(w.FirstNameEdit->text(), QStringLiteral("Zofia"));
    EXPECT_EQ(w.LastNameEdit->text(), QStringLiteral("Wiśniewska"));
    EXPECT_FALSE(w.MiddleNameEdit->text().isEmpty());
    EXPECT_EQ(w.PasswordEdit->text(), QString());
    w.DeleteUserBtnClick();
    for (QLineEdit *e : {w.UserNameEdit, w.FirstNameEdit, w.MiddleNameEdit, w.LastNameEdit, w.PasswordEdit})
        EXPECT_EQ(e->text(), QString());
    EXPECT_EQ(w.UserIdEdit->text(), QStringLiteral("0"));
    EXPECT_EQ(w.GroupIdEdit->text(), QStringLiteral("0"));
    m.dm->shutDown();
}

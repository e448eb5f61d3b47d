// The password rules and the password history.
#include "common/RecordingOperator.h"
#include "common/TestDb.h"
#include "common/TestFiles.h"
#include "db/Errors.h"
#include "platform/IniFile.h"
#include "users/PasswordHistory.h"
#include "users/PasswordRules.h"

#include <QFile>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

const QString R1 = QStringLiteral("Błąd!!!  ...  Hasło nie może być identyczne z nazwą użytkownika ... ");
const QString R2 = QStringLiteral("Błąd!!!  ...  Hasło nie może być identyczne z imieniem użytkownika ... ");
const QString R3 =
    QStringLiteral("Błąd!!!  ...  Hasło nie może być identyczne z nazwiskiem użytkownika ... ");
const QString R4 = QStringLiteral("Hasło musi mieć minimalną długość --> 8 znaków ...");
const QString R5 = QStringLiteral("Błąd!!!  ...  Hasło musi zawierać duże litery, minimum jedną ...");
const QString R6 = QStringLiteral("Błąd!!!  ...  Hasło musi zawierać małe litery, minimum jedną ...");
const QString R7 =
    QStringLiteral("Błąd!!!  ...  Hasło musi zawierać cyfry lub znaki specjalne, minimum jedną/jeden ...");
const QString R8 = QStringLiteral("Błąd!!!  ...  Hasło nie może zawierać znaku równości   = ");

const QString kRepeatFew =
    QStringLiteral("Błąd!!!  ...  Takie samo hasło już było używane do 6 haseł wstecz ...");
const QString kRepeatMany =
    QStringLiteral("Błąd!!!  ...  Takie hasło już było używane do 6 haseł wstecz ...");
const QString kAccepted =
    QStringLiteral("Nowe hasło jest prawidłowe, spełnia wszystkie obowiązujące zasady ...");

struct Case {
    const char16_t *password;
    QStringList failures;
};

} // namespace

TEST(PasswordRules, EachRuleAndItsEdgeCases) {
    // User "Kowal", first name "Anna", last name "Żółć".
    const Case cases[] = {
        {u"Dobre#Has1", {}},
        {u"Abcdefg1", {}},        // exactly 8
        {u"Abcdef1", {R4}},       // 7
        {u"kOWAL", {R1, R4, R7}}, // the name in other letter case
        {u"Kowal123Abc", {}},     // contains the name: passes
        {u"ANNA", {R2, R4, R6, R7}},
        {u"Żółć", {R3, R4, R5, R6, R7}}, // accented letters are no letters
        {u"żółć", {R4, R5, R6, R7}},     // only a to z are upper-cased for the comparison
        {u"ŁÓŚŹabcd1", {R5}},            // only accented capitals
        {u"ABCDĘĄ12", {R6}},             // only accented small letters
        {u"Abcdefgh +-?\\<>{}~`", {R7}}, // none of these is special
        {u"Abcdefgh.", {}},
        {u"Abcdefgh_", {}},
        {u"Abcdefg=1", {R8}},
        {u"=", {R4, R5, R6, R7, R8}},
        {u"", {R2 /*empty first name below*/, R4, R5, R6, R7}},
    };
    for (const Case &c : cases) {
        const QString pw = QString::fromUtf16(c.password);
        const QString first = pw.isEmpty() ? QString() : QStringLiteral("Anna");
        const QStringList expected = c.failures;
        EXPECT_EQ(PasswordRuleFailures(pw, QStringLiteral("Kowal"), first, QStringLiteral("Żółć")), expected)
            << pw.toStdString();
    }
    // A name differing only in an accented letter's case is not the same name.
    EXPECT_TRUE(
        PasswordRuleFailures(QStringLiteral("ŁukaszA1"), QStringLiteral("łukaszA1"), "", "").isEmpty());
    EXPECT_EQ(PasswordRuleFailures(QStringLiteral("Lukasz12"), QStringLiteral("LUKASZ12"), "", ""),
              QStringList({R1}));
}

TEST(PasswordRules, TrimmingAndBoxesInOrder) {
    EXPECT_EQ(TrimPassword(QStringLiteral(" \t Abc def1\r\n")), QStringLiteral("Abc def1"));
    EXPECT_EQ(TrimPassword(QString()), QString());
    RecordingOperator op;
    EXPECT_FALSE(CheckPasswordRules(TrimPassword(QStringLiteral("  abc=  ")), "X", "Y", "Z", op));
    EXPECT_EQ(op.texts(), QStringList({R4, R5, R7, R8}));
    RecordingOperator ok;
    EXPECT_TRUE(CheckPasswordRules(QStringLiteral("Abcdefg1"), "X", "Y", "Z", ok));
    EXPECT_TRUE(ok.messages.isEmpty());
}

TEST(PasswordScrambling, HexCodesAndTheStoredForm) {
    EXPECT_EQ(TextToHexCodes(QString()), QString());
    EXPECT_EQ(TextToHexCodes(QStringLiteral("A\n\xff")), QStringLiteral("410AFF"));
    EXPECT_EQ(HexCodesToText(QStringLiteral("410aFF4")),
              QStringLiteral("A\n\xff")); // last odd character ignored
    // "Abc" XOR "sow": 41^73=32, 62^6F=0D, 63^77=14.
    EXPECT_EQ(ScramblePassword(QStringLiteral("  Abc "), kHistoryKey), QStringLiteral("320D14"));
    EXPECT_EQ(UnscramblePassword(QStringLiteral(" 320D14 "), kHistoryKey), QStringLiteral("Abc"));
    const QString latin = QStringLiteral("Zażółć!ó?ÓŻ");
    EXPECT_EQ(UnscramblePassword(ScramblePassword(latin, kHistoryKey), kHistoryKey), latin);
    EXPECT_EQ(ScramblePassword(QStringLiteral("óÓé"), kHistoryKey).size(),
              6); // all up to U+00FF: two digits each
    try {
        HexCodesToText(QStringLiteral("41G1"));
        FAIL();
    } catch (const QkError &e) {
        EXPECT_EQ(e.message(), QStringLiteral("'$G1' is not a valid integer value"));
    }
}

TEST(PasswordHistory, FirstEntrySeedAndAcceptance) {
    const QString file = TestDb::newFolder() + QStringLiteral("jn.ini");
    RecordingOperator op;
    CheckPasswordHistory(file, QStringLiteral("Jan"), QStringLiteral(" Abcdefg1 "), op);
    EXPECT_EQ(PasswordHistoryResult, '1');
    EXPECT_TRUE(op.messages.isEmpty()); // the first entry is silent
    // A salted hash, never the password in a form that can be read back.
    const QByteArray written = TestFiles::read(file);
    EXPECT_TRUE(written.startsWith("[AAA]\r\n1=1\r\n\r\n[Jan]\r\n1=$p$20000$")) << written.toStdString();
    EXPECT_FALSE(written.contains("320D14050C0D0B5E")); // "Abcdefg1" as the old form scrambled it

    CheckPasswordHistory(file, QStringLiteral("JAN"), QStringLiteral("Abcdefg1"), op);
    EXPECT_EQ(PasswordHistoryResult, '0');
    EXPECT_EQ(op.texts(), QStringList({kRepeatFew}));
    CheckPasswordHistory(file, QStringLiteral("jan"), QStringLiteral("Abcdefg2"), op);
    EXPECT_EQ(PasswordHistoryResult, '1');
    EXPECT_EQ(op.texts().last(), kAccepted);
    EXPECT_EQ(IniFile::sectionLines(file, "Jan").size(), 2);
    EXPECT_EQ(IniFile::sectionNames(file), QStringList({"AAA", "Jan"}));
}

TEST(PasswordHistory, TheFileIsTheOwnersAlone) {
    const auto ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    const auto others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup |
                        QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    auto mode = [&](const QString &f) {
        return QFile::permissions(f) & (ownerOnly | QFileDevice::ExeOwner | others);
    };
    const QString file = TestDb::newFolder() + QStringLiteral("jn.ini");
    RecordingOperator op;
    CheckPasswordHistory(file, QStringLiteral("Jan"), QStringLiteral("Abcdefg1"), op);
    EXPECT_EQ(mode(file), ownerOnly);
    CheckPasswordHistory(file, QStringLiteral("Jan"), QStringLiteral("Abcdefg2"), op);
    EXPECT_EQ(mode(file), ownerOnly);

    // A file left readable by an earlier version is made private at its next write, bytes unchanged.
    const QString old = TestDb::newFolder() + QStringLiteral("jn.ini");
    IniFile::writeString(old, "AAA", "1", "1");
    IniFile::writeString(old, "Jan", "1", "320D14050C0D0B5E");
    ASSERT_TRUE(QFile::setPermissions(old, ownerOnly | QFileDevice::ReadGroup | QFileDevice::ReadOther));
    CheckPasswordHistory(old, QStringLiteral("Jan"), QStringLiteral("Abcdefg2"), op);
    EXPECT_EQ(mode(old), ownerOnly);
    // The old, reversible entries are converted when the file is first read; the history still holds.
    const QByteArray converted = TestFiles::read(old);
    EXPECT_FALSE(converted.contains("320D14050C0D0B5E")) << converted.toStdString();
    const QStringList jan = IniFile::sectionLines(old, "Jan");
    ASSERT_EQ(jan.size(), 2);
    EXPECT_TRUE(jan[0].startsWith("1=$p$") && jan[1].startsWith("2=$p$")) << jan.join(' ').toStdString();
    CheckPasswordHistory(old, QStringLiteral("Jan"), QStringLiteral("Abcdefg1"), op);
    EXPECT_EQ(PasswordHistoryResult, '0');

    // setup.ini is no secret: it stays as the system creates files.
    const QString ini = TestDb::newFolder() + QStringLiteral("setup.ini");
    IniFile::writeString(ini, "Ogolne", "sciezka", "/dane");
    EXPECT_TRUE(QFile::permissions(ini) & QFileDevice::ReadOther);

    // In the operators' shared settings folder (set-group-id) both are the group's, no one else's.
    const QString shared = TestDb::newFolder();
    ASSERT_EQ(::chmod(QFile::encodeName(shared).constData(), 02770), 0);
    CheckPasswordHistory(shared + "jn.ini", QStringLiteral("Jan"), QStringLiteral("Abcdefg1"), op);
    IniFile::writeString(shared + "setup.ini", "Ogolne", "sciezka", "/dane");
    const auto group = ownerOnly | QFileDevice::ReadGroup | QFileDevice::WriteGroup;
    EXPECT_EQ(mode(shared + "jn.ini"), group);
    EXPECT_EQ(mode(shared + "setup.ini"), group);
}

TEST(PasswordHistory, FiveEntriesAllComparedNineOnlyTheLastSix) {
    const QString file = TestDb::newFolder() + QStringLiteral("jn.ini");
    RecordingOperator op;
    for (int i = 1; i <= 5; ++i)
        CheckPasswordHistory(file, "Ewa", QStringLiteral("Haslo#%1aB").arg(i), op);
    CheckPasswordHistory(file, "Ewa", QStringLiteral("Haslo#1aB"), op); // entry 1 of five
    EXPECT_EQ(PasswordHistoryResult, '0');
    EXPECT_EQ(op.texts().last(), kRepeatFew);
    for (int i = 6; i <= 9; ++i)
        CheckPasswordHistory(file, "Ewa", QStringLiteral("Haslo#%1aB").arg(i), op);
    ASSERT_EQ(IniFile::sectionLines(file, "Ewa").size(), 9);
    CheckPasswordHistory(file, "Ewa", QStringLiteral("Haslo#4aB"), op); // entry 4 of nine: still compared
    EXPECT_EQ(PasswordHistoryResult, '0');
    EXPECT_EQ(op.texts().last(), kRepeatMany);
    CheckPasswordHistory(file, "Ewa", QStringLiteral("Haslo#3aB"), op); // entry 3 of nine: too old
    EXPECT_EQ(PasswordHistoryResult, '1');
    EXPECT_TRUE(IniFile::sectionLines(file, "Ewa").last().startsWith(QStringLiteral("10=$p$")));
}

TEST(PasswordHistory, SeedUserLongPasswordsAndPolishLetters) {
    const QString file = TestDb::newFolder() + QStringLiteral("jn.ini");
    RecordingOperator op;
    CheckPasswordHistory(file, "aaa", QStringLiteral("Pierwsze1"), op);
    EXPECT_EQ(PasswordHistoryResult, '1');
    const QStringList seed = IniFile::sectionLines(file, "AAA");
    ASSERT_EQ(seed.size(), 2);
    EXPECT_EQ(seed[0], QStringLiteral("1=1"));
    EXPECT_TRUE(seed[1].startsWith(QStringLiteral("2=$p$")));

    // A long password: the old form stored 50 digits and never found it again; a hash finds it.
    const QString longOne = QStringLiteral("Abcdefghijklmnopqrstuvwxyz1");
    CheckPasswordHistory(file, "Ola", longOne, op);
    CheckPasswordHistory(file, "Ola", longOne, op);
    EXPECT_EQ(PasswordHistoryResult, '0');

    const QString polish = QStringLiteral("Źdźbło#Łąka1");
    CheckPasswordHistory(file, "Zenon", polish, op);
    CheckPasswordHistory(file, "Zenon", polish, op);
    EXPECT_EQ(PasswordHistoryResult, '0'); // found: the stored form comes back exactly
    EXPECT_EQ(op.texts().last(), kRepeatFew);
}

TEST(PasswordHistory, HandEditedValuesAndUnwritableFiles) {
    const QString folder = TestDb::newFolder();
    const QString file = folder + QStringLiteral("jn.ini");
    {
        QFile f(file);
        f.open(QIODevice::WriteOnly);
        f.write("[AAA]\r\n1=1\r\n[Jan]\r\n1=32ZZ\r\n");
    }
    RecordingOperator op;
    try {
        CheckPasswordHistory(file, "Jan", QStringLiteral("Abcdefg1"), op);
        FAIL();
    } catch (const QkError &e) {
        EXPECT_EQ(e.message(), QStringLiteral("'$ZZ' is not a valid integer value"));
    }
    EXPECT_EQ(PasswordHistoryResult, '0');
    EXPECT_EQ(IniFile::sectionLines(file, "Jan").size(), 1); // nothing recorded

    const QString missing = folder + QStringLiteral("brak/jn.ini");
    try {
        CheckPasswordHistory(missing, "Jan", QStringLiteral("Abcdefg1"), op);
        FAIL();
    } catch (const FileError &e) {
        EXPECT_EQ(e.message(), QStringLiteral("Unable to write to ") + missing);
    }
}

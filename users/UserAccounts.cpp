#include "users/UserAccounts.h"

#include "core/MainD.h"
#include "core/Operator.h"
#include "core/ServiceRun.h"
#include "platform/Clock.h"
#include "platform/Convert.h"
#include "platform/Regional.h"
#include "users/PasswordHistory.h"
#include "users/PasswordRules.h"

namespace UserAccounts {

namespace {

enum class Change { Add, Modify };

void addOrModify(TMainDm &dm, Operator &op, const UserForm &form, const QString &historyFile, Change change) {
    // The name goes into the grant statements: it must be an identifier, or "X TO PUBLIC" would grant to all.
    if (!isPlainIdentifier(TrimPassword(form.userName))) {
        op.message(Operator::Box::Warning,
                   QStringLiteral(
                       "Błąd!!!  ...  Nazwa użytkownika musi zaczynać się literą i zawierać tylko litery, "
                       "cyfry oraz znaki _ i $ (najwyżej 31 znaków) ..."));
        return;
    }
    SecurityService &s = dm.IBSecurity;
    AssignUserParams(s, form, Clock::now().date());
    s.attach();
    DetachOnExit detach(s);
    if (!CheckPasswordRules(TrimPassword(form.password), form.userName, form.firstName, form.lastName, op))
        return;
    CheckPasswordHistory(historyFile, form.userName, form.password, op);
    if (PasswordHistoryResult != '1')
        return;
    if (change == Change::Add)
        s.addUser();
    else
        s.modifyUser();
    GrantTableRights(dm, op, form);
}

} // namespace

const QStringList &rightsTables() {
    static const QStringList tables = [] {
        QStringList t{"FJ_ZPLK", "FJ_STRU", "FJ_ZPUK", "FJ_ROZR", "FJ_REJV", "FJ_BWYD",
                      "FJ_BDOC", "FJ_TYPD", "FJ_BIL",  "FJ_DKSI", "FJ_OBR"};
        for (int m = 1; m <= 12; ++m)
            t << QStringLiteral("FJ_DOK%1").arg(m);
        for (int m = 1; m <= 12; ++m)
            t << QStringLiteral("FJ_ZAP%1").arg(m);
        t << QStringList{"FJ_VAT7", "FJ_BILAN", "FJ_BILA2", "FJ_BILA3"};
        for (int i = 1; i <= 6; ++i)
            t << QStringLiteral("FJ_STA%1").arg(i);
        t << QStringList{"FJ_FLOP", "IMPORT_D", "IMPORT_Z"};
        for (int m = 1; m <= 12; ++m)
            t << QStringLiteral("TA_EXD%1").arg(m) << QStringLiteral("TA_EXZ%1").arg(m);
        t << QStringList{"IMPORT_R", "TA_ROZR",  "TA_BO",     "KOMUN_R",   "IMPORT_P", "TA_ZPLK",
                         "PACZKA",   "PRZELEWY", "IMPORT_PA", "IMPORT_PP", "TA_PACZ",  "TA_PACZP"};
        return t;
    }();
    return tables;
}

QStringList grantStatements(const QString &u, const UserForm &r) {
    QStringList s;
    if (r.rightsGate) {
        auto right = [&](bool granted, const char *what, const QString &t) {
            s << (granted ? QStringLiteral("GRANT %1 ON ").arg(QLatin1String(what)) + t +
                                QStringLiteral(" TO ") + u
                          : QStringLiteral("REVOKE %1 ON ").arg(QLatin1String(what)) + t +
                                QStringLiteral(" FROM ") + u);
        };
        for (const QString &t : rightsTables()) {
            s << (r.all ? QStringLiteral("GRANT ALL ON ") + t + QStringLiteral(" TO ") + u +
                              QStringLiteral(" WITH GRANT OPTION")
                        : QStringLiteral("REVOKE ALL ON ") + t + QStringLiteral(" FROM ") + u);
            right(r.remove, "DELETE", t);
            right(r.insert, "INSERT", t);
            right(r.update, "UPDATE", t);
            right(r.select, "SELECT", t);
        }
    }
    s << QStringLiteral("GRANT ALL ON FJ_BAZA TO ") + u;
    return s;
}

bool isPlainIdentifier(const QString &name) {
    if (name.isEmpty() || name.size() > 31)
        return false;
    // "TO PUBLIC" grants to every user of the server.
    if (name.compare(QLatin1String("PUBLIC"), Qt::CaseInsensitive) == 0)
        return false;
    auto letter = [](QChar c) {
        return (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
               (c >= QLatin1Char('a') && c <= QLatin1Char('z'));
    };
    if (!letter(name[0]))
        return false;
    for (QChar c : name)
        if (!letter(c) && !(c >= QLatin1Char('0') && c <= QLatin1Char('9')) && c != QLatin1Char('_') &&
            c != QLatin1Char('$'))
            return false;
    return true;
}

void AssignUserParams(SecurityService &s, const UserForm &f, const QDate &today) {
    s.setUserName(f.userName);
    s.setFirstName(f.firstName);
    s.setMiddleName(Regional::shortDate(today)); // the password date
    s.setLastName(f.lastName);
    s.setPassword(f.password);
    s.setUserId(StrToInt(f.userId));
    s.setGroupId(StrToInt(f.groupId));
}

void GrantTableRights(TMainDm &dm, Operator &op, const UserForm &form) {
    Query &q = dm.IBQuery1;
    q.database()->setDatabaseName(dm.Settings.fullDatabaseName());
    q.close();
    q.clearSql();
    for (const QString &sql : grantStatements(TrimPassword(form.userName), form)) {
        q.addLine(sql);
        q.execute();
        q.close();
        q.clearSql();
    }
    op.message(Operator::Box::Information, QStringLiteral("Modyfikacja zakończona pomyślnie ..."));
}

void addUser(TMainDm &dm, Operator &op, const UserForm &form, const QString &historyFile) {
    addOrModify(dm, op, form, historyFile, Change::Add);
}

void modifyUser(TMainDm &dm, Operator &op, const UserForm &form, const QString &historyFile) {
    addOrModify(dm, op, form, historyFile, Change::Modify);
}

std::optional<FoundUser> findUser(TMainDm &dm, Operator &op, const QString &userName) {
    if (userName.isEmpty()) {
        op.message(Operator::Box::Information, QStringLiteral("You must enter a user name to find."));
        return std::nullopt;
    }
    SecurityService &s = dm.IBSecurity;
    s.attach();
    DetachOnExit detach(s);
    const QList<Spb::UserRecord> users = s.displayUser(userName);
    if (users.isEmpty()) {
        op.message(Operator::Box::Information, QStringLiteral("User not found."));
        return std::nullopt;
    }
    const Spb::UserRecord &u = users.first();
    return FoundUser{u.firstName, u.middleName, u.lastName, u.userId, u.groupId};
}

void deleteUser(TMainDm &dm, Operator &, const QString &userName) {
    SecurityService &s = dm.IBSecurity;
    s.setUserName(userName);
    s.attach();
    DetachOnExit detach(s);
    s.deleteUser();
}

} // namespace UserAccounts

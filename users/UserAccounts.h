#pragma once

#include <QDate>
#include <QString>
#include <QStringList>

#include <optional>

class Operator;
class SecurityService;
class TMainDm;

// Server user accounts through the security service, and the user's rights on the accounting tables.
namespace UserAccounts {

// The users tab as the operator left it.
struct UserForm {
    QString userName, firstName, lastName, password, userId, groupId;
    bool rightsGate = false; // "Zakładowe Plany Kont": unless set, no table statement runs
    bool all = false, remove = false, insert = false, update = false, select = false;
};

struct FoundUser {
    QString firstName, middleName, lastName;
    qint32 userId = 0, groupId = 0;
};

// The 84 tables the rights statements cover, in their order.
const QStringList &rightsTables();
// The statements GrantTableRights runs for user (trimmed), the final FJ_BAZA grant included.
QStringList grantStatements(const QString &user, const UserForm &rights);
// A name the grant statements can carry: a letter, then letters, digits, "_" or "$", at most 31.
bool isPlainIdentifier(const QString &name);

void AssignUserParams(SecurityService &security, const UserForm &form, const QDate &today);
void GrantTableRights(TMainDm &dm, Operator &op, const UserForm &form);

// The history file is jn.ini beside the executable.
void addUser(TMainDm &dm, Operator &op, const UserForm &form, const QString &historyFile);
void modifyUser(TMainDm &dm, Operator &op, const UserForm &form, const QString &historyFile);
// The account, or nothing (after its message) when the name is empty or unknown.
std::optional<FoundUser> findUser(TMainDm &dm, Operator &op, const QString &userName);
void deleteUser(TMainDm &dm, Operator &op, const QString &userName);

} // namespace UserAccounts

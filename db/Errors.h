#pragma once

// The engine's errors and the database and service layer's own, on the family's base.
#include "platform/Errors.h"

#include <QStringList>

// A nonzero status from the client library: the SQL code, the engine's first error code and the
// status vector's texts joined by CR LF (the SQL code is not part of the message).
class EngineError : public QkError {
public:
    EngineError(QString message, long sqlCode, long engineCode)
        : QkError(std::move(message)), m_sqlCode(sqlCode), m_engineCode(engineCode) {}
    long sqlCode() const { return m_sqlCode; }
    long engineCode() const { return m_engineCode; }

private:
    long m_sqlCode;
    long m_engineCode;
};

// A login the server refused, said so that an operator can act on it: whom it refused, and where the
// administrator's password is given; the server's own text follows. Other errors pass unchanged.
inline EngineError explainLogin(const EngineError &e, const QStringList &params) {
    constexpr long kLogin = 335544472; // isc_login
    if (e.engineCode() != kLogin)
        return e;
    QString user = QStringLiteral("SYSDBA");
    for (const QString &p : params)
        if (p.startsWith(QLatin1String("user_name="), Qt::CaseInsensitive))
            user = p.mid(10).toUpper();
    return EngineError(
        QStringLiteral("Serwer bazy danych odrzucił logowanie użytkownika %1 (nieznany użytkownik lub błędne "
                       "hasło). Użytkownika i hasło administratora podają zmienne środowiska ISC_USER i "
                       "ISC_PASSWORD, a jednostkom nocnej kopii plik /etc/qkadmin/credentials.\r")
                .arg(user) +
            e.message(),
        e.sqlCode(), e.engineCode());
}

// The database and service layer's own fixed messages.
class LayerError : public QkError {
public:
    using QkError::QkError;
};

class LibraryMissingError : public QkError {
public:
    using QkError::QkError;
};

namespace Msg {
inline const char *const DatabaseNameMissing = "Database name is missing";
inline const char *const DbNotOpen = "Cannot perform operation -- DB is not open";
inline const char *const DbIsOpen = "Cannot perform operation -- DB is currently open";
inline const char *const TransactionNotActive = "Transaction is not active";
inline const char *const TransactionActive = "Transaction is active";
inline const char *const DatasetOpen = "Dataset open";
inline const char *const EmptySql = "Empty SQL Statement";
inline const char *const DatabaseNotAssigned = "Database not assigned";
inline const char *const TransactionNotAssigned = "Transaction not assigned";
inline const char *const SqlDialectInvalid = "SQL Dialect Invalid";
inline const char *const StatementHasNul = "SQL statement text contains a NUL character";
inline const char *const FieldNotFound = "Field '%1' not found";
inline const char *const ParameterNotFound = "Parameter '%1' not found";
inline const char *const LibraryMissing =
    "InterBase library %1 not found in the path. Please install InterBase to use this functionality";

inline const char *const ServerNameMissing = "Server Name Missing";
inline const char *const ServiceNotAttached = "Cannot perform operation -- service is not attached";
inline const char *const StartParamsMissing = "start Parameters missing or incorrect";
inline const char *const QueryParamsMissing = "Query Parameters missing or incorrect";
inline const char *const UnexpectedOutput = "Unexpected Output buffer value";
inline const char *const SpbNotSupported = "SPB Constant Not supported";
inline const char *const SpbUnknown = "SPB Constant Unknown";
inline const char *const DpbUnknown = "DPB Constant Unknown";
inline const char *const GenericStartNotApplicable =
    "Generic ServiceStart not applicable: Use Specific Procedures to set configuration params";
} // namespace Msg

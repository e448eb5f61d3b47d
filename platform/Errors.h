#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

// The one exception family of the system. what() is the text the error box shows.
class QkError : public std::exception {
public:
    explicit QkError(QString message) : m_message(std::move(message)), m_utf8(m_message.toUtf8()) {}
    const char *what() const noexcept override { return m_utf8.constData(); }
    const QString &message() const { return m_message; }

private:
    QString m_message;
    QByteArray m_utf8;
};

// A file that could not be created, written or renamed.
class FileError : public QkError {
public:
    using QkError::QkError;
};

// Another run holds the folder lock of the database folder: nothing was done, and nothing waits for it.
class FolderBusy : public QkError {
public:
    using QkError::QkError;
};

namespace Msg {
inline const char *const NotValidInteger = "''%1'' is not a valid integer value";
inline const char *const NotValidFloat = "''%1'' is not a valid floating point value";
} // namespace Msg

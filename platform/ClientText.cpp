#include "platform/ClientText.h"

#include "platform/AnsiCodec.h"

#include <QList>

#include <clocale>
#ifndef Q_OS_WIN
#include <langinfo.h>
#endif

bool ClientText::markedUtf8() {
#ifdef Q_OS_WIN
    return false;
#else
    return true;
#endif
}

QByteArray ClientText::encode(const QString &text) {
    return markedUtf8() ? text.toUtf8() : AnsiCodec::encode(text);
}

QString ClientText::decode(const QByteArray &bytes) {
    return markedUtf8() ? QString::fromUtf8(bytes) : AnsiCodec::decode(bytes);
}

QString ClientText::useUtf8CharacterSet() {
#ifdef Q_OS_WIN
    return QString(); // the ANSI code page, as the blocks carry it there
#else
    auto codeset = [] { return QString::fromLatin1(nl_langinfo(CODESET)); };
    auto isUtf8 = [&] {
        const QString c = codeset();
        return c.compare(QLatin1String("UTF-8"), Qt::CaseInsensitive) == 0 ||
               c.compare(QLatin1String("utf8"), Qt::CaseInsensitive) == 0;
    };
    if (isUtf8())
        return codeset();
    // The environment's language in UTF-8 ("pl_PL.ISO-8859-2" gives "pl_PL.UTF-8"), else the C locale's.
    QByteArray own = std::setlocale(LC_CTYPE, nullptr);
    if (const qsizetype dot = own.indexOf('.'); dot >= 0)
        own.truncate(dot);
    if (const qsizetype at = own.indexOf('@'); at >= 0)
        own.truncate(at);
    QList<QByteArray> candidates{QByteArrayLiteral("C.UTF-8"), QByteArrayLiteral("C.utf8")};
    if (!own.isEmpty() && own != "C" && own != "POSIX")
        candidates.prepend(own + ".UTF-8");
    for (const QByteArray &c : candidates)
        if (std::setlocale(LC_CTYPE, c.constData()) && isUtf8())
            break;
    return codeset();
#endif
}

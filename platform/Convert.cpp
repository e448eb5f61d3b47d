#include "platform/Convert.h"

#include "platform/Errors.h"

int StrToInt(const QString &text) {
    bool ok = false;
    const int v = text.trimmed().toInt(&ok, 10);
    if (!ok || text.isEmpty() || text.back().isSpace())
        throw QkError(QString::fromLatin1(Msg::NotValidInteger).arg(text));
    return v;
}

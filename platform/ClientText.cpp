#include "platform/ClientText.h"

#include "platform/AnsiCodec.h"

bool ClientText::markedUtf8()
{
#ifdef Q_OS_WIN
    return false;
#else
    return true;
#endif
}

QByteArray ClientText::encode(const QString &text)
{
    return markedUtf8() ? text.toUtf8() : AnsiCodec::encode(text);
}

QString ClientText::decode(const QByteArray &bytes)
{
    return markedUtf8() ? QString::fromUtf8(bytes) : AnsiCodec::decode(bytes);
}

#include "platform/AnsiCodec.h"

#include <QStringDecoder>

#include <array>
#include <vector>

namespace {

// Built once from the platform's Windows-1250 converter: a byte-to-character table and its inverse.
struct Tables {
    std::array<char16_t, 256> toUnicode{};
    std::vector<unsigned char> fromUnicode = std::vector<unsigned char>(0x10000, 0);
    std::vector<bool> mapped = std::vector<bool>(0x10000, false);

    Tables() {
        QStringDecoder decoder("windows-1250");
        for (int b = 0; b < 256; ++b) {
            const char byte = static_cast<char>(b);
            QString ch = decoder.isValid() ? decoder.decode(QByteArrayView(&byte, 1)) : QString();
            char16_t unit = (ch.size() == 1) ? ch.at(0).unicode() : char16_t(b < 0x80 ? b : 0xFFFD);
            if (unit == 0xFFFD)
                unit = char16_t(b); // undefined bytes travel unchanged
            toUnicode[b] = unit;
            if (!mapped[unit]) {
                mapped[unit] = true;
                fromUnicode[unit] = static_cast<unsigned char>(b);
            }
        }
    }
};

const Tables &tables() {
    static const Tables t;
    return t;
}

} // namespace

QByteArray AnsiCodec::encode(const QString &text) {
    const Tables &t = tables();
    QByteArray out(text.size(), Qt::Uninitialized);
    char *dst = out.data();
    for (QChar c : text) {
        const char16_t u = c.unicode();
        *dst++ = t.mapped[u] ? static_cast<char>(t.fromUnicode[u]) : '?';
    }
    return out;
}

QString AnsiCodec::decode(const char *data, qsizetype size) {
    const Tables &t = tables();
    QString out(size, Qt::Uninitialized);
    QChar *dst = out.data();
    for (qsizetype i = 0; i < size; ++i)
        dst[i] = QChar(t.toUnicode[static_cast<unsigned char>(data[i])]);
    return out;
}

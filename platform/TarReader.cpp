#include "platform/TarReader.h"

#include <algorithm>
#include <optional>

namespace {

constexpr qint64 kBlock = 512;

// A numeric field: octal digits (NUL or blank ended), or GNU's base-256 (sizes of 8 GiB and more) when its
// first byte has the high bit: the rest of that byte and the bytes after it, big-endian. A negative one
// (0xff first) or one past 2^62 is no size.
qint64 number(const char *field, int width, bool *ok) {
    *ok = true;
    if (quint8(field[0]) & 0x80) {
        if (quint8(field[0]) & 0x40) {
            *ok = false;
            return 0;
        }
        qint64 v = quint8(field[0]) & 0x3f;
        for (int i = 1; i < width; ++i) {
            if (v >> 54) {
                *ok = false;
                return 0;
            }
            v = (v << 8) | quint8(field[i]);
        }
        return v;
    }
    qint64 v = 0;
    int i = 0;
    while (i < width && field[i] == ' ')
        ++i;
    bool digits = false;
    for (; i < width && field[i] >= '0' && field[i] <= '7'; ++i) {
        v = v * 8 + (field[i] - '0');
        digits = true;
    }
    if (i < width && field[i] != '\0' && field[i] != ' ')
        *ok = false;
    *ok = *ok && (digits || i == width || field[i] == '\0' || field[i] == ' ');
    return v;
}

QString text(const char *field, int width) {
    return QString::fromUtf8(field, qsizetype(std::find(field, field + width, '\0') - field));
}

// The value of key in a PAX record: "LEN key=VALUE\n" lines; nullopt when it has none.
std::optional<QByteArray> paxValue(const QByteArray &record, const QByteArray &key) {
    qsizetype at = 0;
    while (at < record.size()) {
        const qsizetype blank = record.indexOf(' ', at);
        if (blank < 0)
            break;
        bool ok = false;
        const qsizetype len = record.mid(at, blank - at).toLongLong(&ok);
        if (!ok || len <= 0 || at + len > record.size())
            break;
        const QByteArray kv = record.mid(blank + 1, at + len - blank - 2);
        if (kv.startsWith(key + '='))
            return kv.mid(key.size() + 1);
        at += len;
    }
    return std::nullopt;
}

} // namespace

bool TarReader::feed(const char *data, qint64 size) {
    while (size > 0 && m_error.isEmpty()) {
        if (m_ended)
            return true; // what follows the end records is padding
        if (m_left > 0) {
            const qint64 n = std::min(size, m_left);
            if (m_recordType)
                m_record.append(data, n);
            else if (m_taking && !m_data(data, n))
                m_error = QStringLiteral("zapis pliku przerwany");
            data += n;
            size -= n;
            m_left -= n;
            if (m_left == 0 && m_recordType) {
                if (m_recordType == 'x') {
                    m_longName = QString::fromUtf8(paxValue(m_record, "path").value_or(QByteArray()));
                    // The size of a file of 8 GiB or more is in the record alone (the header's is 0).
                    if (const auto size = paxValue(m_record, "size")) {
                        bool ok = false;
                        m_paxSize = size->toLongLong(&ok);
                        if (!ok || m_paxSize < 0) {
                            m_error = QStringLiteral("zły rozmiar w rekordzie PAX archiwum tar");
                            m_paxSize = -1;
                        }
                    }
                } else {
                    m_longName = QString::fromUtf8(m_record.constData());
                }
                m_recordType = 0;
                m_record.clear();
            }
            continue;
        }
        if (m_padding > 0) {
            const qint64 n = std::min(size, m_padding);
            data += n;
            size -= n;
            m_padding -= n;
            continue;
        }
        const qint64 n = std::min(size, kBlock - m_block.size());
        m_block.append(data, n);
        data += n;
        size -= n;
        if (m_block.size() == kBlock) {
            header();
            m_block.clear();
        }
    }
    return m_error.isEmpty();
}

bool TarReader::header() {
    const char *h = m_block.constData();
    if (std::all_of(h, h + kBlock, [](char c) { return c == '\0'; })) {
        m_ended = ++m_zeroBlocks == 2;
        return true;
    }
    m_zeroBlocks = 0;
    // The header's checksum: the sum of its bytes with the checksum field taken as blanks.
    bool ok = false;
    const qint64 recorded = number(h + 148, 8, &ok);
    qint64 sum = 0;
    for (int i = 0; i < kBlock; ++i)
        sum += (i >= 148 && i < 156) ? ' ' : quint8(h[i]);
    if (!ok || sum != recorded) {
        m_error = QStringLiteral("uszkodzony nagłówek archiwum tar");
        return false;
    }
    qint64 size = number(h + 124, 12, &ok);
    const char type = h[156];
    if (m_paxSize >= 0 && type != 'x' && type != 'g' && type != 'L') {
        size = m_paxSize;
        m_paxSize = -1;
    }
    if (!ok || size < 0) {
        m_error = QStringLiteral("zły rozmiar w nagłówku archiwum tar");
        return false;
    }
    m_left = size;
    m_padding = (kBlock - size % kBlock) % kBlock;
    m_taking = false;
    if (type == 'x' || type == 'L') {
        if (size > 65536) {
            m_error = QStringLiteral("za długi rekord nazwy w archiwum tar");
            return false;
        }
        m_recordType = type;
        return true;
    }
    QString name = m_longName;
    m_longName.clear();
    if (name.isEmpty()) {
        name = text(h, 100);
        if (QByteArray(h + 257, 5) == "ustar" && h[345] != '\0')
            name = text(h + 345, 155) + QLatin1Char('/') + name;
    }
    if (type == '0' || type == '\0' || type == '7') {
        m_taking = m_entry(name, size);
        if (!m_error.isEmpty())
            return false;
    }
    return true;
}

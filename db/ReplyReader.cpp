#include "db/ReplyReader.h"

#include "db/Errors.h"

void ReplyReader::fail() {
    throw LayerError(Msg::UnexpectedOutput);
}

void ReplyReader::need(int n) const {
    if (n < 0 || m_size - m_pos < n)
        fail();
}

int ReplyReader::peekByte() const {
    need(1);
    return static_cast<unsigned char>(m_data[m_pos]);
}

int ReplyReader::byte() {
    const int b = peekByte();
    ++m_pos;
    return b;
}

void ReplyReader::expectByte(int value) {
    if (byte() != value)
        fail();
}

int ReplyReader::u16() {
    need(2);
    const auto *p = reinterpret_cast<const unsigned char *>(m_data + m_pos);
    m_pos += 2;
    return p[0] | (p[1] << 8);
}

qint32 ReplyReader::i32() {
    need(4);
    const auto *p = reinterpret_cast<const unsigned char *>(m_data + m_pos);
    m_pos += 4;
    return qint32(quint32(p[0]) | (quint32(p[1]) << 8) | (quint32(p[2]) << 16) | (quint32(p[3]) << 24));
}

QByteArray ReplyReader::bytes(int n) {
    need(n);
    QByteArray b(m_data + m_pos, n);
    m_pos += n;
    return b;
}

QByteArray ReplyReader::text16() {
    const int n = u16();
    return bytes(n);
}

ReplyReader ReplyReader::sub(int n) {
    need(n);
    ReplyReader r(m_data + m_pos, n);
    m_pos += n;
    return r;
}

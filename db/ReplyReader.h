#pragma once

#include <QByteArray>

// Reads a service or information reply without ever reading past its buffer; any shortfall or an
// unexpected byte raises "Unexpected Output buffer value".
class ReplyReader {
public:
    ReplyReader(const char *data, int size) : m_data(data), m_size(size) {}

    bool atEnd() const { return m_pos >= m_size; }
    int pos() const { return m_pos; }
    int peekByte() const;
    int byte();
    void expectByte(int value);
    int u16();
    qint32 i32();
    QByteArray bytes(int n);
    QByteArray text16(); // u16 length, then the bytes
    ReplyReader sub(int n);

    [[noreturn]] static void fail();

private:
    void need(int n) const;
    const char *m_data;
    int m_size;
    int m_pos = 0;
};

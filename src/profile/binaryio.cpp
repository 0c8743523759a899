#include "binaryio.h"

#include <QtEndian>

#include <cstring>

void AppendUInt32(QByteArray& out, uint32_t value)
{
    char bytes[4];
    qToLittleEndian(value, bytes);
    out.append(bytes, 4);
}

void AppendInt32(QByteArray& out, int32_t value)
{
    AppendUInt32(out, static_cast<uint32_t>(value));
}

void AppendCountedString(QByteArray& out, QByteArrayView text)
{
    AppendUInt32(out, static_cast<uint32_t>(text.size() + 1));
    out.append(text.data(), text.size());
    out.append('\0');
}

void AppendStringList(QByteArray& out, const QList<QByteArray>& strings)
{
    AppendUInt32(out, static_cast<uint32_t>(StringListSize(strings) - 4));
    for (const QByteArray& s : strings) {
        out.append(s);
        out.append('\0');
    }
}

void AppendRect(QByteArray& out, const StoredRect& rect)
{
    AppendInt32(out, rect.left);
    AppendInt32(out, rect.top);
    AppendInt32(out, rect.right);
    AppendInt32(out, rect.bottom);
}

qsizetype CountedStringSize(QByteArrayView text)
{
    return 4 + text.size() + 1;
}

qsizetype StringListSize(const QList<QByteArray>& strings)
{
    qsizetype total = 4;
    for (const QByteArray& s : strings)
        total += s.size() + 1;
    return total;
}

QByteArray TextBeforeZero(QByteArrayView block)
{
    const qsizetype zero = block.indexOf('\0');
    return (zero < 0 ? block : block.first(zero)).toByteArray();
}

QList<QByteArray> SplitStringBlock(QByteArrayView block)
{
    QList<QByteArray> pieces;
    qsizetype start = 0;
    while (start < block.size()) {
        const qsizetype zero = block.indexOf('\0', start);
        const qsizetype end = zero < 0 ? block.size() : zero;
        pieces.append(block.sliced(start, end - start).toByteArray());
        start = end + 1;
    }
    return pieces;
}

BinaryReader::BinaryReader(QByteArray data) : m_data(std::move(data)) {}

QByteArrayView BinaryReader::take(qsizetype size)
{
    const qsizetype n = qMin(size, remaining());
    if (n < size)
        m_reachedEnd = true;
    QByteArrayView view(m_data.constData() + m_pos, n);
    m_pos += n;
    return view;
}

bool BinaryReader::readUInt32(uint32_t& value)
{
    if (m_failed)
        return false;
    // A word cut by the end of the file keeps its preset.
    const QByteArrayView bytes = take(4);
    if (bytes.size() < 4)
        return false;
    value = qFromLittleEndian<uint32_t>(bytes.data());
    return true;
}

bool BinaryReader::readInt32(int32_t& value)
{
    uint32_t raw = static_cast<uint32_t>(value);
    const bool ok = readUInt32(raw);
    value = static_cast<int32_t>(raw);
    return ok;
}

bool BinaryReader::readBlock(char* dst, qsizetype size)
{
    if (m_failed)
        return false;
    const QByteArrayView bytes = take(size);
    if (!bytes.isEmpty())
        memcpy(dst, bytes.data(), bytes.size());
    return bytes.size() == size;
}

bool BinaryReader::readCountedString(QByteArray& text, uint32_t bound)
{
    uint32_t length = 0;
    if (!readUInt32(length))
        return false;
    if (length > bound) {
        m_failed = true;
        return false;
    }
    const QByteArrayView bytes = take(length);
    text = TextBeforeZero(bytes);
    return bytes.size() == qsizetype(length);
}

bool BinaryReader::readStringList(QList<QByteArray>& strings, uint32_t bound)
{
    uint32_t total = 0;
    if (!readUInt32(total))
        return false;
    if (total > bound) {
        m_failed = true;
        return false;
    }
    const QByteArrayView bytes = take(total);
    strings.append(SplitStringBlock(bytes));
    return bytes.size() == qsizetype(total);
}

bool BinaryReader::readRect(StoredRect& rect)
{
    bool ok = readInt32(rect.left);
    ok = readInt32(rect.top) && ok;
    ok = readInt32(rect.right) && ok;
    ok = readInt32(rect.bottom) && ok;
    return ok;
}

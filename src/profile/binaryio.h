#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include "profile/storedrect.h"

#include <cstdint>

// Building blocks shared by every profile file and the transfer list file:
// little-endian 32-bit words, counted strings, string lists and rectangles.

// Every profile file opens with this word; there is no other versioning.
inline constexpr uint32_t FORMAT_VERSION = 6000;

// A counted string longer than this makes the whole file damaged.
inline constexpr uint32_t MaxCountedStringLength = 65535;
// A string list whose byte total exceeds this makes the whole file damaged.
inline constexpr uint32_t MaxStringListBytes = 5242880;

// Writers append to a byte array.
void AppendUInt32(QByteArray& out, uint32_t value);
void AppendInt32(QByteArray& out, int32_t value);
// Length (text + its terminating zero), the text, one zero byte. The caller
// keeps the text within the reader's bound; this writes what it is given.
void AppendCountedString(QByteArray& out, QByteArrayView text);
// Total byte count, then every string followed by one zero byte.
void AppendStringList(QByteArray& out, const QList<QByteArray>& strings);
void AppendRect(QByteArray& out, const StoredRect& rect);

// Bytes a counted string or string list takes in a file.
qsizetype CountedStringSize(QByteArrayView text);
qsizetype StringListSize(const QList<QByteArray>& strings);

// Reads the building blocks from a file image. A read that runs past the end
// is not an error: the target keeps what it held (a fixed block takes the
// bytes that are there) and reachedEnd() turns true. A length over its bound
// is an error: failed() turns true and every later read does nothing.
class BinaryReader
{
public:
    explicit BinaryReader(QByteArray data);

    bool readUInt32(uint32_t& value);
    bool readInt32(int32_t& value);
    // Copies up to size bytes over dst; true only when all of them were there.
    bool readBlock(char* dst, qsizetype size);
    // Text = the bytes before the first zero, or all of them when none is zero.
    // A length of 0 gives an empty text. The text keeps its preset when the
    // length word itself is missing.
    bool readCountedString(QByteArray& text, uint32_t bound = MaxCountedStringLength);
    // Appends each zero-terminated piece to the list; a final piece without
    // its zero runs to the end of the block.
    bool readStringList(QList<QByteArray>& strings, uint32_t bound = MaxStringListBytes);
    bool readRect(StoredRect& rect);

    bool failed() const { return m_failed; }
    bool reachedEnd() const { return m_reachedEnd; }
    qsizetype position() const { return m_pos; }
    qsizetype remaining() const { return m_data.size() - m_pos; }
    qsizetype size() const { return m_data.size(); }

    // Marks the file damaged for a reason found by the caller (version, count).
    void fail() { m_failed = true; }

private:
    // Takes up to size bytes; sets reachedEnd when fewer are there.
    QByteArrayView take(qsizetype size);

    QByteArray m_data;
    qsizetype m_pos = 0;
    bool m_failed = false;
    bool m_reachedEnd = false;
};

// Splits a block at its zero bytes (see readStringList).
QList<QByteArray> SplitStringBlock(QByteArrayView block);
// The bytes before the first zero, or the whole block.
QByteArray TextBeforeZero(QByteArrayView block);

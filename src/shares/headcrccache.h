#pragma once

#include <QByteArray>
#include <QHash>
#include <QMutex>

#include <cstdint>

// HeadCrc values of files already listed, keyed by path, size and
// modification time (in nanoseconds): a file changed in any of them is read
// again, so the checksum a listing sends is always the file's own. Shared
// by every browse session of the process.
class HeadCrcCache
{
public:
    // Above this many files the cache starts over.
    static constexpr qsizetype MaxFiles = 200000;

    static HeadCrcCache& instance();

    // The file's HeadCrc, read from disk only when the cache has no value
    // for exactly this size and time.
    uint32_t get(const QByteArray& path, uint64_t size, int64_t modifiedNs);

    qsizetype count() const;
    void clear();

private:
    struct Value
    {
        uint64_t size;
        int64_t modifiedNs;
        uint32_t crc;
    };
    mutable QMutex m_mutex;
    QHash<QByteArray, Value> m_values;
};

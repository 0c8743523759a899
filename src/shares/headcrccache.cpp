#include "shares/headcrccache.h"

#include "transfers/headcrc.h"

#include <QFile>
#include <QMutexLocker>

HeadCrcCache& HeadCrcCache::instance()
{
    static HeadCrcCache cache;
    return cache;
}

uint32_t HeadCrcCache::get(const QByteArray& path, uint64_t size, int64_t modifiedNs)
{
    {
        QMutexLocker locker(&m_mutex);
        auto it = m_values.constFind(path);
        if (it != m_values.constEnd() && it->size == size && it->modifiedNs == modifiedNs)
            return it->crc;
    }
    // Read outside the lock: other sessions keep listing meanwhile.
    const uint32_t crc = HeadCrc(QFile::decodeName(path));
    QMutexLocker locker(&m_mutex);
    if (m_values.size() >= MaxFiles && !m_values.contains(path))
        m_values.clear();
    m_values.insert(path, Value{size, modifiedNs, crc});
    return crc;
}

qsizetype HeadCrcCache::count() const
{
    QMutexLocker locker(&m_mutex);
    return m_values.size();
}

void HeadCrcCache::clear()
{
    QMutexLocker locker(&m_mutex);
    m_values.clear();
}

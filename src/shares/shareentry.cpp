#include "shares/shareentry.h"

#include <QtEndian>

QByteArray ShareEntry::encode() const
{
    const qsizetype l = path.size();
    QByteArray out(l + FixedSize, '\0');
    char* p = out.data();
    memcpy(p, path.constData(), size_t(l));
    qToLittleEndian<int32_t>(folder ? 1 : 0, p + l + 1);
    qToLittleEndian<uint32_t>(crc, p + l + 5);
    qToLittleEndian<int64_t>(modified, p + l + 9);
    qToLittleEndian<uint64_t>(size, p + l + 17);
    return out;
}

std::optional<ShareEntry> ShareEntry::decode(QByteArrayView payload)
{
    const qsizetype l = payload.indexOf('\0');
    if (l < 0 || payload.size() < l + FixedSize)
        return std::nullopt;
    const char* p = payload.data();
    ShareEntry e;
    e.path = payload.first(l).toByteArray();
    e.folder = qFromLittleEndian<int32_t>(p + l + 1) != 0;
    e.crc = qFromLittleEndian<uint32_t>(p + l + 5);
    e.modified = qFromLittleEndian<int64_t>(p + l + 9);
    e.size = qFromLittleEndian<uint64_t>(p + l + 17);
    return e;
}

QByteArray ShareTextPayload(const QByteArray& text)
{
    QByteArray out = ShareTextOf(text);
    out.append('\0');
    return out;
}

QByteArray ShareSearchPayload(const QByteArray& pattern, const QByteArray& path, bool subFolders)
{
    QByteArray out = ShareTextPayload(pattern) + ShareTextPayload(path);
    char flag[4];
    qToLittleEndian<int32_t>(subFolders ? 1 : 0, flag);
    out.append(flag, 4);
    return out;
}

QByteArray ShareTextOf(QByteArrayView payload)
{
    const qsizetype end = payload.indexOf('\0');
    return (end < 0 ? payload : payload.first(end)).toByteArray();
}

std::optional<ShareSearchRequest> DecodeShareSearch(QByteArrayView payload)
{
    const qsizetype first = payload.indexOf('\0');
    if (first < 0)
        return std::nullopt;
    const qsizetype second = payload.sliced(first + 1).indexOf('\0');
    if (second < 0)
        return std::nullopt;
    const qsizetype flagAt = first + 1 + second + 1;
    if (payload.size() < flagAt + 4)
        return std::nullopt;
    ShareSearchRequest r;
    r.pattern = payload.first(first).toByteArray();
    r.path = payload.sliced(first + 1, second).toByteArray();
    r.subFolders = qFromLittleEndian<int32_t>(payload.data() + flagAt) == 1;
    return r;
}

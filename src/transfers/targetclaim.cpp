#include "transfers/targetclaim.h"

#include "transfers/acceptresume.h"
#include "transfers/pathguard.h"

#include <QMutex>
#include <QMutexLocker>
#include <QSet>

namespace {

// Process-wide: sessions run on threads of their own.
QMutex s_lock;
QSet<QString> s_claimed;

} // namespace

TargetClaim::TargetClaim(TargetClaim&& other) noexcept
{
    *this = std::move(other);
}

TargetClaim& TargetClaim::operator=(TargetClaim&& other) noexcept
{
    if (this != &other) {
        release();
        for (int i = 0; i < 2; ++i)
            m_keys[i] = std::exchange(other.m_keys[i], QString());
    }
    return *this;
}

TargetClaim::~TargetClaim()
{
    release();
}

TargetClaim TargetClaim::take(const QString& target)
{
    // Two names for one file (a linked folder on the way) are one key.
    return takeLocated(RealLocation(target));
}

TargetClaim TargetClaim::takeLocated(const QString& key)
{
    const QString partialKey = key + PartialSuffix;
    TargetClaim claim;
    QMutexLocker locker(&s_lock);
    if (s_claimed.contains(key) || s_claimed.contains(partialKey))
        return claim;
    s_claimed.insert(key);
    s_claimed.insert(partialKey);
    claim.m_keys[0] = key;
    claim.m_keys[1] = partialKey;
    return claim;
}

bool TargetClaim::isClaimed(const QString& target)
{
    {
        // Nothing claimed anywhere: no need to locate the target on disk
        // (the common case of one session writing file after file).
        QMutexLocker locker(&s_lock);
        if (s_claimed.isEmpty())
            return false;
    }
    const QString key = RealLocation(target);
    QMutexLocker locker(&s_lock);
    return s_claimed.contains(key) || s_claimed.contains(key + PartialSuffix);
}

void TargetClaim::release()
{
    if (!held())
        return;
    QMutexLocker locker(&s_lock);
    for (QString& key : m_keys) {
        s_claimed.remove(key);
        key.clear();
    }
}

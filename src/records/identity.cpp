#include "records/identity.h"

#include <QtEndian>

#include <sys/statvfs.h>

#include <atomic>

#include <cstring>
#include <ctime>

namespace {

// Milliseconds since boot, wrapping at 2^32.
uint32_t tickCount()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                                 static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

bool rootFilesystemId(uint32_t& id)
{
    struct statvfs st
    {};
    if (statvfs("/", &st) != 0)
        return false;
    id = static_cast<uint32_t>(st.f_fsid);
    return true;
}

} // namespace

QByteArray Utf8Prefix(QByteArrayView text, qsizetype maxBytes)
{
    if (text.size() <= maxBytes)
        return text.toByteArray();
    qsizetype end = qMax<qsizetype>(maxBytes, 0);
    // Step back over the continuation bytes of the cut character; bytes that
    // are not UTF-8 at all are cut where they stand.
    for (int back = 0; back < 3 && end > 0 && (static_cast<uchar>(text[end]) & 0xC0) == 0x80;
         ++back) {
        --end;
    }
    if ((static_cast<uchar>(text[end]) & 0xC0) == 0x80)
        end = qMax<qsizetype>(maxBytes, 0);
    return text.first(end).toByteArray();
}

QByteArray Identity::encode() const
{
    QByteArray image(Size, '\0');
    storeFields(image.data());
    return image;
}

void Identity::decode(QByteArrayView bytes)
{
    QByteArray image = encode();
    const qsizetype n = qMin<qsizetype>(bytes.size(), Size);
    if (n > 0)
        memcpy(image.data(), bytes.data(), n);
    loadFields(image.constData());
}

void Identity::storeFields(char* dst) const
{
    qToLittleEndian(status, dst + StatusOffset);
    qToLittleEndian(port, dst + PortOffset);
    uid.store(dst + UidOffset);
    name.store(dst + NameOffset);
    ip.store(dst + IpOffset);
    dns.store(dst + DnsOffset);
    password.store(dst + PasswordOffset);
    key.store(dst + KeyOffset);
    awayMessage.store(dst + AwayMessageOffset);
}

void Identity::loadFields(const char* src)
{
    status = qFromLittleEndian<int32_t>(src + StatusOffset);
    port = qFromLittleEndian<int32_t>(src + PortOffset);
    uid.load(src + UidOffset);
    name.load(src + NameOffset);
    ip.load(src + IpOffset);
    dns.load(src + DnsOffset);
    password.load(src + PasswordOffset);
    key.load(src + KeyOffset);
    awayMessage.load(src + AwayMessageOffset);
}

QByteArray ToBase36(uint64_t value)
{
    static const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    QByteArray out;
    do {
        out.prepend(digits[value % 36]);
        value /= 36;
    } while (value != 0);
    return out;
}

QByteArray MakeUid()
{
    QByteArray uid;
    uint32_t fsid = 0;
    if (rootFilesystemId(fsid))
        uid += ToBase36(fsid);
    uid += ToBase36(static_cast<uint32_t>(time(nullptr)));
    // Two identities made in the same millisecond (two profiles created side
    // by side in one process) would share a uid and refuse each other as
    // "yourself": the tick part never repeats within a process.
    static std::atomic<uint32_t> lastTick{0};
    const uint32_t now = tickCount();
    uint32_t previous = lastTick.load();
    uint32_t tick;
    do {
        // Later than the last one handed out, modulo the 32-bit wrap.
        tick = previous == 0 || static_cast<int32_t>(now - previous) > 0 ? now : previous + 1;
    } while (!lastTick.compare_exchange_weak(previous, tick));
    uid += ToBase36(tick);
    return uid;
}

Identity DefaultIdentity()
{
    Identity id;
    id.status = StatusOnline;
    id.port = DefaultPort;
    id.uid = MakeUid();
    id.name = DefaultScreenName;
    id.key = DefaultKey;
    return id;
}

QString StatusText(const Identity& identity)
{
    switch (identity.status) {
    case StatusOnline:
        return QStringLiteral("Online");
    case StatusAway:
        return QStringLiteral("Away");
    case StatusAwayMessage:
        if (identity.awayMessage.isEmpty())
            return QStringLiteral("Away");
        return QLatin1Char('"') + identity.awayMessage.text() + QLatin1Char('"');
    case StatusOffline:
        return QStringLiteral("Offline");
    default:
        return QString();
    }
}

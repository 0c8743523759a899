#include "transfers/transfer.h"

#include <QtEndian>

#include <cstring>

namespace {

// Offsets of the fixed block; the handle slots at 96, 100 and 104 stay zero.
constexpr int OffState = 0;
constexpr int OffIsSend = 4;
constexpr int OffIsFolder = 8;
constexpr int OffSizeUnknown = 12;
constexpr int OffQueueTime = 16;
constexpr int OffConnectTryTime = 20;
constexpr int OffStartTime = 24;
constexpr int OffStopTime = 28;
constexpr int OffContactUid = 32;
constexpr int ContactUidField = 32;
constexpr int OffPercent = 64;
constexpr int OffHeadCrc = 68;
constexpr int OffBytesDone = 72;
constexpr int OffTotalSize = 80;
constexpr int OffSessionThreadId = 88;
constexpr int OffCalcThreadId = 92;
constexpr int OffHandles = 96;

static_assert(OffContactUid + ContactUidField == OffPercent);
static_assert(OffTotalSize + 8 == TransferFileBlockSize);
static_assert(OffHandles + 3 * 4 == TransferBlockSize);

// The longest prefix of bytes no longer than limit that does not split a
// UTF-8 sequence.
QByteArray CutUtf8(const QByteArray& bytes, qsizetype limit)
{
    if (bytes.size() <= limit)
        return bytes;
    qsizetype end = limit;
    // Back up over continuation bytes so that a sequence is kept whole or dropped.
    while (end > 0 && (static_cast<unsigned char>(bytes.at(end)) & 0xC0) == 0x80)
        --end;
    return bytes.left(end);
}

void PutI32(char* block, int offset, int32_t v)
{
    qToLittleEndian(v, block + offset);
}
void PutU32(char* block, int offset, uint32_t v)
{
    qToLittleEndian(v, block + offset);
}
void PutU64(char* block, int offset, uint64_t v)
{
    qToLittleEndian(v, block + offset);
}
int32_t GetI32(const char* block, int offset)
{
    return qFromLittleEndian<int32_t>(block + offset);
}
uint32_t GetU32(const char* block, int offset)
{
    return qFromLittleEndian<uint32_t>(block + offset);
}
uint64_t GetU64(const char* block, int offset)
{
    return qFromLittleEndian<uint64_t>(block + offset);
}

// One zero-terminated text starting at pos; advances pos past the zero.
std::optional<QString> ReadWireText(const QByteArray& image, qsizetype& pos)
{
    const qsizetype zero = image.indexOf('\0', pos);
    if (zero < 0 || zero - pos > MaxTransferTextBytes)
        return std::nullopt;
    QString text = QString::fromUtf8(image.constData() + pos, zero - pos);
    pos = zero + 1;
    return text;
}

} // namespace

QString TransferStateText(TransferState state)
{
    switch (state) {
    case TransferState::Queued:
        return QStringLiteral("Queued");
    case TransferState::Waiting:
        return QStringLiteral("Waiting");
    case TransferState::Transferring:
        return QStringLiteral("Transfering");
    case TransferState::Completed:
        return QStringLiteral("Completed");
    case TransferState::Failed:
        return QStringLiteral("Failed");
    case TransferState::Canceled:
        return QStringLiteral("Canceled");
    case TransferState::ManualRetry:
        return QStringLiteral("Failed: Manual Retry Required");
    case TransferState::Connecting:
        return QStringLiteral("Connecting");
    }
    return QString();
}

Transfer NewTransfer()
{
    return Transfer();
}

Transfer CopyTransfer(const Transfer& t)
{
    return t;
}

QByteArray EncodeTransferBlock(const Transfer& t)
{
    QByteArray out(TransferBlockSize, '\0');
    char* b = out.data();
    PutI32(b, OffState, static_cast<int32_t>(t.state));
    PutI32(b, OffIsSend, t.isSend);
    PutI32(b, OffIsFolder, t.isFolder);
    PutI32(b, OffSizeUnknown, t.sizeUnknown);
    PutI32(b, OffQueueTime, t.queueTime);
    PutI32(b, OffConnectTryTime, t.connectTryTime);
    PutI32(b, OffStartTime, t.startTime);
    PutI32(b, OffStopTime, t.stopTime);
    const QByteArray uid = CutUtf8(t.contactUid, ContactUidField - 1);
    memcpy(b + OffContactUid, uid.constData(), uid.size());
    PutI32(b, OffPercent, t.percent);
    PutU32(b, OffHeadCrc, t.headCrc);
    PutU64(b, OffBytesDone, t.bytesDone);
    PutU64(b, OffTotalSize, t.totalSize);
    PutU32(b, OffSessionThreadId, t.sessionThreadId);
    PutU32(b, OffCalcThreadId, t.calcThreadId);
    return out;
}

void DecodeTransferBlock(const char* b, Transfer& t, bool fileImage)
{
    t.state = static_cast<TransferState>(GetI32(b, OffState));
    t.isSend = GetI32(b, OffIsSend);
    t.isFolder = GetI32(b, OffIsFolder);
    t.sizeUnknown = GetI32(b, OffSizeUnknown);
    t.queueTime = GetI32(b, OffQueueTime);
    t.connectTryTime = GetI32(b, OffConnectTryTime);
    t.startTime = GetI32(b, OffStartTime);
    t.stopTime = GetI32(b, OffStopTime);
    const QByteArrayView uidField(b + OffContactUid, ContactUidField - 1);
    const qsizetype zero = uidField.indexOf('\0');
    t.contactUid = (zero < 0 ? uidField : uidField.first(zero)).toByteArray();
    t.percent = GetI32(b, OffPercent);
    t.headCrc = GetU32(b, OffHeadCrc);
    t.bytesDone = GetU64(b, OffBytesDone);
    t.totalSize = GetU64(b, OffTotalSize);
    if (!fileImage) {
        t.sessionThreadId = GetU32(b, OffSessionThreadId);
        t.calcThreadId = GetU32(b, OffCalcThreadId);
    }
}

QByteArray EncodeTransfer(const Transfer& t)
{
    QByteArray out = EncodeTransferBlock(t);
    for (const QString* text : {&t.statusText, &t.senderPath, &t.savedPath}) {
        out.append(text->toUtf8());
        out.append('\0');
    }
    return out;
}

std::optional<Transfer> DecodeTransfer(const QByteArray& image)
{
    if (image.size() < TransferBlockSize)
        return std::nullopt;
    Transfer t = NewTransfer();
    DecodeTransferBlock(image.constData(), t);
    qsizetype pos = TransferBlockSize;
    for (QString* text : {&t.statusText, &t.senderPath, &t.savedPath}) {
        std::optional<QString> read = ReadWireText(image, pos);
        if (!read)
            return std::nullopt;
        *text = std::move(*read);
    }
    return t;
}

QString PathNamePart(const QString& path)
{
    qsizetype end = path.size();
    while (end > 0 && (path.at(end - 1) == u'\\' || path.at(end - 1) == u'/'))
        --end;
    const QStringView trimmed = QStringView(path).first(end);
    const qsizetype cut = qMax(trimmed.lastIndexOf(u'\\'), trimmed.lastIndexOf(u'/'));
    return trimmed.sliced(cut + 1).toString();
}

QString TransferDisplayName(const Transfer& t)
{
    return PathNamePart(t.isSend ? t.senderPath : t.savedPath);
}

QString ContactColumnText(const QString& contactName, const QString& ipAddress)
{
    return QStringLiteral("%1 (%2)").arg(contactName, ipAddress);
}

QString TransferTypeText(const Transfer& t)
{
    return t.isSend ? QStringLiteral("To:") : QStringLiteral("From:");
}

#pragma once

#include <QByteArray>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <optional>

// The state of one transfer row. The value travels in the record's first
// word and may hold anything a peer sent; only 0..7 have a meaning.
enum class TransferState : int32_t {
    Queued = 0,
    Waiting = 1,
    Transferring = 2,
    Completed = 3,
    Failed = 4,
    Canceled = 5,
    ManualRetry = 6,
    Connecting = 7,
};

// The text the properties box shows for a state ("Transfering" is the
// program's own spelling); empty for a value outside 0..7.
QString TransferStateText(TransferState state);

// A folder's relative file paths still to send ('/' between components),
// shared by the row, the folder walk that fills it and the session that
// sends it. Every access holds the lock.
struct EntryList
{
    QMutex lock;
    QStringList paths;
};
using EntryListPtr = std::shared_ptr<EntryList>;

inline EntryListPtr NewEntryList()
{
    return std::make_shared<EntryList>();
}

// One file or folder sent or received. The integer fields are the 108-byte
// block of the byte images; the texts follow it.
struct Transfer
{
    TransferState state = TransferState::Queued;
    int32_t isSend = 0;      // 1: this side sends ("To:"), 0: receives ("From:")
    int32_t isFolder = 0;    // non-zero: a whole folder
    int32_t sizeUnknown = 0; // non-zero while the folder walk still runs
    int32_t queueTime = 0;   // seconds since 1970, 0 = never
    int32_t connectTryTime = 0;
    int32_t startTime = 0;
    int32_t stopTime = 0;
    QByteArray contactUid; // at most 31 bytes: the field is 32 bytes, zero-terminated
    int32_t percent = -1;  // -1 = unknown
    uint32_t headCrc = 0;
    uint64_t bytesDone = 0;
    uint64_t totalSize = 0;
    uint32_t sessionThreadId = 0; // 0 = no session runs it
    uint32_t calcThreadId = 0;    // 0 = no folder walk runs for it

    // Folder only. Copies share the list; the row's owner releases it.
    EntryListPtr entries;

    // The row is bound to the contact whose uid is contactUid. The record
    // never points at the contact itself: whoever needs the contact looks it
    // up by uid, so a removed contact can never be reached through a row.
    bool contactBound = false;

    QString statusText;
    QString senderPath; // opaque on the receiving side: it names a file of the peer
    QString savedPath;
};

inline constexpr int TransferBlockSize = 108;
// The list file keeps the block up to and including totalSize.
inline constexpr int TransferFileBlockSize = 88;
// Texts of a wire image longer than this are refused: a record must stay
// storable in the list file, whose counted texts are bounded.
inline constexpr int MaxTransferTextBytes = 65534;

Transfer NewTransfer();
// Equal to t; the entry list is shared, not copied.
Transfer CopyTransfer(const Transfer& t);

// The 108-byte block (handle slots written as zeros).
QByteArray EncodeTransferBlock(const Transfer& t);
// Fills the block fields from at least 108 bytes (only the first 88 are
// used when fileImage is set). Texts and shared parts are left alone.
void DecodeTransferBlock(const char* block, Transfer& t, bool fileImage = false);

// The wire image: the block, then statusText, senderPath and savedPath,
// each followed by one zero byte.
QByteArray EncodeTransfer(const Transfer& t);
// Refuses images shorter than the block, texts without their zero byte and
// texts longer than MaxTransferTextBytes. Bytes after the third text are
// ignored. The result is unbound and has no entry list.
std::optional<Transfer> DecodeTransfer(const QByteArray& image);

// The name part of a path: after the last '\' or '/', trailing ones removed
// first. Works for local paths and for the peer's opaque paths alike.
QString PathNamePart(const QString& path);
// The name the list shows: of senderPath for a send, of savedPath for a receive.
QString TransferDisplayName(const Transfer& t);
// The "Contact" column: "%s (%s)" with the contact's name and IP address.
QString ContactColumnText(const QString& contactName, const QString& ipAddress);
// "To:" or "From:".
QString TransferTypeText(const Transfer& t);

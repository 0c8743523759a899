#pragma once

#include "records/contact.h"
#include "records/identity.h"
#include "transfers/acceptresume.h"
#include "transfers/entryfolder.h"
#include "transfers/filehandle.h"
#include "transfers/fileprogress.h"
#include "transfers/filesessions.h"
#include "transfers/pathguard.h"
#include "transfers/targetclaim.h"
#include "transfers/transfer.h"
#include "transfers/transferhost.h"
#include "transport/answerspin.h"
#include "transport/packetcipher.h"
#include "transport/sessionthread.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QLoggingCategory>
#include <QMutex>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class CFileSocket;
class CFileThread;
class QFile;
class QTimer;

Q_DECLARE_LOGGING_CATEGORY(lcFileSession)

// Frame types of a file session. S = the side that has the file, R = the
// side that receives it. Integers are little-endian.
enum FileFrameType : uint8_t {
    FileIdentifyOpener = 1,   // opener -> accepter: own identity
    FileIdentifyAccepter = 2, // accepter -> opener: own identity
    FileRequest = 3,          // R -> S: transfer image, offer it again
    FileOffer = 4,            // S -> R: transfer image
    FileAccept = 5,           // R -> S: saved path, zero byte, uint64 offset
    FileSelectingPath = 6,    // R -> S: 4 zero bytes
    FileEntry = 7,            // S -> R: relative path, zero byte, uint64 size, uint32 head crc
    FileEntryReply = 8,       // R -> S: uint64 offset, uint32 disposition
    FileEntriesDone = 9,      // S -> R: 4 zero bytes
    FileSizeKnown = 10,       // S -> R: uint64 total size
    FileStatus = 11,          // either: uint32 session result
};

// Answer to a folder entry (message 8).
enum EntryDisposition : uint32_t {
    EntrySend = 0,        // send from the offset
    EntrySkip = 1,        // skip it
    EntrySkipCounted = 2, // skip it and count it as done
};

// Tells whether a file changed between two looks at it.
struct FileStamp
{
    quint64 inode = 0;
    qint64 size = -1; // -1: not there
    qint64 modifiedNs = 0;
    bool operator==(const FileStamp&) const = default;
};

// One file transfer session on its own thread (kind 2): an outgoing one
// connects to the peer and offers (or asks to be offered) the transfer; an
// accepted one waits for the peer's request or offer. The side that has the
// file streams it raw behind the accept (single file) or behind each entry
// reply (folder); the receiver writes it to ".part" files and renames them
// when complete.
//
// Every end (completion, refusal, cancel, a lost connection, a stall, a
// time-out) is reported to the host exactly once, then the thread ends.
//
// The thread object owns the socket, the timers and the transfer; its work
// is spread over files by job: filethread.cpp (start, frames, identities,
// status, end), filereceive.cpp (the receiver's decision, prompts and single
// file data), filesendpump.cpp (the sending pump and its block pool),
// folderentries.cpp (the folder entry exchange, both sides).
class CFileThread : public SessionWorker
{
    Q_OBJECT
public:
    // Bytes read, scrambled and written in one go; a memory bound, not a
    // wire unit.
    static constexpr qint64 BlockSize = 256 * 1024;
    // The sender tops up the socket's queue to at most this much.
    static constexpr qint64 SendQueueLimit = 1024 * 1024;
    // Enough blocks to fill the queue, with one being written and one spare.
    static constexpr qsizetype BlockPoolSize = SendQueueLimit / BlockSize + 2;

    // An outgoing session.
    CFileThread(std::shared_ptr<FileSessionShared> shared, FileSessionId id,
                FileSessions::Mode mode, const Identity& ownIdentity, const Contact& peer,
                const Transfer& transfer);
    // An accepted session; takes ownership of the connected descriptor.
    CFileThread(std::shared_ptr<FileSessionShared> shared, FileSessionId id, qintptr descriptor);
    ~CFileThread() override;

    FileSessionId id() const { return m_id; }

    void start() override;
    // The end request.
    void end() override;

    // Thread messages.
    void cancel();
    void sizeKnown(uint64_t totalSize);
    void acceptAnswered(const QString& savePath);
    void denyAnswered();
    void savePathAnswered(const QString& path);
    void resumeAnswered(ResumeChoice choice);

private:
    friend class CFileSocket;

    enum class Role { Unknown, Sender, Receiver };

    // From the socket.
    void onConnected();
    void onHandshakeComplete();
    void onFrame(uint8_t type, const QByteArray& plain);
    void onRawData(char* data, qint64 size);
    void onClosed();

    void startAccepted();
    void startOutgoing();

    // Identity exchange, offer and request.
    bool takePeerIdentity(const QByteArray& plain);
    void bindTransfer(Transfer& t) const;
    void onIdentifyOpener(const QByteArray& plain);
    void onIdentifyAccepter(const QByteArray& plain);
    void sendOfferAsSender();
    void onRequest(const QByteArray& plain);
    void onOffer(const QByteArray& plain);

    // The receiver's decision.
    void decideOffer();
    void openAcceptPrompt();
    void pathChosen(const QString& path);
    void askResume(TargetClass code, uint64_t offset);
    void deny();
    void accept();
    bool openPartial(const QString& target, uint64_t& offset, const QString& located = {},
                     const QByteArray& nameInFolder = {});
    bool finishPartial(QString& target, bool replace, TargetClaim& claim,
                       const QByteArray& nameInFolder = {});
    bool finishDueEntry();
    void onSizeKnownMessage(const QByteArray& plain);

    // Sender, data.
    void onAccepted(const QByteArray& plain);
    void onSelectingPath();
    void startSingleData();
    void nextEntry();
    void readNextEntryAhead();
    void startEntryData();
    void onEntryReply(const QByteArray& plain);
    void pump();
    QByteArray& freeBlock();
    void onBytesWritten();
    void singleDataQueued();
    void entryDataSent();
    void removeFirstEntry(const QString& path);
    bool sendSizeUpdate();

    // Receiver, data.
    void onEntry(const QByteArray& plain);
    void onEntriesDone();
    void receiveComplete();

    // Common.
    void progressTick();
    void finalTick();
    void restartStream();
    bool send(uint8_t type, const QByteArray& payload);
    void sendStatus(int code);
    void onStatus(const QByteArray& plain);
    void onKeepAlive();
    void postToSelf(void (CFileThread::*method)());
    void closePromptsIfAny();
    const FolderGuard& folderGuard();
    void endSession();

    std::shared_ptr<FileSessionShared> m_shared;
    const FileSessionId m_id;
    const bool m_opened;
    const bool m_requestMode;
    qintptr m_descriptor = -1;

    Identity m_ownIdentity;
    Contact m_peer;
    Transfer m_transfer;
    Role m_role = Role::Unknown;

    CFileSocket* m_socket = nullptr;
    // The raw stream's generator, restarted from the seed of message 5 and
    // of every message 8.
    PacketCipher m_stream;
    // Ends the session when it fires: the deadline for connecting and
    // identifying, later the linger after the last frame went out.
    QTimer* m_deadlineTimer = nullptr;
    QTimer* m_progressTimer = nullptr;
    QTimer* m_keepAliveTimer = nullptr;
    QTimer* m_entryRetryTimer = nullptr;
    ProgressMeter m_meter;

    bool m_ending = false;
    int m_result = 0;
    bool m_identitySent = false;
    bool m_peerIdentified = false;
    bool m_offerSent = false;
    bool m_accepted = false; // message 5 sent (R) or received (S)

    // Receiver's prompts.
    bool m_acceptPromptOpen = false;
    bool m_promptsShown = false;
    bool m_askingPath = false;
    bool m_askingResume = false;
    TargetClass m_resumeCode = TargetClass::New;
    uint64_t m_resumeOffset = 0;
    ResumePromptContent m_resumeContent;
    bool m_overwriteFolder = false;
    bool m_overwriteChosen = false; // the user answered Overwrite: the target may be replaced

    // The data phase.
    QFile* m_file = nullptr;     // sender: the file read beyond the head
    FileHandle m_partFile;       // receiver: the ".part" file written
    QString m_target;            // receiver: where the current file goes (without ".part")
    TargetClaim m_claim;         // receiver: m_target, claimed while it is written
    EntryFolder m_entryFolder;   // receiver: the folder the current entry goes to
    QByteArray m_targetInFolder; // receiver: m_target's name in it, when it lies there
    // Receiver: an entry whose data is in, to be renamed into place.
    struct DueEntry
    {
        QString target;
        TargetClaim claim;
        QByteArray nameInFolder;
    };
    std::optional<DueEntry> m_due;
    std::optional<FolderGuard> m_folderGuard;
    QList<QByteArray> m_blocks; // sender: blocks for the socket's queue, reused
    QByteArray m_entryHead;     // sender: the entry's first bytes, read with its checksum
    FileHandle m_entryFile;     // sender: the announced entry, open since it was checked
    qsizetype m_headPos = 0;    // sender: the next of them to send
    // Sender: the entry after the announced one, read ahead.
    bool m_nextReady = false;
    QString m_nextPath;
    uint64_t m_nextSize = 0;
    uint32_t m_nextCrc = 0;
    QByteArray m_nextHead;
    FileStamp m_nextStamp;
    FileHandle m_nextFile;
    // Both sides: the peer answers each folder entry (and the data behind it)
    // at once; caught awake, the answer costs no wake-up.
    AnswerSpin m_answerSpin;
    QString m_entryPath; // relative, '/' between components; empty before the first
    uint64_t m_entrySize = 0;
    uint64_t m_entryOffset = 0;
    uint64_t m_entryDone = 0;
    uint32_t m_entryCrc = 0;
    bool m_entryReplyDue = false; // sender: entry announced, waiting for message 8
    bool m_entryCounted = false;  // sender: the announced entry is counted in bytesDone
    bool m_sizeUpdatePending = false;
    uint64_t m_sendRemaining = 0; // sender: bytes of the current file still to queue
    bool m_sendingData = false;
    bool m_singleQueued = false; // sender: the whole file is queued, waiting to drain
};

#include "transfers/filethread.h"

#include "profile/profilefolder.h"
#include "transfers/filesocket.h"
#include "transfers/headcrc.h"
#include "transfers/pathguard.h"
#include "transfers/sessionresult.h"
#include "transfers/transferformat.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>
#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "transfers/filethreaddetail.h"

Q_LOGGING_CATEGORY(lcFileSession, "zephlink.transfers.session")

namespace FileThreadDetail {

int32_t Now()
{
    return static_cast<int32_t>(QDateTime::currentSecsSinceEpoch());
}

QByteArray Uint32Payload(uint32_t value)
{
    QByteArray payload(4, '\0');
    qToLittleEndian<uint32_t>(value, payload.data());
    return payload;
}

QByteArray Uint64Payload(uint64_t value)
{
    QByteArray payload(8, '\0');
    qToLittleEndian<uint64_t>(value, payload.data());
    return payload;
}

// A saved path this side gave out earlier: an absolute local path without
// ".." parts. Anything else is not ours, whatever our list says.
bool IsPlainAbsolutePath(const QString& path)
{
    if (!QDir::isAbsolutePath(path))
        return false;
    const QStringList parts = path.split(u'/');
    return !parts.contains(QStringLiteral(".."));
}

namespace {

FileStamp StampOfStat(const struct stat& st)
{
    return {static_cast<quint64>(st.st_ino), static_cast<qint64>(st.st_size),
            static_cast<qint64>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

} // namespace

// What tells that a file changed: its identity, size and modification time.
FileStamp StampOf(const QString& path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return StampOfStat(st);
}

// A folder entry the sender may read: a readable regular file that really
// lies inside the folder being sent (a link leading out of it is not sent).
// The checks are made on the opened file, which is what gets read.
FileHandle OpenSendableEntry(const FolderGuard& root, const QString& full, FileStamp& stamp)
{
    // O_NONBLOCK: a pipe put there must not hold the session at the open.
    FileHandle file(
        ::open(QFile::encodeName(full).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat st;
    if (!file.isOpen() || ::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        !root.holdsOpen(file.get(), full))
        return FileHandle();
    stamp = StampOfStat(st);
    return file;
}

bool IsGoneOrShorter(const FileHandle& file, uint64_t size)
{
    struct stat st;
    return ::fstat(file.get(), &st) != 0 || st.st_nlink == 0 ||
           static_cast<uint64_t>(st.st_size) < size;
}

bool WriteAll(int fd, const char* data, qint64 size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

} // namespace FileThreadDetail

using namespace FileThreadDetail;

// --- CFileThread ---

CFileThread::CFileThread(std::shared_ptr<FileSessionShared> shared, FileSessionId id,
                         FileSessions::Mode mode, const Identity& ownIdentity, const Contact& peer,
                         const Transfer& transfer)
    : m_shared(std::move(shared)), m_id(id), m_opened(true),
      m_requestMode(mode == FileSessions::Mode::Request), m_ownIdentity(ownIdentity),
      m_peer(CopyContact(peer, false)), m_transfer(CopyTransfer(transfer))
{
    m_transfer.isSend = m_requestMode ? 0 : 1;
    // Not bound to a row until the peer is known.
    m_transfer.sessionThreadId = 0;
}

CFileThread::CFileThread(std::shared_ptr<FileSessionShared> shared, FileSessionId id,
                         qintptr descriptor)
    : m_shared(std::move(shared)), m_id(id), m_opened(false), m_requestMode(false),
      m_descriptor(descriptor), m_transfer(NewTransfer())
{}

CFileThread::~CFileThread()
{
    if (m_descriptor >= 0)
        ::close(static_cast<int>(m_descriptor));
    m_shared->remove(m_id);
}

void CFileThread::start()
{
    FileSessionTimings& timings = m_shared->timings();
    m_deadlineTimer = new QTimer(this);
    m_deadlineTimer->setSingleShot(true);
    m_deadlineTimer->setInterval(timings.connectTimeoutMs.load());
    connect(m_deadlineTimer, &QTimer::timeout, this, &CFileThread::endSession);
    m_progressTimer = new QTimer(this);
    m_progressTimer->setInterval(timings.progressIntervalMs.load());
    connect(m_progressTimer, &QTimer::timeout, this, &CFileThread::progressTick);
    m_keepAliveTimer = new QTimer(this);
    m_keepAliveTimer->setInterval(timings.keepAliveIntervalMs.load());
    connect(m_keepAliveTimer, &QTimer::timeout, this, &CFileThread::onKeepAlive);
    m_entryRetryTimer = new QTimer(this);
    m_entryRetryTimer->setSingleShot(true);
    m_entryRetryTimer->setInterval(timings.entryRetryMs.load());
    connect(m_entryRetryTimer, &QTimer::timeout, this, &CFileThread::nextEntry);

    if (m_opened)
        startOutgoing();
    else
        startAccepted();
}

void CFileThread::end()
{
    endSession();
}

void CFileThread::startOutgoing()
{
    m_socket = new CFileSocket(*this);
    m_socket->SetKey(m_ownIdentity.key.bytes());
    connect(m_socket->socket(), &QTcpSocket::bytesWritten, this, &CFileThread::onBytesWritten);

    const QString host = m_peer.ip.isEmpty() ? m_peer.dns.text() : m_peer.ip.text();
    if (host.isEmpty() || m_peer.port < 1 || m_peer.port > 65535) {
        qCDebug(lcFileSession) << "session" << m_id << "has no address to connect to";
        endSession();
        return;
    }
    qCDebug(lcFileSession) << "session" << m_id << "connecting to" << host << m_peer.port
                           << (m_requestMode ? "to request" : "to offer");
    // Covers a connect that never answers as well as the handshake after it.
    m_deadlineTimer->start();
    m_socket->connectToPeer(host, quint16(m_peer.port), ConnectionHello::File);
}

void CFileThread::startAccepted()
{
    m_ownIdentity = m_shared->ownIdentity();
    m_peer = NewContact();
    m_socket = new CFileSocket(*this);
    m_socket->SetKey(m_ownIdentity.key.bytes());
    connect(m_socket->socket(), &QTcpSocket::bytesWritten, this, &CFileThread::onBytesWritten);
    QByteArray address;
    const bool accepted = m_socket->acceptPeer(std::exchange(m_descriptor, -1), address);
    if (!address.isEmpty())
        m_peer.ip.set(address);
    if (!accepted) {
        endSession();
        return;
    }
    m_deadlineTimer->start();
}

void CFileThread::onConnected()
{
    if (m_ending)
        return;
    // The hello went out; the handshake gets the whole connect time.
    m_deadlineTimer->start();
}

void CFileThread::onHandshakeComplete()
{
    if (m_ending || !m_opened)
        return;
    // The peer's identity is due within the connect time as well.
    m_deadlineTimer->start();
    if (send(FileIdentifyOpener, m_ownIdentity.encode()))
        m_identitySent = true;
}

void CFileThread::onFrame(uint8_t type, const QByteArray& plain)
{
    if (m_ending)
        return;
    // An entry whose data is in waits for its name only behind the reply to
    // the entry after it; anything else that comes puts it in place first.
    if (m_due && type != FileEntry && !finishDueEntry())
        return;
    const bool folderReceiving =
        m_role == Role::Receiver && m_accepted && m_transfer.isFolder && !m_partFile.isOpen();
    switch (type) {
    case FileIdentifyOpener:
        if (!m_opened && !m_peerIdentified)
            return onIdentifyOpener(plain);
        break;
    case FileIdentifyAccepter:
        if (m_opened && m_identitySent && !m_peerIdentified)
            return onIdentifyAccepter(plain);
        break;
    case FileRequest:
        if (!m_opened && m_peerIdentified && m_role == Role::Unknown)
            return onRequest(plain);
        break;
    case FileOffer:
        if (m_peerIdentified && m_role == Role::Unknown && (!m_opened || m_requestMode))
            return onOffer(plain);
        break;
    case FileAccept:
        if (m_role == Role::Sender && m_offerSent && !m_accepted)
            return onAccepted(plain);
        break;
    case FileSelectingPath:
        if (m_role == Role::Sender && m_offerSent && !m_accepted)
            return onSelectingPath();
        break;
    case FileEntry:
        if (folderReceiving)
            return onEntry(plain);
        break;
    case FileEntryReply:
        if (m_role == Role::Sender && m_entryReplyDue)
            return onEntryReply(plain);
        break;
    case FileEntriesDone:
        if (folderReceiving)
            return onEntriesDone();
        break;
    case FileSizeKnown:
        if (m_role == Role::Receiver)
            return onSizeKnownMessage(plain);
        break;
    case FileStatus:
        return onStatus(plain);
    default:
        break;
    }
    qCDebug(lcFileSession) << "session" << m_id << "ignores type" << type << "here";
}

// ---- identity, request and offer ----

bool CFileThread::takePeerIdentity(const QByteArray& plain)
{
    if (!TakeIdentityPayload(plain, m_peer)) {
        qCWarning(lcFileSession) << "session" << m_id << "got an identity of" << plain.size()
                                 << "bytes";
        return false;
    }
    m_peer.ip.set(m_socket->peerAddressText());
    m_peerIdentified = true;
    bindTransfer(m_transfer);
    return true;
}

void CFileThread::bindTransfer(Transfer& t) const
{
    t.contactUid = m_peer.uid.bytes();
    t.contactBound = true;
    t.sessionThreadId = m_id;
}

void CFileThread::onIdentifyOpener(const QByteArray& plain)
{
    if (!takePeerIdentity(plain)) {
        m_socket->Close();
        return;
    }
    m_socket->markIdentified();
    if (!send(FileIdentifyAccepter, m_ownIdentity.encode()))
        return;
    // The request or the offer follows at once; a peer that stays silent is
    // dropped after the connect time.
    m_deadlineTimer->start();
}

void CFileThread::onIdentifyAccepter(const QByteArray& plain)
{
    if (!takePeerIdentity(plain)) {
        m_socket->Close();
        return;
    }
    m_deadlineTimer->stop();
    if (m_requestMode) {
        m_transfer.calcThreadId = 0;
        m_transfer.entries.reset();
        if (!send(FileRequest, EncodeTransfer(m_transfer)))
            return;
        m_keepAliveTimer->start();
        return;
    }
    sendOfferAsSender();
}

void CFileThread::sendOfferAsSender()
{
    m_role = Role::Sender;
    m_transfer.isSend = 1;
    const bool allowed = m_shared->sendingSessionIdentified(m_transfer);
    if (m_ending)
        return;
    if (!allowed) {
        // Nothing about the file goes out, not even its name or size.
        qCInfo(lcFileSession) << "session" << m_id << "refuses to offer" << m_transfer.senderPath;
        sendStatus(SessionResult::Denied);
        return;
    }
    m_transfer.sessionThreadId = m_id;
    if (m_transfer.isFolder && !m_transfer.entries)
        m_transfer.entries = NewEntryList();
    if (send(FileOffer, EncodeTransfer(m_transfer)))
        m_offerSent = true;
}

void CFileThread::onRequest(const QByteArray& plain)
{
    std::optional<Transfer> decoded = DecodeTransfer(plain);
    if (!decoded) {
        qCWarning(lcFileSession) << "session" << m_id << "got an unreadable request";
        m_socket->Close();
        return;
    }
    m_deadlineTimer->stop();
    Transfer t = *decoded;
    t.calcThreadId = 0;
    t.entries.reset();
    t.isSend = 1;
    bindTransfer(t);
    // The peer's copy carries its own row's status; the offer carries the size.
    t.statusText = OfferSizeText(t);
    m_transfer = t;
    sendOfferAsSender();
}

void CFileThread::onOffer(const QByteArray& plain)
{
    std::optional<Transfer> decoded = DecodeTransfer(plain);
    if (!decoded) {
        qCWarning(lcFileSession) << "session" << m_id << "got an unreadable offer";
        m_socket->Close();
        return;
    }
    m_deadlineTimer->stop();
    Transfer t = *decoded;
    bindTransfer(t);
    t.calcThreadId = 0;
    t.entries.reset();
    m_transfer = t;
    m_role = Role::Receiver;
    m_keepAliveTimer->start();
    decideOffer();
}

// ---- common ----

void CFileThread::progressTick()
{
    Transfer& t = m_transfer;
    const ProgressReport report = m_meter.tick(t.bytesDone, t.totalSize, t.sizeUnknown != 0);
    t.statusText = report.statusText;
    t.percent = report.percent;
    if (report.stallTicks >= m_shared->timings().stallTicks.load() && !m_ending) {
        qCInfo(lcFileSession) << "session" << m_id << "made no progress for" << report.stallTicks
                              << "ticks";
        m_progressTimer->stop();
        m_socket->Close();
        m_result = SessionResult::SocketDied;
        postToSelf(&CFileThread::endSession);
    }
    m_shared->progress(t, report.progressText, report.speedText);
}

void CFileThread::restartStream()
{
    // Both sides restart the stream's generator from the seed of the frame
    // just sealed or opened.
    m_stream.Seed(m_socket->cipher().CurrentSeed());
}

bool CFileThread::send(uint8_t type, const QByteArray& payload)
{
    if (m_ending)
        return false;
    if (!m_socket || !m_socket->SendFrame(type, payload)) {
        qCDebug(lcFileSession) << "session" << m_id << "could not send type" << type;
        m_result = SessionResult::TransmitError;
        endSession();
        return false;
    }
    return true;
}

void CFileThread::sendStatus(int code)
{
    if (m_ending)
        return;
    // A refusal ends this side with the same code the peer hears.
    if (m_result == 0)
        m_result = code;
    m_keepAliveTimer->stop();
    m_progressTimer->stop();
    if (!m_socket->SendFrame(FileStatus, Uint32Payload(static_cast<uint32_t>(code)))) {
        m_result = SessionResult::TransmitError;
        endSession();
        return;
    }
    // The peer closes; if it does not, the linger time ends the session.
    m_deadlineTimer->start(m_shared->timings().lingerMs.load());
}

void CFileThread::onStatus(const QByteArray& plain)
{
    if (plain.size() < 4)
        return;
    m_result = static_cast<int>(qFromLittleEndian<uint32_t>(plain.constData()));
    if (m_result == SessionResult::Complete) {
        m_transfer.stopTime = Now();
        progressTick();
    }
    endSession();
}

void CFileThread::onKeepAlive()
{
    if (m_ending)
        return;
    if (!m_socket->SendKeepAlive()) {
        m_result = SessionResult::TransmitError;
        endSession();
    }
}

void CFileThread::cancel()
{
    if (m_ending)
        return;
    m_result = SessionResult::Canceled;
    const bool receiving =
        m_role == Role::Receiver || (m_role == Role::Unknown && !m_transfer.isSend);
    if (!receiving || !m_peerIdentified) {
        endSession();
        return;
    }
    // The receiver tells the sender and drops whatever still arrives.
    m_acceptPromptOpen = m_askingPath = m_askingResume = false;
    closePromptsIfAny();
    sendStatus(SessionResult::Canceled);
}

void CFileThread::onClosed()
{
    if (m_ending)
        return;
    qCDebug(lcFileSession) << "session" << m_id << "connection closed" << m_socket->endReason();
    endSession();
}

void CFileThread::postToSelf(void (CFileThread::*method)())
{
    QMetaObject::invokeMethod(
        this,
        [this, method] {
            if (!m_ending)
                (this->*method)();
        },
        Qt::QueuedConnection);
}

// The folder this session sends, or receives into, with its real location
// looked up once; both are fixed once data flows.
const FolderGuard& CFileThread::folderGuard()
{
    if (!m_folderGuard)
        m_folderGuard.emplace(m_role == Role::Sender ? m_transfer.senderPath
                                                     : m_transfer.savedPath);
    return *m_folderGuard;
}

void CFileThread::closePromptsIfAny()
{
    if (!m_promptsShown)
        return;
    m_promptsShown = false;
    m_shared->closePrompts(m_id);
}

void CFileThread::endSession()
{
    if (m_ending)
        return;
    m_ending = true;
    m_shared->markEnding(m_id);
    for (QTimer* timer : {m_deadlineTimer, m_progressTimer, m_keepAliveTimer, m_entryRetryTimer}) {
        if (timer)
            timer->stop();
    }
    m_sendingData = false;
    Transfer& t = m_transfer;

    // An entry announced here and taken off the list without being counted
    // (skipped) goes to the end of the list, to be tried again next time.
    if (m_role == Role::Sender && t.isFolder && t.entries && !m_entryPath.isEmpty() &&
        !m_entryCounted && m_result != SessionResult::Complete) {
        QMutexLocker locker(&t.entries->lock);
        if (t.entries->paths.isEmpty() || t.entries->paths.first() != m_entryPath) {
            if (!t.entries->paths.contains(m_entryPath))
                t.entries->paths.append(m_entryPath);
        }
    }

    delete std::exchange(m_file, nullptr);
    // An entry whose data is all in is put in place, however the session ends.
    if (m_due) {
        DueEntry due = std::move(*m_due);
        m_due.reset();
        finishPartial(due.target, m_overwriteFolder, due.claim, due.nameInFolder);
    }
    m_partFile.reset();
    m_claim.release();
    if (m_socket)
        m_socket->Close();
    closePromptsIfAny();

    // An interrupted entry does not count; it is resumed by offset next time.
    t.bytesDone = t.bytesDone >= m_entryDone ? t.bytesDone - m_entryDone : 0;
    m_entryDone = 0;

    qCDebug(lcFileSession) << "session" << m_id << "ends with result" << m_result;
    m_shared->sessionEnded(m_result, t);
    finish();
}

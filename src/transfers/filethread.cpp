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
#include <QFileInfo>
#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>
#include <QtEndian>

#include <algorithm>
#include <cstring>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcFileSession, "zephlink.transfers.session")

namespace {

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

// The size text an offer carries in its status text.
QString OfferSizeText(const Transfer& t)
{
    return t.sizeUnknown ? QStringLiteral("Calculating...") : FormatSize(t.totalSize);
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

// What tells that a file changed: its identity, size and modification time.
FileStamp StampOf(const QString& path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return {static_cast<quint64>(st.st_ino), static_cast<qint64>(st.st_size),
            static_cast<qint64>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

// A folder entry the sender may read: a readable regular file that really
// lies inside the folder being sent (a link leading out of it is not sent).
bool IsSendableEntry(const FolderGuard& root, const QString& full)
{
    const QFileInfo info(full);
    return info.isFile() && info.isReadable() && root.contains(full);
}

// Acknowledges what has arrived at once instead of after the delayed-ACK
// time (up to 40 ms). The sender's next small frame waits for that
// acknowledgement (Nagle's algorithm), so without it every folder entry
// whose data ends in a short segment would cost a delayed-ACK wait.
void AcknowledgeNow(const QTcpSocket* socket)
{
    const int one = 1;
    ::setsockopt(static_cast<int>(socket->socketDescriptor()), IPPROTO_TCP, TCP_QUICKACK, &one,
                 sizeof one);
}

} // namespace

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
    m_connectTimer = new QTimer(this);
    m_connectTimer->setSingleShot(true);
    m_connectTimer->setInterval(timings.connectTimeoutMs.load());
    connect(m_connectTimer, &QTimer::timeout, this, &CFileThread::endSession);
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
    m_connectTimer->start();
    m_socket->connectToPeer(host, quint16(m_peer.port), ConnectionHello::File);
}

void CFileThread::startAccepted()
{
    m_ownIdentity = m_shared->ownIdentity();
    m_peer = NewContact();
    m_socket = new CFileSocket(*this);
    m_socket->SetKey(m_ownIdentity.key.bytes());
    connect(m_socket->socket(), &QTcpSocket::bytesWritten, this, &CFileThread::onBytesWritten);
    const qintptr descriptor = std::exchange(m_descriptor, -1);
    if (!m_socket->attach(descriptor)) {
        endSession();
        return;
    }
    m_peer.ip.set(m_socket->peerAddressText());
    if (!m_socket->BeginChallenge()) {
        endSession();
        return;
    }
    m_connectTimer->start();
}

void CFileThread::onConnected()
{
    if (m_ending)
        return;
    // The hello went out; the handshake gets the whole connect time.
    m_connectTimer->start();
}

void CFileThread::onHandshakeComplete()
{
    if (m_ending || !m_opened)
        return;
    // The peer's identity is due within the connect time as well.
    m_connectTimer->start();
    if (send(FileIdentifyOpener, m_ownIdentity.encode()))
        m_identitySent = true;
}

void CFileThread::onFrame(uint8_t type, const QByteArray& plain)
{
    if (m_ending)
        return;
    const bool folderReceiving =
        m_role == Role::Receiver && m_accepted && m_transfer.isFolder && !m_file;
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
    m_connectTimer->start();
}

void CFileThread::onIdentifyAccepter(const QByteArray& plain)
{
    if (!takePeerIdentity(plain)) {
        m_socket->Close();
        return;
    }
    m_connectTimer->stop();
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
    m_connectTimer->stop();
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
    m_connectTimer->stop();
    Transfer t = *decoded;
    bindTransfer(t);
    t.calcThreadId = 0;
    t.entries.reset();
    m_transfer = t;
    m_role = Role::Receiver;
    m_keepAliveTimer->start();
    decideOffer();
}

// ---- the receiver's decision ----

void CFileThread::decideOffer()
{
    Transfer& t = m_transfer;
    bool trusted = false;
    if (!t.savedPath.isEmpty()) {
        trusted = IsPlainAbsolutePath(t.savedPath) && m_shared->savedPathTrusted(t);
        if (m_ending)
            return;
        if (!trusted) {
            // Only a resume this side started may name where the data goes.
            qCInfo(lcFileSession) << "session" << m_id << "ignores the offered saved path"
                                  << t.savedPath;
            t.savedPath.clear();
        }
    }
    const QString folder = trusted ? QString() : m_shared->autosaveFolder(t.contactUid);
    if (m_ending)
        return;
    if (!trusted && folder.isEmpty()) {
        openAcceptPrompt();
        return;
    }
    const OfferDecision decision = DecideOfferAutomatic(t, trusted, folder);
    switch (decision.kind) {
    case OfferDecision::Accept:
        t.savedPath = decision.savedPath;
        t.bytesDone = decision.offset;
        accept();
        break;
    case OfferDecision::Refuse:
        sendStatus(decision.refusalCode);
        break;
    case OfferDecision::Ask:
        openAcceptPrompt();
        break;
    }
}

void CFileThread::openAcceptPrompt()
{
    const Transfer& t = m_transfer;
    const TransferContactInfo info = m_shared->contactInfo(t.contactUid);
    if (m_ending)
        return;
    const QString name = info.found ? info.name : DisplayName(m_peer);
    const QString ip = info.found ? info.ip : m_peer.ip.text();
    m_acceptPromptOpen = true;
    m_promptsShown = true;
    m_shared->askAccept(m_id, AcceptPromptTitle(t), AcceptPromptText(t, name, ip), t);
}

void CFileThread::acceptAnswered(const QString& savePath)
{
    if (m_ending || !m_acceptPromptOpen)
        return;
    // The prompt hides while the user picks a path; the sender shows
    // "Selecting save path...".
    m_acceptPromptOpen = false;
    if (!send(FileSelectingPath, Uint32Payload(0)))
        return;
    if (!savePath.isEmpty()) {
        pathChosen(savePath);
        return;
    }
    m_askingPath = true;
    m_shared->askSavePath(m_id, PathNamePart(m_transfer.senderPath), m_transfer.isFolder != 0);
}

void CFileThread::denyAnswered()
{
    if (m_ending || !(m_acceptPromptOpen || m_askingPath || m_askingResume))
        return;
    deny();
}

void CFileThread::savePathAnswered(const QString& path)
{
    if (m_ending || !m_askingPath)
        return;
    m_askingPath = false;
    if (path.isEmpty()) {
        deny();
        return;
    }
    pathChosen(path);
}

void CFileThread::pathChosen(const QString& path)
{
    Transfer& t = m_transfer;
    QString saved = QDir::cleanPath(t.isFolder ? path : StripPartialSuffix(path));
    t.savedPath = saved;
    const PickedPathOutcome outcome = DecidePickedPath(t, saved);
    if (outcome.accept) {
        t.bytesDone = outcome.offset;
        accept();
        return;
    }
    askResume(outcome.code, outcome.offset);
}

void CFileThread::askResume(TargetClass code, uint64_t offset)
{
    m_resumeCode = code;
    m_resumeOffset = offset;
    m_resumeContent = ResumePrompt(code, m_transfer, offset);
    m_askingResume = true;
    m_promptsShown = true;
    m_shared->askResume(m_id, m_resumeContent);
}

void CFileThread::resumeAnswered(ResumeChoice choice)
{
    if (m_ending || !m_askingResume)
        return;
    Transfer& t = m_transfer;
    // A button the prompt showed disabled cannot have been pressed.
    if ((choice == ResumeChoice::Resume && !m_resumeContent.resumeEnabled) ||
        (choice == ResumeChoice::Overwrite && !m_resumeContent.overwriteEnabled)) {
        qCDebug(lcFileSession) << "session" << m_id << "asks again after a disabled choice";
        m_shared->askResume(m_id, m_resumeContent);
        return;
    }
    m_askingResume = false;
    switch (choice) {
    case ResumeChoice::Resume:
        if (!t.isFolder)
            t.bytesDone = m_resumeOffset;
        accept();
        break;
    case ResumeChoice::Overwrite:
        if (t.isFolder)
            m_overwriteFolder = true;
        else
            t.bytesDone = 0;
        m_overwriteChosen = true;
        accept();
        break;
    case ResumeChoice::Reselect:
        m_overwriteChosen = false;
        m_askingPath = true;
        m_shared->askSavePath(m_id, PathNamePart(t.senderPath), t.isFolder != 0);
        break;
    case ResumeChoice::AutoRename: {
        QString renamed = t.savedPath;
        if (!AutoRename(renamed)) {
            deny();
            break;
        }
        t.savedPath = renamed;
        t.bytesDone = 0;
        accept();
        break;
    }
    case ResumeChoice::Cancel:
    default:
        deny();
        break;
    }
}

void CFileThread::deny()
{
    m_acceptPromptOpen = m_askingPath = m_askingResume = false;
    closePromptsIfAny();
    sendStatus(SessionResult::Denied);
}

// Claims target and opens (or creates) its ".part" file for writing at
// offset, never through a link and with the file locked against every other
// writer. The data goes behind the first offset bytes, so the file is cut to
// the offset when it is longer, and the offset falls back to its length when
// it is shorter.
bool CFileThread::openPartial(const QString& target, uint64_t& offset)
{
    TargetClaim claim = TargetClaim::take(target);
    const QString partial = target + PartialSuffix;
    const int fd = claim.held() ? OpenForWriting(partial, offset == 0) : -1;
    if (fd < 0) {
        qCWarning(lcFileSession) << "session" << m_id << "cannot write" << partial;
        return false;
    }
    auto* file = new QFile(this);
    if (!file->open(fd, QIODevice::ReadWrite | QIODevice::Unbuffered,
                    QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        delete file;
        return false;
    }
    if (offset != 0) {
        const uint64_t length = static_cast<uint64_t>(file->size());
        if (length < offset)
            offset = length;
        else if (length > offset && !file->resize(static_cast<qint64>(offset))) {
            delete file;
            return false;
        }
        if (!file->seek(static_cast<qint64>(offset))) {
            delete file;
            return false;
        }
    }
    m_file = file;
    m_claim = std::move(claim);
    return true;
}

// The partial file is complete: it becomes the target. A file that is at
// the target by now is replaced only when the user chose to overwrite;
// otherwise it stays, and the finished file takes the next free name
// (target is changed to it).
bool CFileThread::finishPartial(QString& target, bool replace)
{
    delete std::exchange(m_file, nullptr);
    const QString partial = target + PartialSuffix;
    bool done = false;
    if (replace) {
        done = QFileInfo(target).isDir() ? false
                                         : ::rename(QFile::encodeName(partial).constData(),
                                                    QFile::encodeName(target).constData()) == 0;
    } else {
        while (!(done = RenameNoReplace(partial, target))) {
            QString renamed = target;
            if (!PathExists(target) || !AutoRename(renamed))
                break;
            qCInfo(lcFileSession) << "session" << m_id << "keeps" << target << "and saves to"
                                  << renamed;
            target = renamed;
        }
    }
    m_claim.release();
    if (!done)
        qCWarning(lcFileSession) << "session" << m_id << "cannot rename" << partial << "to"
                                 << target;
    return done;
}

void CFileThread::accept()
{
    Transfer& t = m_transfer;
    m_keepAliveTimer->stop();
    m_acceptPromptOpen = m_askingPath = m_askingResume = false;
    closePromptsIfAny();

    if (t.isFolder) {
        if (!CreateFolderPath(t.savedPath)) {
            sendStatus(SessionResult::PeerFolderFailed);
            return;
        }
    } else {
        if (t.bytesDone > t.totalSize)
            t.bytesDone = 0;
        m_target = t.savedPath;
        uint64_t offset = t.bytesDone;
        if (!openPartial(m_target, offset)) {
            sendStatus(SessionResult::PeerCannotWrite);
            return;
        }
        t.bytesDone = offset;
    }
    t.isSend = 0;
    m_shared->receiveAccepted(t);
    if (m_ending)
        return;

    if (!t.isFolder && t.totalSize == 0) {
        // Nothing to stream: the empty file is complete at once.
        t.startTime = t.stopTime = Now();
        m_meter.start(0);
        progressTick();
        m_result = SessionResult::Complete;
        if (!finishPartial(m_target, m_overwriteChosen)) {
            m_result = SessionResult::WriteError;
            sendStatus(SessionResult::WriteError);
            return;
        }
        t.savedPath = m_target;
        sendStatus(SessionResult::Complete);
        return;
    }

    QByteArray payload = t.savedPath.toUtf8();
    payload.append('\0');
    payload.append(Uint64Payload(t.bytesDone));
    if (!send(FileAccept, payload))
        return;
    m_accepted = true;
    restartStream();
    t.startTime = Now();
    m_meter.start(t.bytesDone);
    m_progressTimer->start();
    if (!t.isFolder)
        m_socket->ExpectRaw(t.totalSize - t.bytesDone);
}

void CFileThread::onSizeKnownMessage(const QByteArray& plain)
{
    if (plain.size() < 8)
        return;
    Transfer& t = m_transfer;
    t.totalSize = qFromLittleEndian<uint64_t>(plain.constData());
    t.sizeUnknown = 0;
    if (m_acceptPromptOpen) {
        t.statusText = FormatSize(t.totalSize);
        const TransferContactInfo info = m_shared->contactInfo(t.contactUid);
        const QString name = info.found ? info.name : DisplayName(m_peer);
        const QString ip = info.found ? info.ip : m_peer.ip.text();
        m_shared->acceptTextChanged(m_id, AcceptPromptText(t, name, ip));
    }
}

// ---- the receiver's data ----

void CFileThread::onRawData(char* data, qint64 size)
{
    if (m_ending || !m_file || m_result != 0)
        return; // canceled or failed: the rest is dropped
    Transfer& t = m_transfer;
    m_stream.XorStream(reinterpret_cast<uint8_t*>(data), static_cast<size_t>(size));
    if (m_file->write(data, size) != size) {
        qCWarning(lcFileSession) << "session" << m_id << "cannot write received data"
                                 << m_file->errorString();
        m_result = SessionResult::WriteError;
        sendStatus(SessionResult::WriteError);
        return;
    }
    t.bytesDone += static_cast<uint64_t>(size);
    if (!t.isFolder) {
        if (t.bytesDone >= t.totalSize)
            receiveComplete();
        return;
    }
    m_entryDone += static_cast<uint64_t>(size);
    if (m_entryDone >= m_entrySize) {
        // The next entry (7) comes only once the sender hears that this
        // one's data is in.
        AcknowledgeNow(m_socket->socket());
        m_entryDone = 0;
        if (!finishPartial(m_target, m_overwriteFolder)) {
            m_result = SessionResult::WriteError;
            sendStatus(SessionResult::WriteError);
        }
        // The next entry (7) or the end (9) follows.
    }
}

void CFileThread::receiveComplete()
{
    Transfer& t = m_transfer;
    m_progressTimer->stop();
    t.stopTime = Now();
    if (!finishPartial(m_target, m_overwriteChosen)) {
        progressTick();
        m_result = SessionResult::WriteError;
        sendStatus(SessionResult::WriteError);
        return;
    }
    t.savedPath = m_target;
    progressTick();
    m_result = SessionResult::Complete;
    endSession();
}

void CFileThread::onEntry(const QByteArray& plain)
{
    if (m_result == SessionResult::Canceled)
        return;
    Transfer& t = m_transfer;
    const qsizetype zero = plain.indexOf('\0');
    if (zero < 0 || plain.size() < zero + 1 + 12) {
        qCWarning(lcFileSession) << "session" << m_id << "got an unreadable folder entry";
        m_socket->Close();
        return;
    }
    const QByteArray wirePath = plain.left(zero);
    m_entrySize = qFromLittleEndian<uint64_t>(plain.constData() + zero + 1);
    m_entryCrc = qFromLittleEndian<uint32_t>(plain.constData() + zero + 9);
    m_entryPath = QString::fromUtf8(wirePath);
    m_entryDone = 0;
    m_entryOffset = 0;
    m_target.clear();

    uint64_t offset = 0;
    uint32_t disposition = EntrySend;
    const std::optional<QString> relative = SafeRelativePath(wirePath);
    const QString target = relative ? t.savedPath + u'/' + *relative : QString();
    // The entry's folders are made without following a link; a link (or a
    // file) where one is to be is not writable.
    FoldersMade folders = relative ? FoldersMade::Made : FoldersMade::NotAFolder;
    if (relative && relative->contains(u'/'))
        folders = MakeFoldersBelow(t.savedPath, FolderPart(*relative));
    if (folders == FoldersMade::Failed) {
        sendStatus(SessionResult::PeerFolderFailed);
        return;
    }
    if (folders != FoldersMade::Made || !folderGuard().contains(target)) {
        // Nothing is written outside the folder the user chose.
        qCWarning(lcFileSession) << "session" << m_id << "skips the entry path" << m_entryPath;
        disposition = EntrySkip;
    } else {
        QString finalTarget = target;
        const Classification c = Classify(target, m_entrySize, m_entryCrc);
        switch (c.code) {
        case TargetClass::Identical:
            t.bytesDone += m_entrySize;
            disposition = EntrySkipCounted;
            break;
        case TargetClass::Differs:
            if (!AutoRename(finalTarget))
                disposition = EntrySkip;
            break;
        case TargetClass::NotWritable:
            disposition = EntrySkip;
            break;
        case TargetClass::Resumable:
            offset = c.offset;
            break;
        case TargetClass::StalePartial:
        case TargetClass::New:
            break;
        }
        if (m_overwriteFolder)
            offset = 0;
        if (disposition == EntrySend) {
            if (m_entrySize > 0) {
                if (openPartial(finalTarget, offset)) {
                    m_entryDone = offset;
                    t.bytesDone += offset;
                    m_target = finalTarget;
                } else {
                    disposition = EntrySkip;
                }
            } else {
                // An empty entry is made at once, under the same rules.
                TargetClaim claim = TargetClaim::take(finalTarget);
                const int fd = claim.held() ? OpenForWriting(finalTarget, true) : -1;
                disposition = fd >= 0 ? EntrySkipCounted : EntrySkip;
                if (fd >= 0)
                    ::close(fd);
            }
        }
    }
    // Only data that will follow has an offset; a skipped entry counts nothing.
    if (disposition != EntrySend)
        offset = 0;
    m_entryOffset = offset;

    QByteArray reply = Uint64Payload(offset);
    reply.append(Uint32Payload(disposition));
    if (!send(FileEntryReply, reply))
        return;
    // The sender waits for it; no need to wait for the event loop.
    m_socket->socket()->flush();
    restartStream();
    if (disposition == EntrySend)
        m_socket->ExpectRaw(m_entrySize - offset);
}

void CFileThread::onEntriesDone()
{
    m_progressTimer->stop();
    m_transfer.stopTime = Now();
    progressTick();
    m_result = SessionResult::Complete;
    endSession();
}

// ---- the sender ----

void CFileThread::onAccepted(const QByteArray& plain)
{
    const qsizetype zero = plain.indexOf('\0');
    if (zero < 0 || plain.size() < zero + 1 + 8) {
        qCWarning(lcFileSession) << "session" << m_id << "got an unreadable accept";
        m_socket->Close();
        return;
    }
    Transfer& t = m_transfer;
    t.savedPath = QString::fromUtf8(plain.left(zero));
    t.bytesDone = qFromLittleEndian<uint64_t>(plain.constData() + zero + 1);
    m_accepted = true;
    restartStream();
    if (t.isFolder) {
        t.startTime = Now();
        m_meter.start(t.bytesDone);
        m_progressTimer->start();
        postToSelf(&CFileThread::nextEntry);
    } else {
        postToSelf(&CFileThread::startSingleData);
    }
}

void CFileThread::onSelectingPath()
{
    m_transfer.statusText = QStringLiteral("Selecting save path...");
    m_shared->selectingSavePath(m_transfer);
}

void CFileThread::startSingleData()
{
    if (m_ending)
        return;
    Transfer& t = m_transfer;
    auto* file = new QFile(t.senderPath, this);
    if (!file->open(QIODevice::ReadOnly | QIODevice::Unbuffered) ||
        !file->seek(static_cast<qint64>(t.bytesDone))) {
        qCWarning(lcFileSession) << "session" << m_id << "cannot read" << t.senderPath
                                 << file->errorString();
        delete file;
        endSession();
        return;
    }
    m_file = file;
    t.startTime = Now();
    m_meter.start(t.bytesDone);
    m_progressTimer->start();
    // A file that grew since the offer is sent only as far as offered: the
    // receiver expects exactly that many bytes.
    m_sendRemaining = t.totalSize > t.bytesDone ? t.totalSize - t.bytesDone : 0;
    m_sendingData = true;
    pump();
}

// Tops up the socket's queue from the file, one block at a time, until the
// queue holds SendQueueLimit bytes or the file (entry) is all queued; the
// socket's bytesWritten brings us back.
void CFileThread::pump()
{
    if (!m_sendingData || m_ending)
        return;
    Transfer& t = m_transfer;
    bool endOfFile = false;
    while (m_sendRemaining > 0 && m_socket->bytesToWrite() < SendQueueLimit) {
        QByteArray& block = freeBlock();
        const qint64 want = static_cast<qint64>(std::min<uint64_t>(m_sendRemaining, BlockSize));
        block.resize(want);
        qint64 got = -1;
        if (m_headPos < m_entryHead.size()) {
            got = std::min<qint64>(want, m_entryHead.size() - m_headPos);
            memcpy(block.data(), m_entryHead.constData() + m_headPos, static_cast<size_t>(got));
            m_headPos += got;
        } else if (m_file) {
            got = m_file->read(block.data(), want);
        }
        if (got <= 0) {
            endOfFile = true;
            break;
        }
        block.resize(got);
        m_stream.XorStream(reinterpret_cast<uint8_t*>(block.data()), static_cast<size_t>(got));
        // Whole blocks join the socket's queue as they are; a short one (the
        // end of an entry) is copied, so that the next frame goes out in the
        // same write instead of waiting behind it for an acknowledgement.
        const bool queued =
            got == BlockSize ? m_socket->SendAll(block) : m_socket->SendAll(block.constData(), got);
        if (!queued) {
            // The connection has ended; its notification ends the session. A
            // send that failed by itself is a transmit error, one on a
            // connection the peer had already closed is not.
            m_sendingData = false;
            if (t.isFolder && m_socket->endReason() == FramedSocket::EndReason::SendFailed)
                m_result = SessionResult::TransmitError;
            return;
        }
        t.bytesDone += static_cast<uint64_t>(got);
        if (t.isFolder)
            m_entryDone += static_cast<uint64_t>(got);
        m_sendRemaining -= static_cast<uint64_t>(got);
    }
    if (endOfFile && t.isFolder) {
        // The receiver waits for bytes that will never come, and the next
        // frame would be taken for them: the stream cannot be kept in step.
        qCWarning(lcFileSession) << "session" << m_id << "entry" << m_entryPath
                                 << "shrank while being sent";
        m_sendingData = false;
        m_result = SessionResult::TransmitError;
        endSession();
        return;
    }
    if (endOfFile || m_sendRemaining == 0) {
        m_sendingData = false;
        if (t.isFolder)
            entryDataSent(); // the next entry's announcement follows the data
        else
            singleDataQueued();
    }
}

// A block the socket no longer holds (or a new one while all are queued).
// The socket queues our blocks by reference, so a block is reused only once
// it has been written out: no copy per block and no memory churn.
QByteArray& CFileThread::freeBlock()
{
    for (QByteArray& block : m_blocks) {
        if (block.isDetached())
            return block;
    }
    if (m_blocks.size() >= BlockPoolSize) {
        // Everything still queued: a block of its own for this once.
        m_blocks.first() = QByteArray(BlockSize, Qt::Uninitialized);
        return m_blocks.first();
    }
    m_blocks.append(QByteArray(BlockSize, Qt::Uninitialized));
    return m_blocks.last();
}

void CFileThread::onBytesWritten()
{
    if (m_ending)
        return;
    if (m_sendingData)
        pump();
    else if (m_singleQueued && m_socket->bytesToWrite() == 0)
        singleDataQueued();
}

// The file's data is queued; once the socket has handed all of it on, the
// send is over and the session lingers until the receiver closes.
void CFileThread::singleDataQueued()
{
    m_singleQueued = true;
    if (m_socket->bytesToWrite() > 0)
        return;
    m_singleQueued = false;
    Transfer& t = m_transfer;
    m_progressTimer->stop();
    delete std::exchange(m_file, nullptr);
    t.stopTime = Now();
    progressTick();
    if (t.bytesDone == t.totalSize)
        m_result = SessionResult::Complete;
    m_connectTimer->start(m_shared->timings().lingerMs.load());
}

void CFileThread::entryDataSent()
{
    delete std::exchange(m_file, nullptr);
    removeFirstEntry(m_entryPath);
    // The entry is whole now; it is no longer "in progress" at the end.
    m_entryDone = 0;
    m_entryCounted = true;
    postToSelf(&CFileThread::nextEntry);
}

void CFileThread::removeFirstEntry(const QString& path)
{
    EntryListPtr list = m_transfer.entries;
    if (!list)
        return;
    QMutexLocker locker(&list->lock);
    if (!list->paths.isEmpty() && list->paths.first() == path)
        list->paths.removeFirst();
}

void CFileThread::nextEntry()
{
    if (m_ending || m_role != Role::Sender || !m_accepted || m_entryReplyDue || m_sendingData)
        return;
    Transfer& t = m_transfer;
    // Between two entries is the only place a size update may go out.
    if (m_sizeUpdatePending) {
        m_sizeUpdatePending = false;
        if (!sendSizeUpdate())
            return;
    }
    // The list is locked only to look at or take its first path: the
    // window saves and frees lists on the main thread, which must not wait
    // for the disk.
    QString found;
    bool readAhead = false;
    const EntryListPtr list = t.entries;
    for (;;) {
        QString relative;
        {
            QMutexLocker locker(&list->lock);
            if (list->paths.isEmpty())
                break;
            relative = list->paths.first();
        }
        const QString full = t.senderPath + u'/' + relative;
        if (m_nextReady && relative == m_nextPath && StampOf(full) == m_nextStamp) {
            found = relative;
            readAhead = true;
            break;
        }
        if (IsSendableEntry(folderGuard(), full)) {
            found = relative;
            break;
        }
        QMutexLocker locker(&list->lock);
        if (!list->paths.isEmpty() && list->paths.first() == relative)
            list->paths.removeFirst();
    }
    m_nextReady = false;
    if (!found.isEmpty()) {
        const QString full = t.senderPath + u'/' + found;
        m_entryPath = found;
        if (readAhead) {
            m_entrySize = m_nextSize;
            m_entryCrc = m_nextCrc;
            m_entryHead.swap(m_nextHead);
        } else {
            m_entrySize = FileSize(full);
            // The bytes read for the checksum are the first ones to send.
            m_entryCrc = HeadCrc(full, m_entryHead);
        }
        m_entryOffset = 0;
        m_entryDone = 0;
        m_entryCounted = false;
        m_entryReplyDue = true;
        QByteArray payload = WireRelativePath(found);
        payload.append('\0');
        payload.append(Uint64Payload(m_entrySize));
        payload.append(Uint32Payload(m_entryCrc));
        // A failed send ends the connection, and with it the session.
        if (m_socket->SendFrame(FileEntry, payload)) {
            // Out behind the previous entry's data at once, and the entry
            // after this one is read while the receiver prepares its reply.
            m_socket->socket()->flush();
            postToSelf(&CFileThread::readNextEntryAhead);
        }
        return;
    }
    if (t.sizeUnknown) {
        // The folder walk is still filling the list.
        m_entryRetryTimer->start();
        return;
    }
    if (!m_socket->SendFrame(FileEntriesDone, Uint32Payload(0)))
        return;
    m_progressTimer->stop();
    t.stopTime = Now();
    progressTick();
    m_result = SessionResult::Complete;
    m_connectTimer->start(m_shared->timings().lingerMs.load());
}

// Reads the size, checksum and head of the entry that follows the announced
// one, so that it can be announced the moment the current data is queued.
// The next entry uses it only if its path is still first in the list then.
void CFileThread::readNextEntryAhead()
{
    if (m_ending || m_nextReady || !m_entryReplyDue)
        return;
    const Transfer& t = m_transfer;
    QString next;
    {
        EntryListPtr list = t.entries;
        QMutexLocker locker(&list->lock);
        if (list->paths.size() >= 2 && list->paths.first() == m_entryPath)
            next = list->paths.at(1);
    }
    if (next.isEmpty())
        return;
    const QString full = t.senderPath + u'/' + next;
    const QFileInfo info(full);
    if (!IsSendableEntry(folderGuard(), full))
        return; // the next entry takes it off the list
    // Stamped before reading: a change from here on is noticed when the
    // entry is announced, and it is read again then.
    m_nextStamp = StampOf(full);
    m_nextPath = next;
    m_nextSize = static_cast<uint64_t>(info.size());
    m_nextCrc = HeadCrc(full, m_nextHead);
    m_nextReady = m_nextStamp.size >= 0;
}

void CFileThread::onEntryReply(const QByteArray& plain)
{
    if (plain.size() < 12) {
        m_socket->Close();
        return;
    }
    Transfer& t = m_transfer;
    const uint64_t offset = qFromLittleEndian<uint64_t>(plain.constData());
    const uint32_t disposition = qFromLittleEndian<uint32_t>(plain.constData() + 8);
    m_entryReplyDue = false;
    restartStream();
    if (disposition == EntrySend) {
        if (offset > m_entrySize) {
            qCWarning(lcFileSession) << "session" << m_id << "got an offset beyond the entry";
            m_socket->Close();
            return;
        }
        m_entryOffset = m_entryDone = offset;
        t.bytesDone += offset;
        postToSelf(&CFileThread::startEntryData);
        return;
    }
    m_entryOffset = m_entryDone = 0;
    removeFirstEntry(m_entryPath);
    if (disposition == EntrySkipCounted) {
        t.bytesDone += m_entrySize;
        m_entryCounted = true;
    }
    postToSelf(&CFileThread::nextEntry);
}

void CFileThread::startEntryData()
{
    if (m_ending)
        return;
    // The head read with the checksum goes first; the file is opened only
    // for what lies beyond it.
    const auto headSize = static_cast<uint64_t>(m_entryHead.size());
    m_headPos = static_cast<qsizetype>(std::min(m_entryOffset, headSize));
    const uint64_t fileFrom = std::max(m_entryOffset, headSize);
    const QString full = m_transfer.senderPath + u'/' + m_entryPath;
    if (fileFrom >= m_entrySize) {
        // All of it was read with the checksum. An entry removed or cut
        // short since then fails as it would when read now.
        const QFileInfo info(full);
        if (!info.isFile() || static_cast<uint64_t>(info.size()) < m_entrySize) {
            qCWarning(lcFileSession) << "session" << m_id << "entry" << m_entryPath
                                     << "is gone or shorter than announced";
            m_result = SessionResult::TransmitError;
            endSession();
            return;
        }
    } else {
        auto* file = new QFile(full, this);
        // Checked again: the entry may have been replaced by a link since.
        if (!folderGuard().contains(full) ||
            !file->open(QIODevice::ReadOnly | QIODevice::Unbuffered) ||
            !file->seek(static_cast<qint64>(fileFrom))) {
            // The receiver now waits for this entry's data; nothing else can
            // follow in step with it.
            qCWarning(lcFileSession) << "session" << m_id << "cannot read accepted entry" << full;
            delete file;
            m_result = SessionResult::TransmitError;
            endSession();
            return;
        }
        m_file = file;
    }
    m_sendRemaining = m_entrySize - m_entryOffset;
    m_sendingData = true;
    pump();
}

void CFileThread::sizeKnown(uint64_t totalSize)
{
    if (m_ending)
        return;
    Transfer& t = m_transfer;
    t.totalSize = totalSize;
    t.calcThreadId = 0;
    t.sizeUnknown = 0;
    // Before the offer went out the offer carries it; a receiver learns it
    // from its sender only.
    if (m_role != Role::Sender || !m_offerSent || !t.isFolder)
        return;
    if (m_entryPath.isEmpty() && !m_entryReplyDue && !m_sendingData)
        sendSizeUpdate();
    else
        m_sizeUpdatePending = true;
    // The walk has ended: a sender waiting for it to list more entries need
    // not wait out the rest of its second.
    if (m_entryRetryTimer->isActive()) {
        m_entryRetryTimer->stop();
        postToSelf(&CFileThread::nextEntry);
    }
}

bool CFileThread::sendSizeUpdate()
{
    return send(FileSizeKnown, Uint64Payload(m_transfer.totalSize));
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
    m_connectTimer->start(m_shared->timings().lingerMs.load());
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
    for (QTimer* timer : {m_connectTimer, m_progressTimer, m_keepAliveTimer, m_entryRetryTimer}) {
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

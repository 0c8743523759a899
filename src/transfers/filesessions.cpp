#include "transfers/filesessions.h"

#include "transfers/filethread.h"
#include "transfers/transferformat.h"
#include "transport/callblocking.h"

#include <QMetaObject>
#include <QMutexLocker>
#include <QThread>

// --- FileSessionShared ---

FileSessionShared::FileSessionShared(TransferHost& host, ThreadRegistry& registry)
    : m_host(&host), m_hostContext(new QObject), m_registry(registry)
{}

FileSessionShared::~FileSessionShared()
{
    // The last session may end after the directory: the context belongs to
    // the host's thread and is deleted there.
    if (m_hostContext->thread() == QThread::currentThread())
        delete m_hostContext;
    else
        m_hostContext->deleteLater();
}

Identity FileSessionShared::ownIdentity()
{
    return callBlocking(m_hostContext,
                        [this] { return m_host ? m_host->ownIdentity() : Identity{}; });
}

QString FileSessionShared::autosaveFolder(const QByteArray& contactUid)
{
    return callBlocking(m_hostContext,
                        [&] { return m_host ? m_host->autosaveFolder(contactUid) : QString(); });
}

TransferContactInfo FileSessionShared::contactInfo(const QByteArray& contactUid)
{
    return callBlocking(m_hostContext, [&] {
        return m_host ? m_host->contactInfo(contactUid) : TransferContactInfo{};
    });
}

bool FileSessionShared::savedPathTrusted(const Transfer& offer)
{
    return callBlocking(m_hostContext,
                        [&] { return m_host ? m_host->savedPathTrusted(offer) : false; });
}

bool FileSessionShared::sendingSessionIdentified(Transfer& s)
{
    return callBlocking(m_hostContext,
                        [&] { return m_host ? m_host->sendingSessionIdentified(s) : false; });
}

void FileSessionShared::selectingSavePath(const Transfer& s)
{
    callBlocking(m_hostContext, [&] {
        if (m_host)
            m_host->selectingSavePath(s);
    });
}

void FileSessionShared::progress(const Transfer& s, const QString& progressText,
                                 const QString& speedText)
{
    callBlocking(m_hostContext, [&] {
        if (m_host)
            m_host->progress(s, progressText, speedText);
    });
}

void FileSessionShared::receiveAccepted(const Transfer& s)
{
    callBlocking(m_hostContext, [&] {
        if (m_host)
            m_host->receiveAccepted(s);
    });
}

void FileSessionShared::sessionEnded(int result, const Transfer& s)
{
    callBlocking(m_hostContext, [&] {
        if (m_host)
            m_host->sessionEnded(result, s);
    });
}

void FileSessionShared::queued(std::function<void(TransferHost&)> fn)
{
    QMetaObject::invokeMethod(
        m_hostContext,
        [self = shared_from_this(), fn = std::move(fn)] {
            if (self->m_host)
                fn(*self->m_host);
        },
        Qt::QueuedConnection);
}

void FileSessionShared::askAccept(FileSessionId session, const QString& title, const QString& text,
                                  const Transfer& offer)
{
    queued([session, title, text, offer](TransferHost& host) {
        host.askAccept(session, title, text, offer);
    });
}

void FileSessionShared::acceptTextChanged(FileSessionId session, const QString& text)
{
    queued([session, text](TransferHost& host) { host.acceptTextChanged(session, text); });
}

void FileSessionShared::askSavePath(FileSessionId session, const QString& proposedName, bool folder)
{
    queued([session, proposedName, folder](TransferHost& host) {
        host.askSavePath(session, proposedName, folder);
    });
}

void FileSessionShared::askResume(FileSessionId session, const ResumePromptContent& content)
{
    queued([session, content](TransferHost& host) { host.askResume(session, content); });
}

void FileSessionShared::closePrompts(FileSessionId session)
{
    queued([session](TransferHost& host) { host.closePrompts(session); });
}

void FileSessionShared::detachHost()
{
    Q_ASSERT(m_hostContext->thread() == QThread::currentThread());
    m_host = nullptr;
}

FileSessionId FileSessionShared::newSessionId()
{
    FileSessionId id = m_nextId.fetch_add(1);
    while (id == 0)
        id = m_nextId.fetch_add(1);
    return id;
}

void FileSessionShared::add(FileSessionId session, CFileThread* worker)
{
    QMutexLocker locker(&m_mutex);
    m_entries.insert(session, Entry{worker, false});
}

void FileSessionShared::markEnding(FileSessionId session)
{
    QMutexLocker locker(&m_mutex);
    auto it = m_entries.find(session);
    if (it != m_entries.end())
        it->ending = true;
}

void FileSessionShared::remove(FileSessionId session)
{
    QMutexLocker locker(&m_mutex);
    m_entries.remove(session);
}

bool FileSessionShared::post(FileSessionId session, std::function<void(CFileThread&)> fn)
{
    // Under the lock the worker cannot be deleted (its destructor removes the
    // entry first); once posted, Qt drops the call if the worker goes away.
    QMutexLocker locker(&m_mutex);
    auto it = m_entries.constFind(session);
    if (it == m_entries.constEnd() || it->ending)
        return false;
    CFileThread* worker = it->worker;
    return QMetaObject::invokeMethod(
        worker, [worker, fn = std::move(fn)] { fn(*worker); }, Qt::QueuedConnection);
}

bool FileSessionShared::isActive(FileSessionId session) const
{
    QMutexLocker locker(&m_mutex);
    auto it = m_entries.constFind(session);
    return it != m_entries.constEnd() && !it->ending;
}

int FileSessionShared::count() const
{
    QMutexLocker locker(&m_mutex);
    return int(m_entries.size());
}

QList<FileSessionId> FileSessionShared::sessions() const
{
    QMutexLocker locker(&m_mutex);
    return m_entries.keys();
}

// --- FileSessions ---

namespace {

FileSessionId startSession(const std::shared_ptr<FileSessionShared>& shared, FileSessionId id,
                           CFileThread* worker)
{
    // Listed before the thread runs, so the session can be reached from the
    // moment its id is known.
    shared->add(id, worker);
    // A refused registration deletes the worker, which removes its entry.
    const SessionHandle handle =
        startSessionThread(worker, ThreadKind::FileSession, shared->registry());
    return handle.isValid() ? id : 0;
}

FileSessionId startAcceptedSession(const std::shared_ptr<FileSessionShared>& shared,
                                   qintptr descriptor)
{
    const FileSessionId id = shared->newSessionId();
    return startSession(shared, id, new CFileThread(shared, id, descriptor));
}

FileSessionId startOutgoingSession(const std::shared_ptr<FileSessionShared>& shared,
                                   FileSessions::Mode mode, const Identity& ownIdentity,
                                   const Contact& peer, const Transfer& transfer,
                                   std::shared_ptr<void> lease = {})
{
    const FileSessionId id = shared->newSessionId();
    auto* worker = new CFileThread(shared, id, mode, ownIdentity, peer, transfer);
    worker->holdLease(std::move(lease));
    return startSession(shared, id, worker);
}

FileSessionId startRequested(const std::shared_ptr<FileSessionShared>& shared,
                             const DataSessionRequest& request)
{
    if (request.kind == DataSessionRequest::Kind::Browse) {
        qCInfo(lcFileSession) << "browse request from chat session" << request.session
                              << "is not a file session; dropped";
        return 0;
    }
    std::optional<Transfer> transfer = DecodeTransfer(request.transfer);
    if (!transfer) {
        qCWarning(lcFileSession) << "unreadable transfer from chat session" << request.session
                                 << "; dropped";
        return 0;
    }
    const bool send = request.kind == DataSessionRequest::Kind::SendFile;
    if (send && request.peerAsked)
        transfer->statusText = transfer->sizeUnknown ? QStringLiteral("Calculating...")
                                                     : FormatSize(transfer->totalSize);
    return startOutgoingSession(shared,
                                send ? FileSessions::Mode::Offer : FileSessions::Mode::Request,
                                request.ownIdentity, request.contact, *transfer, request.lease);
}

} // namespace

FileSessions::FileSessions(TransferHost& host, ThreadRegistry& registry)
    : m_shared(std::make_shared<FileSessionShared>(host, registry))
{}

FileSessions::~FileSessions()
{
    m_shared->detachHost();
    const QList<FileSessionId> running = m_shared->sessions();
    for (FileSessionId session : running)
        m_shared->post(session, [](CFileThread& file) { file.end(); });
}

void FileSessions::setConnectTimeout(int ms)
{
    m_shared->timings().connectTimeoutMs.store(ms);
}

void FileSessions::setKeepAliveInterval(int ms)
{
    m_shared->timings().keepAliveIntervalMs.store(ms);
}

void FileSessions::setLingerTime(int ms)
{
    m_shared->timings().lingerMs.store(ms);
}

void FileSessions::setProgressInterval(int ms)
{
    m_shared->timings().progressIntervalMs.store(ms);
}

void FileSessions::setEntryRetryInterval(int ms)
{
    m_shared->timings().entryRetryMs.store(ms);
}

void FileSessions::setStallTicks(int ticks)
{
    m_shared->timings().stallTicks.store(ticks);
}

FileSessionId FileSessions::startOutgoing(Mode mode, const Identity& ownIdentity,
                                          const Contact& peer, const Transfer& transfer)
{
    return startOutgoingSession(m_shared, mode, ownIdentity, peer, transfer);
}

FileSessionId FileSessions::startOutgoing(const DataSessionRequest& request)
{
    return startRequested(m_shared, request);
}

DataSessionStarter FileSessions::dataSessionStarter() const
{
    return
        [shared = m_shared](const DataSessionRequest& request) { startRequested(shared, request); };
}

FileSessionId FileSessions::startAccepted(qintptr descriptor)
{
    return startAcceptedSession(m_shared, descriptor);
}

SessionFactory FileSessions::acceptedSessionFactory() const
{
    return
        [shared = m_shared](int, qintptr descriptor) { startAcceptedSession(shared, descriptor); };
}

bool FileSessions::postCancel(FileSessionId session)
{
    return m_shared->post(session, [](CFileThread& file) { file.cancel(); });
}

bool FileSessions::postSizeKnown(FileSessionId session, uint64_t totalSize)
{
    return m_shared->post(session, [totalSize](CFileThread& file) { file.sizeKnown(totalSize); });
}

bool FileSessions::answerAccept(FileSessionId session, const QString& savePath)
{
    return m_shared->post(session,
                          [savePath](CFileThread& file) { file.acceptAnswered(savePath); });
}

bool FileSessions::answerDeny(FileSessionId session)
{
    return m_shared->post(session, [](CFileThread& file) { file.denyAnswered(); });
}

bool FileSessions::answerSavePath(FileSessionId session, const QString& path)
{
    return m_shared->post(session, [path](CFileThread& file) { file.savePathAnswered(path); });
}

bool FileSessions::answerResume(FileSessionId session, ResumeChoice choice)
{
    return m_shared->post(session, [choice](CFileThread& file) { file.resumeAnswered(choice); });
}

bool FileSessions::isActive(FileSessionId session) const
{
    return m_shared->isActive(session);
}

int FileSessions::count() const
{
    return m_shared->count();
}

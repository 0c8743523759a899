#include "transfers/filesessions.h"

#include "transfers/filethread.h"
#include "transfers/transferformat.h"
#include "transport/callblocking.h"

// --- FileSessionShared ---

Identity FileSessionShared::ownIdentity()
{
    return callHost([](TransferHost& host) { return host.ownIdentity(); });
}

QString FileSessionShared::autosaveFolder(const QByteArray& contactUid)
{
    return callHost([&](TransferHost& host) { return host.autosaveFolder(contactUid); });
}

TransferContactInfo FileSessionShared::contactInfo(const QByteArray& contactUid)
{
    return callHost([&](TransferHost& host) { return host.contactInfo(contactUid); });
}

bool FileSessionShared::savedPathTrusted(const Transfer& offer)
{
    return callHost([&](TransferHost& host) { return host.savedPathTrusted(offer); });
}

bool FileSessionShared::sendingSessionIdentified(Transfer& s)
{
    return callHost([&](TransferHost& host) { return host.sendingSessionIdentified(s); });
}

void FileSessionShared::selectingSavePath(const Transfer& s)
{
    callHost([&](TransferHost& host) { host.selectingSavePath(s); });
}

void FileSessionShared::progress(const Transfer& s, const QString& progressText,
                                 const QString& speedText)
{
    callHost([&](TransferHost& host) { host.progress(s, progressText, speedText); });
}

void FileSessionShared::receiveAccepted(const Transfer& s)
{
    callHost([&](TransferHost& host) { host.receiveAccepted(s); });
}

void FileSessionShared::sessionEnded(int result, const Transfer& s)
{
    callHost([&](TransferHost& host) { host.sessionEnded(result, s); });
}

void FileSessionShared::askAccept(FileSessionId session, const QString& title, const QString& text,
                                  const Transfer& offer)
{
    postHost([session, title, text, offer](TransferHost& host) {
        host.askAccept(session, title, text, offer);
    });
}

void FileSessionShared::acceptTextChanged(FileSessionId session, const QString& text)
{
    postHost([session, text](TransferHost& host) { host.acceptTextChanged(session, text); });
}

void FileSessionShared::askSavePath(FileSessionId session, const QString& proposedName, bool folder)
{
    postHost([session, proposedName, folder](TransferHost& host) {
        host.askSavePath(session, proposedName, folder);
    });
}

void FileSessionShared::askResume(FileSessionId session, const ResumePromptContent& content)
{
    postHost([session, content](TransferHost& host) { host.askResume(session, content); });
}

void FileSessionShared::closePrompts(FileSessionId session)
{
    postHost([session](TransferHost& host) { host.closePrompts(session); });
}

// --- FileSessions ---

namespace {

FileSessionId startAcceptedSession(const std::shared_ptr<FileSessionShared>& shared,
                                   qintptr descriptor)
{
    const FileSessionId id = shared->newSessionId();
    return shared->start(id, new CFileThread(shared, id, descriptor), ThreadKind::FileSession);
}

FileSessionId startOutgoingSession(const std::shared_ptr<FileSessionShared>& shared,
                                   FileSessions::Mode mode, const Identity& ownIdentity,
                                   const Contact& peer, const Transfer& transfer,
                                   std::shared_ptr<void> lease = {})
{
    const FileSessionId id = shared->newSessionId();
    auto* worker = new CFileThread(shared, id, mode, ownIdentity, peer, transfer);
    worker->holdLease(std::move(lease));
    return shared->start(id, worker, ThreadKind::FileSession);
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
        transfer->statusText = OfferSizeText(*transfer);
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
        request(session, FileSessionRequest::End, [](CFileThread& file) { file.end(); });
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

bool FileSessions::request(FileSessionId session, FileSessionRequest request,
                           std::function<void(CFileThread&)> fn)
{
    const bool posted = m_shared->post(session, false, std::move(fn));
    if (!posted)
        qCDebug(lcFileSession) << "request" << int(request) << "for session" << session
                               << "not delivered: the session is gone or ending";
    return posted;
}

bool FileSessions::postCancel(FileSessionId session)
{
    return request(session, FileSessionRequest::Cancel, [](CFileThread& file) { file.cancel(); });
}

bool FileSessions::postSizeKnown(FileSessionId session, uint64_t totalSize)
{
    return request(session, FileSessionRequest::SizeKnown,
                   [totalSize](CFileThread& file) { file.sizeKnown(totalSize); });
}

bool FileSessions::answerAccept(FileSessionId session, const QString& savePath)
{
    return request(session, FileSessionRequest::AcceptAnswer,
                   [savePath](CFileThread& file) { file.acceptAnswered(savePath); });
}

bool FileSessions::answerDeny(FileSessionId session)
{
    return request(session, FileSessionRequest::DenyAnswer,
                   [](CFileThread& file) { file.denyAnswered(); });
}

bool FileSessions::answerSavePath(FileSessionId session, const QString& path)
{
    return request(session, FileSessionRequest::SavePath,
                   [path](CFileThread& file) { file.savePathAnswered(path); });
}

bool FileSessions::answerResume(FileSessionId session, ResumeChoice choice)
{
    return request(session, FileSessionRequest::ResumeAnswer,
                   [choice](CFileThread& file) { file.resumeAnswered(choice); });
}

bool FileSessions::isActive(FileSessionId session) const
{
    return m_shared->isActive(session);
}

int FileSessions::count() const
{
    return m_shared->count();
}

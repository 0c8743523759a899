#include "shares/browsesessions.h"

#include "shares/browsethread.h"

namespace {

BrowseId startSession(const std::shared_ptr<BrowseSessionShared>& shared, BrowseId id,
                      CBrowseThread* worker)
{
    return shared->start(id, worker, ThreadKind::ShareBrowsing);
}

BrowseId startAcceptedSession(const std::shared_ptr<BrowseSessionShared>& shared,
                              qintptr descriptor)
{
    const BrowseId id = shared->newSessionId();
    return startSession(shared, id, new CBrowseThread(shared, id, descriptor));
}

BrowseId startRequested(const std::shared_ptr<BrowseSessionShared>& shared,
                        const DataSessionRequest& request)
{
    if (request.kind != DataSessionRequest::Kind::Browse)
        return 0;
    const BrowseId id = shared->newSessionId();
    auto* worker =
        new CBrowseThread(shared, id, request.peerAsked, request.ownIdentity, request.contact);
    worker->holdLease(request.lease);
    return startSession(shared, id, worker);
}

} // namespace

BrowseSessions::BrowseSessions(BrowseHost& host, ThreadRegistry& registry)
    : m_shared(std::make_shared<BrowseSessionShared>(host, registry))
{}

BrowseSessions::~BrowseSessions()
{
    m_shared->detachHost();
    for (BrowseId session : m_shared->sessions())
        m_shared->post(session, false, [](CBrowseThread& browse) { browse.end(); });
}

void BrowseSessions::setStartTimeout(int ms)
{
    m_shared->startTimeoutMs.store(ms);
}

BrowseId BrowseSessions::startOutgoing(const DataSessionRequest& request)
{
    return startRequested(m_shared, request);
}

DataSessionStarter BrowseSessions::dataSessionStarter(DataSessionStarter next) const
{
    return [shared = m_shared, next = std::move(next)](const DataSessionRequest& request) {
        if (request.kind == DataSessionRequest::Kind::Browse)
            startRequested(shared, request);
        else if (next)
            next(request);
    };
}

BrowseId BrowseSessions::startAccepted(qintptr descriptor)
{
    return startAcceptedSession(m_shared, descriptor);
}

SessionFactory BrowseSessions::acceptedSessionFactory() const
{
    return
        [shared = m_shared](int, qintptr descriptor) { startAcceptedSession(shared, descriptor); };
}

bool BrowseSessions::requestStop(BrowseId session)
{
    return m_shared->post(session, false, [](CBrowseThread& b) { b.sendStop(); });
}

bool BrowseSessions::requestRoots(BrowseId session)
{
    return m_shared->post(session, false, [](CBrowseThread& b) { b.sendRoots(); });
}

bool BrowseSessions::requestFolder(BrowseId session, const QByteArray& path)
{
    return m_shared->post(session, false, [path](CBrowseThread& b) { b.sendFolder(path); });
}

bool BrowseSessions::requestSearch(BrowseId session, const QByteArray& pattern,
                                   const QByteArray& path, bool subFolders)
{
    return m_shared->post(session, false, [pattern, path, subFolders](CBrowseThread& b) {
        b.sendSearch(pattern, path, subFolders);
    });
}

bool BrowseSessions::requestSend(BrowseId session, const QByteArray& path)
{
    return m_shared->post(session, false, [path](CBrowseThread& b) { b.sendSendRequest(path); });
}

bool BrowseSessions::end(BrowseId session)
{
    return m_shared->post(session, false, [](CBrowseThread& b) { b.end(); });
}

bool BrowseSessions::isActive(BrowseId session) const
{
    return m_shared->isActive(session);
}

int BrowseSessions::count() const
{
    return m_shared->count();
}

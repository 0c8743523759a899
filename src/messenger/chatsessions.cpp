#include "chatsessions.h"

#include "messenger/chatthread.h"
#include "transport/callblocking.h"

#include <QMetaObject>
#include <QMutexLocker>
#include <QThread>

// --- ChatSessionShared ---

ChatSessionShared::ChatSessionShared(ChatHost& host, ThreadRegistry& registry)
    : m_host(&host), m_hostContext(new QObject), m_registry(registry)
{}

ChatSessionShared::~ChatSessionShared()
{
    // The last session may end after the directory: the context belongs to
    // the host's thread and is deleted there.
    if (m_hostContext->thread() == QThread::currentThread())
        delete m_hostContext;
    else
        m_hostContext->deleteLater();
}

Identity ChatSessionShared::ownIdentity()
{
    return callBlocking(m_hostContext,
                        [this] { return m_host ? m_host->ownIdentity() : Identity{}; });
}

bool ChatSessionShared::peerIdentified(SessionId session, const Contact& contact, bool opened)
{
    // Open for posts in the same main-thread step in which the host binds the
    // contact, so a message sent right after "is Online" is not refused; the
    // posted calls run on the session thread after its identification step.
    return callBlocking(m_hostContext, [&] {
        const bool accepted = m_host ? m_host->peerIdentified(session, contact, opened) : false;
        if (accepted)
            markOpen(session);
        return accepted;
    });
}

void ChatSessionShared::identityUpdated(SessionId session, const Contact& contact)
{
    callBlocking(m_hostContext, [&] {
        if (m_host)
            m_host->identityUpdated(session, contact);
    });
}

int ChatSessionShared::ownSharesFlag(SessionId session)
{
    return callBlocking(m_hostContext, [&] { return m_host ? m_host->ownSharesFlag(session) : 0; });
}

void ChatSessionShared::peerSharesFlag(SessionId session, int flag)
{
    QMetaObject::invokeMethod(
        m_hostContext,
        [self = shared_from_this(), session, flag] {
            if (self->m_host)
                self->m_host->peerSharesFlag(session, flag);
        },
        Qt::QueuedConnection);
}

QByteArray ChatSessionShared::takeQueue(SessionId session)
{
    return callBlocking(m_hostContext,
                        [&] { return m_host ? m_host->takeQueue(session) : QByteArray(); });
}

void ChatSessionShared::messageReceived(SessionId session, const QByteArray& rtf)
{
    callBlocking(m_hostContext, [&] {
        if (m_host)
            m_host->messageReceived(session, rtf);
    });
}

void ChatSessionShared::queueReceived(SessionId session, const QByteArray& rtf)
{
    callBlocking(m_hostContext, [&] {
        if (m_host)
            m_host->queueReceived(session, rtf);
    });
}

void ChatSessionShared::typingReceived(SessionId session, int flag)
{
    QMetaObject::invokeMethod(
        m_hostContext,
        [self = shared_from_this(), session, flag] {
            if (self->m_host)
                self->m_host->typingReceived(session, flag);
        },
        Qt::QueuedConnection);
}

void ChatSessionShared::sessionEnded(SessionId session, const Contact& contact, EndReason reason,
                                     bool opened)
{
    callBlocking(m_hostContext, [&] {
        if (m_host)
            m_host->sessionEnded(session, contact, reason, opened);
    });
}

void ChatSessionShared::detachHost()
{
    Q_ASSERT(m_hostContext->thread() == QThread::currentThread());
    m_host = nullptr;
}

void ChatSessionShared::setDataSessionStarter(DataSessionStarter starter)
{
    QMutexLocker locker(&m_mutex);
    m_starter = std::move(starter);
}

bool ChatSessionShared::startDataSession(const DataSessionRequest& request)
{
    DataSessionStarter starter;
    {
        QMutexLocker locker(&m_mutex);
        starter = m_starter;
    }
    if (!starter)
        return false;
    starter(request);
    return true;
}

SessionId ChatSessionShared::newSessionId()
{
    return m_nextId.fetch_add(1);
}

void ChatSessionShared::add(SessionId session, CChatThread* worker)
{
    QMutexLocker locker(&m_mutex);
    m_entries.insert(session, Entry{worker, false, false});
}

void ChatSessionShared::markEnding(SessionId session)
{
    QMutexLocker locker(&m_mutex);
    auto it = m_entries.find(session);
    if (it != m_entries.end())
        it->ending = true;
}

void ChatSessionShared::markOpen(SessionId session)
{
    QMutexLocker locker(&m_mutex);
    auto it = m_entries.find(session);
    if (it != m_entries.end())
        it->open = true;
}

void ChatSessionShared::remove(SessionId session)
{
    QMutexLocker locker(&m_mutex);
    m_entries.remove(session);
}

bool ChatSessionShared::post(SessionId session, bool requireOpen,
                             std::function<void(CChatThread&)> fn)
{
    // Under the lock the worker cannot be deleted (its destructor removes the
    // entry first); once posted, Qt drops the call if the worker goes away.
    QMutexLocker locker(&m_mutex);
    auto it = m_entries.constFind(session);
    if (it == m_entries.constEnd() || it->ending || (requireOpen && !it->open))
        return false;
    CChatThread* worker = it->worker;
    return QMetaObject::invokeMethod(
        worker, [worker, fn = std::move(fn)] { fn(*worker); }, Qt::QueuedConnection);
}

bool ChatSessionShared::isActive(SessionId session) const
{
    QMutexLocker locker(&m_mutex);
    auto it = m_entries.constFind(session);
    return it != m_entries.constEnd() && !it->ending;
}

int ChatSessionShared::count() const
{
    QMutexLocker locker(&m_mutex);
    return int(m_entries.size());
}

QList<SessionId> ChatSessionShared::sessions() const
{
    QMutexLocker locker(&m_mutex);
    return m_entries.keys();
}

// --- ChatSessions ---

namespace {

SessionId startSession(const std::shared_ptr<ChatSessionShared>& shared, SessionId id,
                       CChatThread* worker)
{
    // Listed before the thread runs, so the session can be reached from the
    // moment its id is known.
    shared->add(id, worker);
    // A refused registration deletes the worker, which removes its entry.
    const SessionHandle handle =
        startSessionThread(worker, ThreadKind::ChatSession, shared->registry());
    return handle.isValid() ? id : 0;
}

SessionId startAcceptedSession(const std::shared_ptr<ChatSessionShared>& shared, qintptr descriptor)
{
    const SessionId id = shared->newSessionId();
    return startSession(shared, id, new CChatThread(shared, id, descriptor));
}

} // namespace

ChatSessions::ChatSessions(ChatHost& host, ThreadRegistry& registry)
    : m_shared(std::make_shared<ChatSessionShared>(host, registry))
{}

ChatSessions::~ChatSessions()
{
    m_shared->detachHost();
    const QList<SessionId> running = m_shared->sessions();
    for (SessionId session : running)
        end(session, EndReason::Disconnect);
}

void ChatSessions::setConnectTimeout(int ms)
{
    m_shared->setConnectTimeoutMs(ms);
}

void ChatSessions::setKeepAliveInterval(int ms)
{
    m_shared->setKeepAliveIntervalMs(ms);
}

void ChatSessions::setDataSessionStarter(DataSessionStarter starter)
{
    m_shared->setDataSessionStarter(std::move(starter));
}

SessionId ChatSessions::startOpened(const Identity& ownIdentity, const Contact& contact)
{
    const SessionId id = m_shared->newSessionId();
    return startSession(m_shared, id, new CChatThread(m_shared, id, ownIdentity, contact));
}

SessionId ChatSessions::startAccepted(qintptr descriptor)
{
    return startAcceptedSession(m_shared, descriptor);
}

SessionFactory ChatSessions::acceptedSessionFactory() const
{
    return
        [shared = m_shared](int, qintptr descriptor) { startAcceptedSession(shared, descriptor); };
}

bool ChatSessions::postMessage(SessionId session, const QByteArray& rtf)
{
    return m_shared->post(session, true, [rtf](CChatThread& chat) { chat.sendMessage(rtf); });
}

bool ChatSessions::postTyping(SessionId session, int flag)
{
    return m_shared->post(session, true, [flag](CChatThread& chat) { chat.sendTyping(flag); });
}

bool ChatSessions::postOwnIdentity(SessionId session, const Identity& ownIdentity)
{
    return m_shared->post(
        session, false, [ownIdentity](CChatThread& chat) { chat.replaceOwnIdentity(ownIdentity); });
}

bool ChatSessions::postSharesFlag(SessionId session, int flag)
{
    return m_shared->post(session, false, [flag](CChatThread& chat) { chat.sendSharesFlag(flag); });
}

bool ChatSessions::end(SessionId session, EndReason reason)
{
    return m_shared->post(session, false, [reason](CChatThread& chat) { chat.endSession(reason); });
}

bool ChatSessions::postSendTransfer(SessionId session, const QByteArray& transfer)
{
    return m_shared->post(session, true,
                          [transfer](CChatThread& chat) { chat.requestSendTransfer(transfer); });
}

bool ChatSessions::postReceiveTransfer(SessionId session, const QByteArray& transfer)
{
    return m_shared->post(session, true,
                          [transfer](CChatThread& chat) { chat.requestReceiveTransfer(transfer); });
}

bool ChatSessions::postBrowse(SessionId session)
{
    return m_shared->post(session, true, [](CChatThread& chat) { chat.requestBrowse(); });
}

bool ChatSessions::isActive(SessionId session) const
{
    return m_shared->isActive(session);
}

int ChatSessions::count() const
{
    return m_shared->count();
}

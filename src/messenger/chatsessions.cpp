#include "chatsessions.h"

#include "messenger/chatthread.h"
#include "transport/callblocking.h"

#include <QMutexLocker>

// --- ChatSessionShared ---

Identity ChatSessionShared::ownIdentity()
{
    return callHost([](ChatHost& host) { return host.ownIdentity(); });
}

bool ChatSessionShared::peerIdentified(SessionId session, const Contact& contact, bool opened)
{
    // Open for posts in the same main-thread step in which the host binds the
    // contact, so a message sent right after "is Online" is not refused; the
    // posted calls run on the session thread after its identification step.
    return callHost([&](ChatHost& host) {
        const bool accepted = host.peerIdentified(session, contact, opened);
        if (accepted)
            markOpen(session);
        return accepted;
    });
}

void ChatSessionShared::identityUpdated(SessionId session, const Contact& contact)
{
    callHost([&](ChatHost& host) { host.identityUpdated(session, contact); });
}

int ChatSessionShared::ownSharesFlag(SessionId session)
{
    return callHost([&](ChatHost& host) { return host.ownSharesFlag(session); });
}

void ChatSessionShared::peerSharesFlag(SessionId session, int flag)
{
    postHost([session, flag](ChatHost& host) { host.peerSharesFlag(session, flag); });
}

QByteArray ChatSessionShared::takeQueue(SessionId session)
{
    return callHost([&](ChatHost& host) { return host.takeQueue(session); });
}

void ChatSessionShared::messageReceived(SessionId session, const QByteArray& rtf)
{
    callHost([&](ChatHost& host) { host.messageReceived(session, rtf); });
}

void ChatSessionShared::queueReceived(SessionId session, const QByteArray& rtf)
{
    callHost([&](ChatHost& host) { host.queueReceived(session, rtf); });
}

void ChatSessionShared::typingReceived(SessionId session, int flag)
{
    postHost([session, flag](ChatHost& host) { host.typingReceived(session, flag); });
}

void ChatSessionShared::sessionEnded(SessionId session, const Contact& contact, EndReason reason,
                                     bool opened)
{
    callHost([&](ChatHost& host) { host.sessionEnded(session, contact, reason, opened); });
}

void ChatSessionShared::setDataSessionStarter(DataSessionStarter starter)
{
    QMutexLocker locker(&m_starterMutex);
    m_starter = std::move(starter);
}

bool ChatSessionShared::startDataSession(const DataSessionRequest& request)
{
    DataSessionStarter starter;
    {
        QMutexLocker locker(&m_starterMutex);
        starter = m_starter;
    }
    if (!starter)
        return false;
    starter(request);
    return true;
}

// --- ChatSessions ---

namespace {

SessionId startAcceptedSession(const std::shared_ptr<ChatSessionShared>& shared, qintptr descriptor)
{
    const SessionId id = shared->newSessionId();
    return shared->start(id, new CChatThread(shared, id, descriptor), ThreadKind::ChatSession);
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
    return m_shared->start(id, new CChatThread(m_shared, id, ownIdentity, contact),
                           ThreadKind::ChatSession);
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

bool ChatSessions::request(SessionId session, ChatRequest request,
                           std::function<void(CChatThread&)> fn)
{
    return m_shared->post(session, NeedsIdentifiedPeer(request), std::move(fn));
}

bool ChatSessions::postMessage(SessionId session, const QByteArray& rtf)
{
    return request(session, ChatRequest::SendMessage,
                   [rtf](CChatThread& chat) { chat.sendMessage(rtf); });
}

bool ChatSessions::postTyping(SessionId session, int flag)
{
    return request(session, ChatRequest::SendTyping,
                   [flag](CChatThread& chat) { chat.sendTyping(flag); });
}

bool ChatSessions::postOwnIdentity(SessionId session, const Identity& ownIdentity)
{
    return request(session, ChatRequest::ReplaceOwnIdentity,
                   [ownIdentity](CChatThread& chat) { chat.replaceOwnIdentity(ownIdentity); });
}

bool ChatSessions::postSharesFlag(SessionId session, int flag)
{
    return request(session, ChatRequest::SendSharesFlag,
                   [flag](CChatThread& chat) { chat.sendSharesFlag(flag); });
}

bool ChatSessions::end(SessionId session, EndReason reason)
{
    return request(session, ChatRequest::End,
                   [reason](CChatThread& chat) { chat.endSession(reason); });
}

bool ChatSessions::postSendTransfer(SessionId session, const QByteArray& transfer)
{
    return request(session, ChatRequest::SendTransfer,
                   [transfer](CChatThread& chat) { chat.requestSendTransfer(transfer); });
}

bool ChatSessions::postReceiveTransfer(SessionId session, const QByteArray& transfer)
{
    return request(session, ChatRequest::ReceiveTransfer,
                   [transfer](CChatThread& chat) { chat.requestReceiveTransfer(transfer); });
}

bool ChatSessions::postBrowse(SessionId session)
{
    return request(session, ChatRequest::Browse, [](CChatThread& chat) { chat.requestBrowse(); });
}

bool ChatSessions::isActive(SessionId session) const
{
    return m_shared->isActive(session);
}

int ChatSessions::count() const
{
    return m_shared->count();
}

#include "chatthread.h"

#include "messenger/chatsocket.h"

#include <QHostAddress>
#include <QTimer>
#include <QtEndian>

#include <unistd.h>

Q_LOGGING_CATEGORY(lcChat, "zephlink.messenger.chat")

namespace {

QByteArray int32Payload(int32_t value)
{
    QByteArray payload(4, '\0');
    qToLittleEndian<int32_t>(value, payload.data());
    return payload;
}

// Texts travel with one zero byte at the end; the text is what precedes the
// first zero.
QByteArray textPayload(const QByteArray& text)
{
    QByteArray payload = text;
    payload.append('\0');
    return payload;
}

QByteArray textOf(const QByteArray& payload)
{
    const qsizetype zero = payload.indexOf('\0');
    return zero < 0 ? payload : payload.left(zero);
}

} // namespace

CChatThread::CChatThread(std::shared_ptr<ChatSessionShared> shared, SessionId id,
                         const Identity& ownIdentity, const Contact& contact)
    : m_shared(std::move(shared)), m_id(id), m_opened(true), m_ownIdentity(ownIdentity),
      m_contact(CopyContact(contact, false))
{
    m_contact.sessionThread = m_id;
}

CChatThread::CChatThread(std::shared_ptr<ChatSessionShared> shared, SessionId id,
                         qintptr descriptor)
    : m_shared(std::move(shared)), m_id(id), m_opened(false), m_descriptor(descriptor)
{}

CChatThread::~CChatThread()
{
    if (m_descriptor >= 0)
        ::close(static_cast<int>(m_descriptor));
    m_shared->remove(m_id);
}

void CChatThread::start()
{
    m_connectTimer = new QTimer(this);
    m_connectTimer->setSingleShot(true);
    m_connectTimer->setInterval(m_shared->connectTimeoutMs());
    connect(m_connectTimer, &QTimer::timeout, this, &CChatThread::onConnectTimeout);
    m_keepAliveTimer = new QTimer(this);
    m_keepAliveTimer->setInterval(m_shared->keepAliveIntervalMs());
    connect(m_keepAliveTimer, &QTimer::timeout, this, &CChatThread::onKeepAlive);

    if (m_opened)
        startOpened();
    else
        startAccepted();
}

void CChatThread::end()
{
    endSession(EndReason::Disconnect);
}

void CChatThread::startAccepted()
{
    m_ownIdentity = m_shared->ownIdentity();
    m_contact = NewContact();
    m_contact.sessionThread = m_id;

    m_socket = new CChatSocket(*this);
    m_socket->SetKey(m_ownIdentity.key.bytes());
    QByteArray address;
    const bool accepted = m_socket->acceptPeer(std::exchange(m_descriptor, -1), address);
    if (!address.isEmpty())
        m_contact.ip.set(address);
    if (!accepted) {
        endSession(EndReason::Disconnect);
        return;
    }
    m_connectTimer->start();
}

void CChatThread::startOpened()
{
    if (m_contact.port < 1 || m_contact.port > 65535) {
        qCDebug(lcChat) << "no valid port to connect to:" << m_contact.port;
        endSession(EndReason::Disconnect);
        return;
    }
    if (!m_contact.dns.isEmpty())
        m_targets << m_contact.dns.text();
    if (!m_contact.ip.isEmpty())
        m_targets << m_contact.ip.text();
    if (!connectNextTarget())
        endSession(EndReason::Disconnect);
}

// The dns name first, the ip when that fails. Each attempt has the connect
// timer to itself, so a name that never answers still leaves the ip its turn.
bool CChatThread::connectNextTarget()
{
    if (m_targetIndex + 1 >= m_targets.size())
        return false;
    ++m_targetIndex;
    if (m_socket) {
        CChatSocket* previous = std::exchange(m_socket, nullptr);
        previous->Close();
        previous->deleteLater();
    }
    m_socket = new CChatSocket(*this);
    m_socket->SetKey(m_ownIdentity.key.bytes());
    m_connectTimer->start();
    qCDebug(lcChat) << "session" << m_id << "connecting to" << m_targets.at(m_targetIndex)
                    << m_contact.port;
    m_socket->connectToPeer(m_targets.at(m_targetIndex), quint16(m_contact.port),
                            ConnectionHello::Chat);
    return true;
}

void CChatThread::onConnected(CChatSocket* socket)
{
    if (socket != m_socket || m_quitting)
        return;
    // The hello went out; the handshake gets the whole connect time.
    m_connected = true;
    m_connectTimer->start();
}

void CChatThread::onConnectTimeout()
{
    if (m_quitting)
        return;
    if (m_opened && !m_connected && connectNextTarget())
        return;
    qCDebug(lcChat) << "session" << m_id << "timed out before identification";
    endSession(EndReason::Disconnect);
}

void CChatThread::onClosed(CChatSocket* socket)
{
    if (socket != m_socket || m_quitting)
        return;
    if (m_opened && !m_connected && connectNextTarget())
        return;
    endSession(EndReason::Disconnect);
}

void CChatThread::onHandshakeComplete(CChatSocket* socket)
{
    if (socket != m_socket || m_quitting || !m_opened)
        return;
    // The peer's identity is due within the connect time as well.
    m_connectTimer->start();
    if (send(ChatIdentifyOpener, m_ownIdentity.encode()))
        m_ownIdentitySent = true;
}

void CChatThread::onFrame(CChatSocket* socket, uint8_t type, const QByteArray& plain)
{
    if (socket != m_socket || m_quitting)
        return;
    if (type == ChatIdentifyOpener || type == ChatIdentifyAcceptor) {
        onIdentify(type, plain);
        return;
    }
    // Nothing but the identity counts before the peer is identified.
    if (!m_open) {
        qCDebug(lcChat) << "session" << m_id << "ignores type" << type << "before identification";
        return;
    }
    switch (type) {
    case ChatIdentityUpdate:
        onIdentityUpdate(plain);
        break;
    case ChatSharesQuery:
    case ChatSharesFlag:
        onSharesFlag(type, plain);
        break;
    case ChatMessage:
        m_shared->messageReceived(m_id, textOf(plain));
        break;
    case ChatQueuedMessages:
        m_shared->queueReceived(m_id, textOf(plain));
        break;
    case ChatTyping:
        if (plain.size() >= 4)
            m_shared->typingReceived(m_id, qFromLittleEndian<int32_t>(plain.constData()));
        break;
    case ChatSendRequest:
    case ChatReceiveRequest:
    case ChatBrowseRequest:
        onDataRequest(type, plain);
        break;
    default:
        qCDebug(lcChat) << "session" << m_id << "ignores unknown type" << type;
        break;
    }
}

bool CChatThread::takePeerIdentity(const QByteArray& plain)
{
    if (!TakeIdentityPayload(plain, m_contact)) {
        qCWarning(lcChat) << "session" << m_id << "got an identity of" << plain.size() << "bytes";
        return false;
    }
    m_contact.ip.set(m_socket->peerAddressText());
    return true;
}

void CChatThread::onIdentify(uint8_t type, const QByteArray& plain)
{
    // Type 1 only reaches the acceptor, type 2 only the opener after its own
    // identity went out, and each only once.
    const bool expected =
        m_opened ? type == ChatIdentifyAcceptor && m_ownIdentitySent : type == ChatIdentifyOpener;
    if (!expected || m_peerIdentified) {
        qCDebug(lcChat) << "session" << m_id << "ignores identity type" << type;
        return;
    }
    if (!takePeerIdentity(plain)) {
        endSession(EndReason::Disconnect);
        return;
    }
    m_peerIdentified = true;
    if (!m_shared->peerIdentified(m_id, m_contact, m_opened)) {
        qCDebug(lcChat) << "session" << m_id << "refused";
        endSession(EndReason::Disconnect);
        return;
    }
    if (m_quitting)
        return;
    m_connectTimer->stop();
    if (!m_opened) {
        m_socket->markIdentified();
        if (!send(ChatIdentifyAcceptor, m_ownIdentity.encode()))
            return;
        m_ownIdentitySent = true;
        becomeOpen();
    } else {
        const int flag = m_shared->ownSharesFlag(m_id);
        if (!send(ChatSharesQuery, int32Payload(flag)))
            return;
        becomeOpen();
    }
}

void CChatThread::becomeOpen()
{
    m_open = true;
    m_shared->markOpen(m_id);
    m_keepAliveTimer->start();
}

void CChatThread::onIdentityUpdate(const QByteArray& plain)
{
    if (plain.size() < Identity::FieldsSize) {
        qCWarning(lcChat) << "session" << m_id << "ignores an identity update of" << plain.size()
                          << "bytes";
        return;
    }
    takePeerIdentity(plain);
    m_shared->identityUpdated(m_id, m_contact);
    deliverQueue();
}

void CChatThread::onSharesFlag(uint8_t type, const QByteArray& plain)
{
    // The opener asks (type 4), the acceptor answers (type 5).
    if (plain.size() < 4 || (type == ChatSharesQuery && m_opened))
        return;
    const int flag = qFromLittleEndian<int32_t>(plain.constData());
    m_contact.peerShares = flag;
    m_shared->peerSharesFlag(m_id, flag);
    if (type == ChatSharesQuery &&
        !send(ChatSharesFlag, int32Payload(m_shared->ownSharesFlag(m_id))))
        return;
    deliverQueue();
}

void CChatThread::deliverQueue()
{
    // A peer that shows itself Offline gets its queue when it comes back.
    if (m_quitting || m_contact.status == StatusOffline)
        return;
    const QByteArray queue = m_shared->takeQueue(m_id);
    if (queue.isEmpty())
        return;
    send(ChatQueuedMessages, textPayload(queue));
}

void CChatThread::onDataRequest(uint8_t type, const QByteArray& plain)
{
    // Only the acceptor asks; the opener makes the connection.
    if (!m_opened) {
        qCDebug(lcChat) << "session" << m_id << "ignores data request" << type
                        << "on an accepted session";
        return;
    }
    switch (type) {
    case ChatSendRequest:
        // The peer sends, so we receive.
        startDataSession(DataSessionRequest::Kind::ReceiveFile, true, plain);
        break;
    case ChatReceiveRequest:
        startDataSession(DataSessionRequest::Kind::SendFile, true, plain);
        break;
    case ChatBrowseRequest:
        startDataSession(DataSessionRequest::Kind::Browse, true, QByteArray());
        break;
    default:
        break;
    }
}

void CChatThread::startDataSession(DataSessionRequest::Kind kind, bool peerAsked,
                                   const QByteArray& transfer)
{
    DataSessionRequest request;
    request.kind = kind;
    request.peerAsked = peerAsked;
    request.transfer = transfer;
    request.session = m_id;
    request.contact = CopyContact(m_contact, false);
    request.ownIdentity = m_ownIdentity;
    if (peerAsked) {
        // The peer decides how many of these it asks for: a bounded number
        // runs, a bounded number waits, the rest is dropped.
        if (m_peerDataRunning < MaxPeerDataSessions)
            startPeerDataSession(std::move(request));
        else if (int(m_peerDataWaiting.size()) < MaxWaitingPeerDataSessions)
            m_peerDataWaiting.push_back(std::move(request));
        else
            qCWarning(lcChat) << "session" << m_id << "drops data request" << int(kind)
                              << ": too many requests from the peer";
        return;
    }
    if (!m_shared->startDataSession(request))
        qCWarning(lcChat) << "session" << m_id << "has no way to start data session" << int(kind)
                          << "; request dropped";
}

void CChatThread::startPeerDataSession(DataSessionRequest request)
{
    ++m_peerDataRunning;
    // Given back when the data session (or the dropped request) goes away,
    // on whatever thread that happens.
    request.lease = std::shared_ptr<void>(nullptr, [shared = m_shared, id = m_id](void*) {
        shared->post(id, false, [](CChatThread& chat) { chat.peerDataSessionEnded(); });
    });
    if (!m_shared->startDataSession(request))
        qCWarning(lcChat) << "session" << m_id << "has no way to start data session"
                          << int(request.kind) << "; request dropped";
}

void CChatThread::peerDataSessionEnded()
{
    --m_peerDataRunning;
    if (m_quitting || m_peerDataWaiting.empty() || m_peerDataRunning >= MaxPeerDataSessions)
        return;
    DataSessionRequest next = std::move(m_peerDataWaiting.front());
    m_peerDataWaiting.pop_front();
    startPeerDataSession(std::move(next));
}

bool CChatThread::send(uint8_t type, const QByteArray& payload)
{
    if (m_quitting)
        return false;
    if (!m_socket || !m_socket->SendFrame(type, payload)) {
        qCDebug(lcChat) << "session" << m_id << "could not send type" << type;
        endSession(EndReason::Disconnect);
        return false;
    }
    return true;
}

void CChatThread::onKeepAlive()
{
    if (m_quitting)
        return;
    if (!m_socket || !m_socket->SendKeepAlive())
        endSession(EndReason::Disconnect);
}

void CChatThread::endSession(EndReason reason)
{
    if (m_quitting)
        return;
    m_quitting = true;
    m_shared->markEnding(m_id);
    if (m_connectTimer)
        m_connectTimer->stop();
    if (m_keepAliveTimer)
        m_keepAliveTimer->stop();
    if (m_socket)
        m_socket->Close();
    qCDebug(lcChat) << "session" << m_id << "ends, reason" << int(reason);
    m_shared->sessionEnded(m_id, m_contact, reason, m_opened);
    finish();
}

void CChatThread::sendMessage(const QByteArray& rtf)
{
    if (!m_quitting && m_open)
        send(ChatMessage, textPayload(rtf));
}

void CChatThread::sendTyping(int flag)
{
    if (!m_quitting && m_open)
        send(ChatTyping, int32Payload(flag));
}

void CChatThread::replaceOwnIdentity(const Identity& ownIdentity)
{
    if (m_quitting)
        return;
    m_ownIdentity = ownIdentity;
    // Before our first identity went out, that one carries the change.
    if (m_ownIdentitySent)
        send(ChatIdentityUpdate, m_ownIdentity.encode());
}

void CChatThread::sendSharesFlag(int flag)
{
    // Before identification the shares exchange asks the host anyway.
    if (!m_quitting && m_open)
        send(ChatSharesFlag, int32Payload(flag));
}

void CChatThread::requestSendTransfer(const QByteArray& transfer)
{
    if (m_quitting)
        return;
    if (m_opened)
        startDataSession(DataSessionRequest::Kind::SendFile, false, transfer);
    else
        send(ChatSendRequest, transfer);
}

void CChatThread::requestReceiveTransfer(const QByteArray& transfer)
{
    if (m_quitting)
        return;
    if (m_opened)
        startDataSession(DataSessionRequest::Kind::ReceiveFile, false, transfer);
    else
        send(ChatReceiveRequest, transfer);
}

void CChatThread::requestBrowse()
{
    if (m_quitting)
        return;
    if (m_opened)
        startDataSession(DataSessionRequest::Kind::Browse, false, QByteArray());
    else
        send(ChatBrowseRequest, int32Payload(0));
}

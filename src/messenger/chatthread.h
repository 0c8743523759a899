#pragma once

#include "messenger/chathost.h"
#include "messenger/chatsessions.h"
#include "transport/sessionthread.h"

#include <QByteArray>
#include <QHash>
#include <QLoggingCategory>
#include <QMutex>
#include <QObject>
#include <QStringList>

#include <atomic>
#include <deque>
#include <memory>

class CChatSocket;
class CChatThread;
class QTimer;

Q_DECLARE_LOGGING_CATEGORY(lcChat)

// Frame types of a chat session. Integers are little-endian int32; texts end
// with one zero byte.
enum ChatFrameType : uint8_t {
    ChatIdentifyOpener = 1,   // opener -> acceptor, once: own identity
    ChatIdentifyAcceptor = 2, // acceptor -> opener, once: own identity
    ChatIdentityUpdate = 3,   // either: own identity changed
    ChatSharesQuery = 4,      // opener -> acceptor, once: own shares flag
    ChatSharesFlag = 5,       // either: own shares flag
    ChatMessage = 6,          // either: RTF text
    ChatQueuedMessages = 7,   // either: queued RTF text
    ChatTyping = 8,           // either: typing flag
    ChatSendRequest = 9,      // acceptor -> opener: a transfer it wants to send
    ChatReceiveRequest = 10,  // acceptor -> opener: a transfer it wants to receive
    ChatBrowseRequest = 11,   // acceptor -> opener: int32 0, browse its shares
};

// One chat session: the standing connection with one contact, either opened
// by us (connect, hello, responder in the key handshake, identity type 1) or
// accepted through the listener (challenger, waits for type 1, answers with
// type 2). Thread kind 5.
//
// Every end (our own end(), the peer closing, a failed send, a refused
// identification, the connect timer) is reported to the host exactly once,
// then the thread ends.
class CChatThread : public SessionWorker
{
    Q_OBJECT
public:
    // Data sessions the peer asked for (types 9, 10, 11) that may run at once;
    // further requests wait, up to MaxWaitingPeerDataSessions, in order.
    // Beyond that they are dropped.
    static constexpr int MaxPeerDataSessions = 8;
    static constexpr int MaxWaitingPeerDataSessions = 32;

    // An opened session.
    CChatThread(std::shared_ptr<ChatSessionShared> shared, SessionId id,
                const Identity& ownIdentity, const Contact& contact);
    // An accepted session; takes ownership of the connected descriptor.
    CChatThread(std::shared_ptr<ChatSessionShared> shared, SessionId id, qintptr descriptor);
    ~CChatThread() override;

    SessionId id() const { return m_id; }
    bool isOpened() const { return m_opened; }

    void start() override;
    // The end request with reason 0.
    void end() override;

    // The thread messages.
    void endSession(EndReason reason);
    void sendMessage(const QByteArray& rtf);
    void sendTyping(int flag);
    void replaceOwnIdentity(const Identity& ownIdentity);
    void sendSharesFlag(int flag);
    void requestSendTransfer(const QByteArray& transfer);
    void requestReceiveTransfer(const QByteArray& transfer);
    void requestBrowse();

private:
    friend class CChatSocket;

    // From the socket; ignored unless it is the current one.
    void onConnected(CChatSocket* socket);
    void onHandshakeComplete(CChatSocket* socket);
    void onFrame(CChatSocket* socket, uint8_t type, const QByteArray& plain);
    void onClosed(CChatSocket* socket);

    void startAccepted();
    void startOpened();
    bool connectNextTarget();
    void onConnectTimeout();
    void onKeepAlive();

    bool takePeerIdentity(const QByteArray& plain);
    void onIdentify(uint8_t type, const QByteArray& plain);
    void onIdentityUpdate(const QByteArray& plain);
    void onSharesFlag(uint8_t type, const QByteArray& plain);
    void onDataRequest(uint8_t type, const QByteArray& plain);
    void startPeerDataSession(DataSessionRequest request);
    void peerDataSessionEnded();
    void becomeOpen();
    void deliverQueue();
    bool send(uint8_t type, const QByteArray& payload);
    void startDataSession(DataSessionRequest::Kind kind, bool peerAsked,
                          const QByteArray& transfer);

    std::shared_ptr<ChatSessionShared> m_shared;
    const SessionId m_id;
    const bool m_opened;
    qintptr m_descriptor = -1;

    Identity m_ownIdentity;
    // The peer as we know it: bytes 0..1597 as last received, ip = the
    // address the connection uses.
    Contact m_contact;

    CChatSocket* m_socket = nullptr;
    QTimer* m_connectTimer = nullptr;
    QTimer* m_keepAliveTimer = nullptr;
    QStringList m_targets; // opened: dns name (when set), then ip
    int m_targetIndex = -1;
    bool m_connected = false;

    bool m_ownIdentitySent = false;
    bool m_peerIdentified = false;
    bool m_open = false;
    bool m_quitting = false;

    int m_peerDataRunning = 0;
    std::deque<DataSessionRequest> m_peerDataWaiting;
};

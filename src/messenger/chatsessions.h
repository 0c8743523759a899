#pragma once

#include "messenger/chathost.h"
#include "transport/parsethread.h"
#include "transport/threadregistry.h"

#include <QByteArray>
#include <QtGlobal>

#include <functional>
#include <memory>

class ChatSessionShared;

// A file or browse connection a chat session wants opened. Data connections
// are always opened by the side that opened the chat session, so this is
// asked for on that side only: by our own user (the transfers window or the
// browser posted the request to an opened session) or by the peer, which
// asked over the chat connection (types 9, 10, 11) because it accepted the
// chat session and may not connect itself.
struct DataSessionRequest
{
    enum class Kind {
        SendFile,    // a sending file session that connects to the peer
        ReceiveFile, // a receiving file session that connects to the peer
        Browse,      // a share-browsing session that connects to the peer
    };

    Kind kind = Kind::Browse;
    // True when the peer asked for it over the chat connection. For a
    // SendFile the peer asked for, the receiver of the request sets the
    // transfer's status text ("Calculating..." while its size is unknown, else
    // its formatted total size) before starting the session.
    bool peerAsked = false;
    // The transfer's wire image (empty for Browse), exactly as it travelled
    // or was posted.
    QByteArray transfer;
    // The chat session the request came from.
    SessionId session = 0;
    // The peer as the chat session knows it (identity as last received, ip =
    // the address the chat connection uses), without queue and shares.
    Contact contact;
    // The own identity the chat session holds.
    Identity ownIdentity;
    // Set for requests the peer asked for: a place among the data sessions
    // the peer may have running at once. The starter keeps it with the
    // session it starts (SessionWorker::holdLease) until that session ends;
    // dropping the request gives the place back.
    std::shared_ptr<void> lease;
};

// Starts the data session for a request. Called on the chat session's
// thread; it must not block for long, and it owns nothing of the chat
// session (everything it needs is in the request). Set once at start-up by
// the transfers and shares code.
using DataSessionStarter = std::function<void(const DataSessionRequest&)>;

// The chat sessions of one host (the messenger controller): starts them and
// reaches them by SessionId from any thread.
//
// Create it on the host's thread; every call into the host is made on that
// thread (blocking the session while the host works, except for the shares
// flag and typing reports). The post functions are the controller's thread
// messages: they return false when the session is gone or ending, and then
// the caller keeps (queues) or drops what it wanted to send.
//
// Destroying the directory tells every session to end; from then on their
// reports reach nobody.
class ChatSessions
{
public:
    static constexpr int ConnectTimeoutMs = 30000;
    static constexpr int KeepAliveIntervalMs = 5000;

    explicit ChatSessions(ChatHost& host, ThreadRegistry& registry = ThreadRegistry::instance());
    ~ChatSessions();
    ChatSessions(const ChatSessions&) = delete;
    ChatSessions& operator=(const ChatSessions&) = delete;

    // For sessions started afterwards.
    void setConnectTimeout(int ms);
    void setKeepAliveInterval(int ms);
    // Data sessions asked for by chat sessions; without a starter the request
    // is logged and dropped.
    void setDataSessionStarter(DataSessionStarter starter);

    // Connects to the contact (its dns name first when it has one, then its
    // ip) on its port. ownIdentity is the identity sent to the peer; its
    // password field carries the password we hold for that peer. 0 when the
    // program is closing (no session runs then).
    SessionId startOpened(const Identity& ownIdentity, const Contact& contact);
    // Takes over an accepted connection whose hello named a chat session (the
    // descriptor is closed when no session can run). Callable from any thread.
    SessionId startAccepted(qintptr descriptor);
    // startAccepted as the listener's session factory for hello kind 0; the
    // factory keeps the directory's shared state alive by itself.
    SessionFactory acceptedSessionFactory() const;

    // 1631: sends the chat message (RTF text; the zero byte is added).
    // False also before the peer is identified: the caller queues it.
    bool postMessage(SessionId session, const QByteArray& rtf);
    // 1625: sends the typing flag; false before the peer is identified.
    bool postTyping(SessionId session, int flag);
    // 1634: the session keeps the new own identity and sends it (type 3) once
    // it has sent its first identity; before that the first one carries it.
    bool postOwnIdentity(SessionId session, const Identity& ownIdentity);
    // 1636: sends the own shares flag for this peer (type 5) once identified.
    bool postSharesFlag(SessionId session, int flag);
    // 1425: ends the session; the host hears of it with this reason.
    bool end(SessionId session, EndReason reason);

    // 1640: a transfer to send, as its wire image (the caller sets its status
    // text first). Accepted session: asks the peer to connect back (type 9);
    // opened session: the data session starter runs.
    bool postSendTransfer(SessionId session, const QByteArray& transfer);
    // 1641: a transfer to receive (type 10 / starter).
    bool postReceiveTransfer(SessionId session, const QByteArray& transfer);
    // 1654: browse the peer's shares (type 11 / starter).
    bool postBrowse(SessionId session);

    // Running and not ending.
    bool isActive(SessionId session) const;
    // Sessions whose threads have not ended yet.
    int count() const;

private:
    std::shared_ptr<ChatSessionShared> m_shared;
};

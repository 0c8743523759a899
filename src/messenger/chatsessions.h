#pragma once

#include "messenger/chathost.h"
#include "transport/parsethread.h"
#include "transport/sessiondirectory.h"
#include "transport/threadregistry.h"

#include <QByteArray>
#include <QtGlobal>

#include <atomic>
#include <functional>
#include <memory>

class CChatThread;
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

// What the controller asks of a chat session (a thread message each).
enum class ChatRequest {
    SendMessage,        // send a chat message (type 6); the caller queues it when refused
    SendTyping,         // send the own typing flag (type 8)
    ReplaceOwnIdentity, // keep the new own identity and send it (type 3) once the
                        // first identity went out; before that the first carries it
    SendSharesFlag,     // send the own shares flag for this peer (type 5)
    End,                // end the session; the host hears of it with the given reason
    SendTransfer,       // a transfer to send: accepted session asks the peer to
                        // connect back (type 9), opened session starts the data session
    ReceiveTransfer,    // a transfer to receive (type 10, or the data session)
    Browse,             // browse the peer's shares (type 11, or the data session)
};

// True for requests that only make sense once the peer is identified.
constexpr bool NeedsIdentifiedPeer(ChatRequest request)
{
    switch (request) {
    case ChatRequest::ReplaceOwnIdentity:
    case ChatRequest::SendSharesFlag:
    case ChatRequest::End:
        return false;
    default:
        return true;
    }
}

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

    // The requests below (see ChatRequest) return false when the session is
    // gone or ending, or, for those that need it, not yet identified.
    bool postMessage(SessionId session, const QByteArray& rtf);
    bool postTyping(SessionId session, int flag);
    bool postOwnIdentity(SessionId session, const Identity& ownIdentity);
    bool postSharesFlag(SessionId session, int flag);
    bool end(SessionId session, EndReason reason);
    // The transfer as its wire image; the caller sets its status text first.
    bool postSendTransfer(SessionId session, const QByteArray& transfer);
    bool postReceiveTransfer(SessionId session, const QByteArray& transfer);
    bool postBrowse(SessionId session);

    // Running and not ending.
    bool isActive(SessionId session) const;
    // Sessions whose threads have not ended yet.
    int count() const;

private:
    bool request(SessionId session, ChatRequest request, std::function<void(CChatThread&)> fn);

    std::shared_ptr<ChatSessionShared> m_shared;
};

// What the chat sessions of one directory share: the directory, the way to
// their host and the settings for new sessions. Thread-safe.
class ChatSessionShared : public SessionDirectory<ChatHost, CChatThread, SessionId>
{
public:
    using SessionDirectory::SessionDirectory;

    // Calls into the host, made from a session thread. The blocking ones wait
    // for the host's thread; once the host is detached they return defaults.
    Identity ownIdentity();
    // Opens the session for requests that need an identified peer in the
    // same host step in which the host accepts the peer.
    bool peerIdentified(SessionId session, const Contact& contact, bool opened);
    void identityUpdated(SessionId session, const Contact& contact);
    int ownSharesFlag(SessionId session);
    void peerSharesFlag(SessionId session, int flag); // queued
    QByteArray takeQueue(SessionId session);
    void messageReceived(SessionId session, const QByteArray& rtf);
    void queueReceived(SessionId session, const QByteArray& rtf);
    void typingReceived(SessionId session, int flag); // queued
    void sessionEnded(SessionId session, const Contact& contact, EndReason reason, bool opened);

    // Settings for new sessions.
    int connectTimeoutMs() const { return m_connectTimeoutMs.load(); }
    int keepAliveIntervalMs() const { return m_keepAliveIntervalMs.load(); }
    void setConnectTimeoutMs(int ms) { m_connectTimeoutMs.store(ms); }
    void setKeepAliveIntervalMs(int ms) { m_keepAliveIntervalMs.store(ms); }
    void setDataSessionStarter(DataSessionStarter starter);
    // False when no starter is set.
    bool startDataSession(const DataSessionRequest& request);

private:
    std::atomic<int> m_connectTimeoutMs{ChatSessions::ConnectTimeoutMs};
    std::atomic<int> m_keepAliveIntervalMs{ChatSessions::KeepAliveIntervalMs};
    QMutex m_starterMutex;
    DataSessionStarter m_starter;
};

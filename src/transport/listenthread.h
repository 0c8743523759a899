#pragma once

#include "transport/handshakesession.h"
#include "transport/parsethread.h"
#include "transport/sessionthread.h"

#include <QByteArray>
#include <QHostAddress>
#include <QString>

#include <array>
#include <atomic>

class CListenSocket;

// Notices the listener gives the main window (posted): code, argument.
namespace ListenNotice {

enum Code {
    SocketLayerFailed = 0, // argument: the port
    PortInUse = 1,         // argument: the port
};
enum class Icon { Error, Warning };

inline constexpr char SocketLayerFailedText[] =
    "AfxSocketInit Failed, Windows Sockets could not Initalize!\nYou must restart the program.";
inline constexpr char SocketLayerFailedCaption[] = "AfxSocketInit Failed!";
inline constexpr char PortInUseText[] = "Failed to listen on port %d, it is already in use.";
inline constexpr char PortInUseCaption[] = "Listen Port In Use";

// The message box for a listener notice, the port filled in; an empty text
// for other codes.
QString text(int code, int argument);
QString caption(int code);
Icon icon(int code);

} // namespace ListenNotice

// The thread kind a session started for this hello kind registers with.
ThreadKind threadKindForHello(int helloKind);

// Listens on the own data port and gives every accepted connection a
// classifier thread of its own, which starts the matching session.
//
// Thread messages: start(), changePort(), end().
// From another thread post them through the SessionHandle returned by
// startSessionThread(listener, ThreadKind::Listener).
class CListenThread : public SessionWorker
{
    Q_OBJECT
public:
    static constexpr int ListenBacklog = 5;

    explicit CListenThread(quint16 port, ThreadRegistry& registry = ThreadRegistry::instance());
    ~CListenThread() override;

    // Configuration, before the thread starts.
    // The session for connections whose hello names `kind`; kinds without a
    // factory get a HandshakeOnlySession keyed with the default key.
    void setSessionFactory(ConnectionHello::Kind kind, SessionFactory factory);
    void setDefaultSessionKey(const QByteArray& key);
    void setListenAddress(const QHostAddress& address);
    void setClassifierTimeout(int ms);
    // How long a connection of a kind without a factory is kept.
    void setHandshakeOnlyLifetime(int ms);
    // Whether the socket layer is usable; always on this platform, replaceable
    // so the failure path can be exercised.
    void setSocketLayerCheck(std::function<bool()> check);

    // The port actually listened on (0 while not listening). Thread-safe.
    quint16 boundPort() const { return m_boundPort.load(); }

public slots:
    void start() override;
    void changePort(quint16 port);
    void end() override;

signals:
    // For the main window: ListenNotice code and argument.
    void notice(int code, int argument);
    // Listening on this port (also after a port change).
    void listening(quint16 port);

private:
    friend class CListenSocket;
    bool openListener();
    void closeListener();
    void onIncomingConnection(qintptr descriptor);
    SessionFactory makeDispatch() const;

    ThreadRegistry& m_registry;
    quint16 m_port;
    QHostAddress m_address = QHostAddress::Any;
    int m_classifierTimeoutMs = CParseThread::HelloTimeoutMs;
    int m_handshakeOnlyLifetimeMs = HandshakeOnlySession::LifetimeMs;
    std::array<SessionFactory, ConnectionHello::KindCount> m_factories;
    QByteArray m_defaultKey;
    std::function<bool()> m_socketLayerCheck;
    CListenSocket* m_server = nullptr;
    std::atomic<quint16> m_boundPort{0};
};

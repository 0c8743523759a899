#include "listenthread.h"

#include "transport/handshakesession.h"
#include "transport/transportlog.h"

#include <QTcpServer>

#include <unistd.h>

namespace ListenNotice {

QString text(int code, int argument)
{
    switch (code) {
    case SocketLayerFailed:
        return QString::fromUtf8(SocketLayerFailedText);
    case PortInUse:
        return QString::fromUtf8(PortInUseText)
            .replace(QLatin1String("%d"), QString::number(argument));
    default:
        return {};
    }
}

QString caption(int code)
{
    switch (code) {
    case SocketLayerFailed:
        return QString::fromUtf8(SocketLayerFailedCaption);
    case PortInUse:
        return QString::fromUtf8(PortInUseCaption);
    default:
        return {};
    }
}

Icon icon(int code)
{
    return code == SocketLayerFailed ? Icon::Error : Icon::Warning;
}

} // namespace ListenNotice

ThreadKind threadKindForHello(int helloKind)
{
    switch (helloKind) {
    case ConnectionHello::File:
        return ThreadKind::FileSession;
    case ConnectionHello::Browse:
        return ThreadKind::ShareBrowsing;
    default:
        return ThreadKind::ChatSession;
    }
}

// Hands the raw descriptor of every accepted connection to the listener; no
// QTcpSocket is made for it here, the session adopts it.
class CListenSocket : public QTcpServer
{
public:
    CListenSocket(CListenThread* listener) : QTcpServer(listener), m_listener(listener) {}

protected:
    void incomingConnection(qintptr descriptor) override
    {
        m_listener->onIncomingConnection(descriptor);
    }

private:
    CListenThread* m_listener;
};

CListenThread::CListenThread(quint16 port, ThreadRegistry& registry)
    : m_registry(registry), m_port(port)
{}

CListenThread::~CListenThread() = default;

void CListenThread::setSessionFactory(ConnectionHello::Kind kind, SessionFactory factory)
{
    if (kind < ConnectionHello::KindCount)
        m_factories[kind] = std::move(factory);
}

void CListenThread::setDefaultSessionKey(const QByteArray& key)
{
    m_defaultKey = key;
}

void CListenThread::setListenAddress(const QHostAddress& address)
{
    m_address = address;
}

void CListenThread::setClassifierTimeout(int ms)
{
    m_classifierTimeoutMs = ms;
}

void CListenThread::setHandshakeOnlyLifetime(int ms)
{
    m_handshakeOnlyLifetimeMs = ms;
}

void CListenThread::setSocketLayerCheck(std::function<bool()> check)
{
    m_socketLayerCheck = std::move(check);
}

void CListenThread::start()
{
    if (m_socketLayerCheck && !m_socketLayerCheck()) {
        emit notice(ListenNotice::SocketLayerFailed, m_port);
        end();
        return;
    }
    if (!openListener())
        emit notice(ListenNotice::PortInUse, m_port);
}

void CListenThread::changePort(quint16 port)
{
    const quint16 current = m_server ? m_boundPort.load() : m_port;
    if (port == current)
        return;
    m_port = port;
    closeListener();
    if (!openListener())
        emit notice(ListenNotice::PortInUse, m_port);
}

void CListenThread::end()
{
    closeListener();
    finish();
}

bool CListenThread::openListener()
{
    auto* server = new CListenSocket(this);
    server->setListenBacklogSize(ListenBacklog);
    if (!server->listen(m_address, m_port)) {
        qCWarning(lcTransport) << "cannot listen on port" << m_port << server->errorString();
        delete server;
        return false;
    }
    m_server = server;
    m_boundPort.store(server->serverPort());
    qCDebug(lcTransport) << "listening on port" << m_boundPort.load();
    emit listening(m_boundPort.load());
    return true;
}

void CListenThread::closeListener()
{
    if (!m_server)
        return;
    m_server->close();
    delete m_server;
    m_server = nullptr;
    m_boundPort.store(0);
}

SessionFactory CListenThread::makeDispatch() const
{
    // A plain value for the classifier's thread: copies of the factories and
    // the key, nothing of the listener itself.
    return [factories = m_factories, key = m_defaultKey, lifetime = m_handshakeOnlyLifetimeMs,
            registry = &m_registry](int kind, qintptr descriptor) {
        if (kind >= 0 && kind < ConnectionHello::KindCount && factories[kind]) {
            factories[kind](kind, descriptor);
            return;
        }
        startSessionThread(new HandshakeOnlySession(descriptor, key, lifetime),
                           threadKindForHello(kind), *registry);
    };
}

void CListenThread::onIncomingConnection(qintptr descriptor)
{
    // A refused registration deletes the classifier, which closes the descriptor.
    startSessionThread(new CParseThread(descriptor, makeDispatch(), m_classifierTimeoutMs),
                       ThreadKind::Classifier, m_registry);
}

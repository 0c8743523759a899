#include "handshakesession.h"

#include "transport/framedsocket.h"

#include <QTimer>

#include <unistd.h>

HandshakeOnlySession::HandshakeOnlySession(qintptr descriptor, const QByteArray& key,
                                           int lifetimeMs)
    : m_descriptor(descriptor), m_key(key), m_lifetimeMs(lifetimeMs)
{}

HandshakeOnlySession::~HandshakeOnlySession()
{
    if (m_descriptor >= 0)
        ::close(static_cast<int>(m_descriptor));
}

void HandshakeOnlySession::start()
{
    m_deadline = new QTimer(this);
    m_deadline->setSingleShot(true);
    connect(m_deadline, &QTimer::timeout, this, &HandshakeOnlySession::end);
    m_deadline->start(m_lifetimeMs);
    m_socket = new FramedSocket(this);
    connect(m_socket, &FramedSocket::connectionClosed, this, &HandshakeOnlySession::end);
    m_socket->SetKey(m_key);
    const qintptr descriptor = std::exchange(m_descriptor, -1);
    if (m_socket->attach(descriptor))
        m_socket->BeginChallenge();
}

void HandshakeOnlySession::end()
{
    if (m_deadline)
        m_deadline->stop();
    if (m_socket)
        m_socket->Close();
    finish();
}

#include "chatsocket.h"

#include "messenger/chatthread.h"

CChatSocket::CChatSocket(CChatThread& session) : FramedSocket(&session), m_session(session)
{
    // Chat frames are small and a reply waits on each of them.
    setLowDelay(true);
}

void CChatSocket::OnConnected()
{
    m_session.onConnected(this);
}

void CChatSocket::OnHandshakeComplete()
{
    m_session.onHandshakeComplete(this);
}

void CChatSocket::OnFrame(uint8_t type, const QByteArray& plain)
{
    m_session.onFrame(this, type, plain);
}

void CChatSocket::OnConnectionClosed()
{
    m_session.onClosed(this);
}

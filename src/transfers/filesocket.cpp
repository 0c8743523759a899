#include "transfers/filesocket.h"

#include "transfers/filethread.h"

CFileSocket::CFileSocket(CFileThread& session) : FramedSocket(&session), m_session(session) {}

void CFileSocket::OnConnected()
{
    m_session.onConnected();
}

void CFileSocket::OnHandshakeComplete()
{
    m_session.onHandshakeComplete();
}

void CFileSocket::OnFrame(uint8_t type, const QByteArray& plain)
{
    m_session.onFrame(type, plain);
}

void CFileSocket::OnRawData(char* data, qint64 size)
{
    m_session.onRawData(data, size);
}

void CFileSocket::OnConnectionClosed()
{
    m_session.onClosed();
}

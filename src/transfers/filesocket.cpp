#include "transfers/filesocket.h"

#include "transfers/filethread.h"

CFileSocket::CFileSocket(CFileThread& session) : FramedSocket(&session), m_session(session)
{
    // Each folder entry waits on the reply to the one before: no small frame
    // may wait for an acknowledgement (the block reads are large anyway).
    setLowDelay(true);
    // File data arrives in bulk: fewer, larger reads.
    setBulkReads();
}

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

#pragma once

#include "transport/framedsocket.h"

class CFileThread;

// The socket of one file session: frames, the key handshake and the raw
// data stream come from FramedSocket; every notification goes to the owning
// session.
class CFileSocket : public FramedSocket
{
    Q_OBJECT
public:
    explicit CFileSocket(CFileThread& session);

protected:
    void OnConnected() override;
    void OnHandshakeComplete() override;
    void OnFrame(uint8_t type, const QByteArray& plain) override;
    void OnRawData(char* data, qint64 size) override;
    void OnConnectionClosed() override;

private:
    CFileThread& m_session;
};

#pragma once

#include "transport/framedsocket.h"

class CChatThread;

// The socket of one chat session: frames and the key handshake come from
// FramedSocket; every notification goes to the owning session, which tells
// its current socket from one it has given up (a failed first connect
// attempt) by the pointer.
class CChatSocket : public FramedSocket
{
    Q_OBJECT
public:
    explicit CChatSocket(CChatThread& session);

protected:
    void OnConnected() override;
    void OnHandshakeComplete() override;
    void OnFrame(uint8_t type, const QByteArray& plain) override;
    void OnConnectionClosed() override;

private:
    CChatThread& m_session;
};

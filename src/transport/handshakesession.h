#pragma once

#include "transport/sessionthread.h"

#include <QByteArray>

class FramedSocket;

// Stands in for a session kind that has no session of its own yet: adopts the
// accepted connection, proves the key as challenger, and then keeps the
// connection until the peer closes it or the session is told to end.
class HandshakeOnlySession : public SessionWorker
{
    Q_OBJECT
public:
    // Takes ownership of the connected descriptor (closed if never adopted).
    HandshakeOnlySession(qintptr descriptor, const QByteArray& key);
    ~HandshakeOnlySession() override;

    void start() override;
    void end() override;

private:
    qintptr m_descriptor;
    QByteArray m_key;
    FramedSocket* m_socket = nullptr;
};

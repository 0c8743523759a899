#pragma once

#include "transport/sessionthread.h"

#include <QByteArray>

class FramedSocket;

class QTimer;

// Stands in for a session kind that has no session of its own yet: adopts the
// accepted connection, proves the key as challenger, and then keeps the
// connection until the peer closes it, the session is told to end, or its
// lifetime runs out: nothing can happen on it, so it never outlives that.
class HandshakeOnlySession : public SessionWorker
{
    Q_OBJECT
public:
    static constexpr int LifetimeMs = 30000;

    // Takes ownership of the connected descriptor (closed if never adopted).
    HandshakeOnlySession(qintptr descriptor, const QByteArray& key, int lifetimeMs = LifetimeMs);
    ~HandshakeOnlySession() override;

    void start() override;
    void end() override;

private:
    qintptr m_descriptor;
    QByteArray m_key;
    int m_lifetimeMs;
    FramedSocket* m_socket = nullptr;
    QTimer* m_deadline = nullptr;
};

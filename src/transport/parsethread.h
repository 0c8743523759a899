#pragma once

#include "transport/connectionhello.h"
#include "transport/sessionthread.h"

#include <functional>

class QSocketNotifier;
class QTimer;

// Starts the session for an accepted connection whose hello named `kind`
// (0 chat, 1 file, 2 browse); it owns the descriptor from then on.
using SessionFactory = std::function<void(int kind, qintptr descriptor)>;

// The classifier of one accepted connection: reads the 10-byte connection
// hello straight from the descriptor, never a byte beyond it (everything after
// the hello belongs to the session), and hands the connection to the session
// of the named kind. A bad hello, a kind of 3 or more, a peer that closes or
// stays silent for 25 seconds is disconnected. The connection counts among the
// UnidentifiedConnections, and is closed when it is the oldest of them and
// the cap is reached.
class CParseThread : public SessionWorker
{
    Q_OBJECT
public:
    static constexpr int HelloTimeoutMs = 25000;

    // Takes ownership of the descriptor.
    CParseThread(qintptr descriptor, SessionFactory dispatch, int timeoutMs = HelloTimeoutMs);
    ~CParseThread() override;

    void start() override;
    void end() override;

private:
    void onReadable();
    void closeConnection();

    qintptr m_descriptor;
    SessionFactory m_dispatch;
    int m_timeoutMs;
    HelloReader m_hello;
    QSocketNotifier* m_notifier = nullptr;
    QTimer* m_timer = nullptr;
    quint64 m_ticket = 0; // among the unidentified connections
};

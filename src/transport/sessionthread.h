#pragma once

#include "transport/threadregistry.h"

#include <QObject>

#include <functional>
#include <memory>

class QThread;

// The worker of one session thread: lives in its own QThread with its own
// event loop and owns the session's sockets and timers (create them in
// start(), or as children before the thread starts).
//
// start() is the thread's start request, end() its end request (both are
// posted thread messages). The worker ends the thread by calling finish(); the thread then
// quits, unregisters, and the worker and the thread are deleted.
class SessionWorker : public QObject
{
    Q_OBJECT
public:
    explicit SessionWorker(QObject* parent = nullptr);
    ~SessionWorker() override;

    bool isFinishing() const { return m_finishing; }
    // Keeps something alive as long as the worker (until its thread ended),
    // e.g. a place among the sessions someone may start.
    void holdLease(std::shared_ptr<void> lease) { m_lease = std::move(lease); }

public slots:
    // Runs in the worker's thread once the thread started.
    virtual void start() = 0;
    // Ends the session: closes what the worker owns and calls finish().
    // The default just calls finish().
    virtual void end();

signals:
    // Emitted once, by finish().
    void finished();

protected:
    // Ends the thread; further calls do nothing.
    void finish();

private:
    bool m_finishing = false;
    std::shared_ptr<void> m_lease;
};

// A thread-safe way to reach a running session from any thread. Posting stops
// working (returns false) as soon as the session's thread reported its end,
// so a posted call never reaches a deleted worker.
class SessionHandle
{
public:
    SessionHandle() = default;

    bool isValid() const { return m_state != nullptr; }
    // True until the session's thread finished.
    bool isRunning() const;
    QThread* thread() const;

    // Queues fn in the worker's thread (a posted thread message).
    bool post(std::function<void()> fn) const;
    // Posts the worker's end().
    bool end() const;
    // Waits until the thread finished and its worker is gone. Not from the
    // session's own thread, nor from a thread the session may call with
    // callBlocking (the main thread): that waits out the whole timeout.
    bool wait(int ms) const;

    friend bool operator==(const SessionHandle& a, const SessionHandle& b)
    {
        return a.m_state == b.m_state;
    }

private:
    friend SessionHandle startSessionThread(SessionWorker*, ThreadKind, ThreadRegistry&);
    struct State;
    std::shared_ptr<State> m_state;
};

// Starts a worker on a new thread of the given kind. The worker must have no
// parent and live in the calling thread. When the registry refuses (the
// program is closing) the worker is deleted, no thread runs, and the returned
// handle is not valid.
//
// The thread object is moved to the application's thread so that it is
// deleted even when the thread that started it has ended in between.
SessionHandle startSessionThread(SessionWorker* worker, ThreadKind kind,
                                 ThreadRegistry& registry = ThreadRegistry::instance());

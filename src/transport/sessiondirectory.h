#pragma once

// SessionDirectory<Host, Worker, Id>: the running sessions of one kind (chat,
// file, browse) of one host, reachable by id from any thread, and the way
// from those sessions back to their host.
//
//   Host    the object the sessions report to; lives on the host's thread
//           (the main thread: the controller, the transfer manager).
//   Worker  the session's SessionWorker subclass (CChatThread, CFileThread).
//   Id      an unsigned session id; 0 is never handed out.
//
// Use it as the base of the "shared" object a kind's sessions hold by
// std::shared_ptr (ChatSessionShared, FileSessionShared), and add the kind's
// own host calls and settings there:
//
//   directory side (any thread)
//     newSessionId()               a fresh id, never 0
//     start(id, worker, kind)      lists the worker, then starts its thread of
//                                  that ThreadKind; id, or 0 when refused
//                                  (closing: the worker is deleted)
//     post(id, requireOpen, fn)    queues fn(Worker&) on the session's thread;
//                                  false when gone, ending, or (requireOpen)
//                                  not yet open
//     isActive(id), count(), sessions()
//     detachHost()                 on the host's thread, when the host goes:
//                                  later host calls return defaults
//   session side (the worker's thread)
//     markOpen(id)                 the peer is identified: requireOpen posts pass
//     markEnding(id)               the session began to end: posts fail
//     remove(id)                   from the worker's destructor
//     callHost(fn)                 runs fn(Host&) on the host's thread and waits
//                                  for its result (a default when detached)
//     postHost(fn)                 queues fn(Host&) on the host's thread
//
// Every session of the directory is ended by the owner (usually in its
// destructor: detachHost(), then post an end to each of sessions()).

#include "transport/callblocking.h"
#include "transport/sessionthread.h"
#include "transport/threadregistry.h"

#include <QHash>
#include <QList>
#include <QMetaObject>
#include <QMutex>
#include <QMutexLocker>
#include <QObject>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

template <class Host, class Worker, class Id>
class SessionDirectory : public std::enable_shared_from_this<SessionDirectory<Host, Worker, Id>>
{
public:
    SessionDirectory(Host& host, ThreadRegistry& registry)
        : m_host(&host), m_hostContext(new QObject), m_registry(registry)
    {}

    ~SessionDirectory()
    {
        // The last session may end after the directory's owner: the context
        // belongs to the host's thread and is deleted there.
        if (m_hostContext->thread() == QThread::currentThread())
            delete m_hostContext;
        else
            m_hostContext->deleteLater();
    }

    SessionDirectory(const SessionDirectory&) = delete;
    SessionDirectory& operator=(const SessionDirectory&) = delete;

    ThreadRegistry& registry() const { return m_registry; }

    // --- the way to the host ---

    template <class F> auto callHost(F&& fn) -> std::invoke_result_t<F&, Host&>
    {
        using Result = std::invoke_result_t<F&, Host&>;
        return callBlocking(m_hostContext, [this, &fn]() -> Result {
            if constexpr (std::is_void_v<Result>) {
                if (m_host)
                    fn(*m_host);
            } else {
                return m_host ? fn(*m_host) : Result{};
            }
        });
    }

    void postHost(std::function<void(Host&)> fn)
    {
        QMetaObject::invokeMethod(
            m_hostContext,
            [self = this->shared_from_this(), fn = std::move(fn)] {
                if (self->m_host)
                    fn(*self->m_host);
            },
            Qt::QueuedConnection);
    }

    void detachHost()
    {
        Q_ASSERT(m_hostContext->thread() == QThread::currentThread());
        m_host = nullptr;
    }

    // --- the directory ---

    Id newSessionId()
    {
        Id id = m_nextId.fetch_add(1);
        while (id == 0)
            id = m_nextId.fetch_add(1);
        return id;
    }

    Id start(Id session, Worker* worker, ThreadKind kind)
    {
        // Listed before the thread runs, so the session can be reached from
        // the moment its id is known. A refused registration deletes the
        // worker, whose destructor removes the entry.
        add(session, worker);
        return startSessionThread(worker, kind, m_registry).isValid() ? session : Id(0);
    }

    void add(Id session, Worker* worker)
    {
        QMutexLocker locker(&m_mutex);
        m_entries.insert(session, Entry{worker, false, false});
    }

    void markEnding(Id session)
    {
        update(session, [](Entry& e) { e.ending = true; });
    }
    void markOpen(Id session)
    {
        update(session, [](Entry& e) { e.open = true; });
    }

    void remove(Id session)
    {
        QMutexLocker locker(&m_mutex);
        m_entries.remove(session);
    }

    bool post(Id session, bool requireOpen, std::function<void(Worker&)> fn)
    {
        // Under the lock the worker cannot be deleted (its destructor removes
        // the entry first); once posted, Qt drops the call if the worker goes.
        QMutexLocker locker(&m_mutex);
        auto it = m_entries.constFind(session);
        if (it == m_entries.constEnd() || it->ending || (requireOpen && !it->open))
            return false;
        Worker* worker = it->worker;
        return QMetaObject::invokeMethod(
            worker, [worker, fn = std::move(fn)] { fn(*worker); }, Qt::QueuedConnection);
    }

    bool isActive(Id session) const
    {
        QMutexLocker locker(&m_mutex);
        auto it = m_entries.constFind(session);
        return it != m_entries.constEnd() && !it->ending;
    }

    int count() const
    {
        QMutexLocker locker(&m_mutex);
        return int(m_entries.size());
    }

    QList<Id> sessions() const
    {
        QMutexLocker locker(&m_mutex);
        return m_entries.keys();
    }

private:
    struct Entry
    {
        Worker* worker = nullptr;
        bool ending = false;
        bool open = false;
    };

    template <class F> void update(Id session, F&& change)
    {
        QMutexLocker locker(&m_mutex);
        auto it = m_entries.find(session);
        if (it != m_entries.end())
            change(*it);
    }

    Host* m_host;
    // Lives in the host's thread; target of every call into the host.
    QObject* m_hostContext;
    ThreadRegistry& m_registry;
    std::atomic<Id> m_nextId{1};

    mutable QMutex m_mutex;
    QHash<Id, Entry> m_entries;
};

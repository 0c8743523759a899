#include "threadregistry.h"

#include "transport/transportlog.h"

#include <QDeadlineTimer>
#include <QThread>
#include <QWaitCondition>

#include <algorithm>

struct ThreadRegistry::Entry
{
    QThread* thread = nullptr;
    ThreadKind kind = ThreadKind::Listener;

    QMutex mutex;
    QWaitCondition doneCondition;
    bool done = false;
    EndFunction end;

    void markDone()
    {
        QMutexLocker locker(&mutex);
        done = true;
        end = nullptr;
        doneCondition.wakeAll();
    }

    // The end function runs under the entry's lock and only before the thread
    // reported its end, so whatever it posts to is still alive.
    void postEnd()
    {
        QMutexLocker locker(&mutex);
        if (done || !end)
            return;
        EndFunction f = std::move(end);
        end = nullptr;
        f();
    }

    bool waitDone(QDeadlineTimer deadline)
    {
        QMutexLocker locker(&mutex);
        while (!done) {
            if (!doneCondition.wait(&mutex, deadline))
                return done;
        }
        return true;
    }
};

ThreadRegistry::ThreadRegistry() = default;
ThreadRegistry::~ThreadRegistry() = default;

ThreadRegistry& ThreadRegistry::instance()
{
    static ThreadRegistry registry;
    return registry;
}

bool ThreadRegistry::lockBounded() const
{
    return m_mutex.tryLock(LockTimeoutMs);
}

bool ThreadRegistry::Register(QThread* thread, ThreadKind kind, EndFunction end)
{
    if (!thread || m_closing.load())
        return false;
    auto entry = std::make_shared<Entry>();
    entry->thread = thread;
    entry->kind = kind;
    entry->end = std::move(end);

    if (!lockBounded()) {
        qCWarning(lcTransport) << "thread registry busy, registration refused";
        return false;
    }
    // Checked again under the lock: a shutdown that took its list of threads
    // must not miss one registered after it.
    if (m_closing.load()) {
        m_mutex.unlock();
        return false;
    }
    m_entries.push_back(entry);
    m_mutex.unlock();

    // Handlers connected earlier (the session thread's own clean-up) run
    // first, so a waiter wakes only when they are done.
    QObject::connect(
        thread, &QThread::finished, thread, [entry] { entry->markDone(); }, Qt::DirectConnection);
    QObject::connect(
        thread, &QObject::destroyed, thread, [entry] { entry->markDone(); }, Qt::DirectConnection);
    return true;
}

void ThreadRegistry::Unregister(QThread* thread)
{
    if (m_closing.load())
        return;
    if (!lockBounded())
        return;
    if (!m_closing.load()) {
        m_entries.erase(std::remove_if(m_entries.begin(), m_entries.end(),
                                       [thread](const auto& e) { return e->thread == thread; }),
                        m_entries.end());
    }
    m_mutex.unlock();
}

void ThreadRegistry::ShutdownAll()
{
    std::vector<std::shared_ptr<Entry>> entries;
    {
        QMutexLocker locker(&m_mutex);
        if (m_closing.exchange(true))
            return;
        entries = m_entries;
    }
    std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
        return static_cast<int>(a->kind) > static_cast<int>(b->kind);
    });

    // The list is walked without holding the lock: ending threads unregister
    // themselves (ignored while closing) and must never wait for us.
    const int waitMs = m_threadWaitMs.load();
    auto group = entries.begin();
    while (group != entries.end()) {
        const ThreadKind kind = (*group)->kind;
        auto groupEnd =
            std::find_if(group, entries.end(), [kind](const auto& e) { return e->kind != kind; });
        for (auto it = group; it != groupEnd; ++it)
            (*it)->postEnd();
        for (auto it = group; it != groupEnd; ++it) {
            if (!(*it)->waitDone(QDeadlineTimer(waitMs)))
                qCWarning(lcTransport) << "thread of kind" << static_cast<int>(kind)
                                       << "did not end within" << waitMs << "ms";
        }
        group = groupEnd;
    }

    QMutexLocker locker(&m_mutex);
    // Threads that ended could not unregister while closing; forget them now.
    m_entries.erase(std::remove_if(m_entries.begin(), m_entries.end(),
                                   [](const auto& e) {
                                       QMutexLocker entryLocker(&e->mutex);
                                       return e->done;
                                   }),
                    m_entries.end());
    m_closing.store(false);
}

void ThreadRegistry::shutdownAllAsync(QObject* context, std::function<void()> done)
{
    QThread* worker = QThread::create([this] { ShutdownAll(); });
    worker->setObjectName(QStringLiteral("registry shutdown"));
    QObject::connect(worker, &QThread::finished, context, [done = std::move(done)] {
        if (done)
            done();
    });
    QObject::connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    worker->start();
}

bool ThreadRegistry::isClosing() const
{
    return m_closing.load();
}

int ThreadRegistry::count() const
{
    QMutexLocker locker(&m_mutex);
    return static_cast<int>(m_entries.size());
}

int ThreadRegistry::count(ThreadKind kind) const
{
    QMutexLocker locker(&m_mutex);
    return static_cast<int>(std::count_if(m_entries.begin(), m_entries.end(),
                                          [kind](const auto& e) { return e->kind == kind; }));
}

int ThreadRegistry::threadWaitMs() const
{
    return m_threadWaitMs.load();
}

void ThreadRegistry::setThreadWaitMs(int ms)
{
    m_threadWaitMs.store(ms);
}

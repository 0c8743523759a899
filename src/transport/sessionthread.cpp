#include "sessionthread.h"

#include "transport/transportlog.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QMutex>
#include <QThread>
#include <QWaitCondition>

SessionWorker::SessionWorker(QObject* parent) : QObject(parent) {}

SessionWorker::~SessionWorker() = default;

void SessionWorker::end()
{
    finish();
}

void SessionWorker::finish()
{
    if (m_finishing)
        return;
    m_finishing = true;
    emit finished();
}

struct SessionHandle::State
{
    QMutex mutex;
    QWaitCondition doneCondition;
    SessionWorker* worker = nullptr; // cleared when the thread finishes
    QThread* thread = nullptr;       // cleared when the thread object is deleted
    bool done = false;
};

bool SessionHandle::isRunning() const
{
    if (!m_state)
        return false;
    QMutexLocker locker(&m_state->mutex);
    return !m_state->done;
}

QThread* SessionHandle::thread() const
{
    if (!m_state)
        return nullptr;
    QMutexLocker locker(&m_state->mutex);
    return m_state->thread;
}

bool SessionHandle::post(std::function<void()> fn) const
{
    if (!m_state)
        return false;
    QMutexLocker locker(&m_state->mutex);
    if (m_state->done || !m_state->worker)
        return false;
    // Bound to the worker: if the worker goes away before the call is
    // delivered, Qt drops the call.
    return QMetaObject::invokeMethod(m_state->worker, std::move(fn), Qt::QueuedConnection);
}

bool SessionHandle::end() const
{
    if (!m_state)
        return false;
    QMutexLocker locker(&m_state->mutex);
    if (m_state->done || !m_state->worker)
        return false;
    return QMetaObject::invokeMethod(m_state->worker, &SessionWorker::end, Qt::QueuedConnection);
}

bool SessionHandle::wait(int ms) const
{
    if (!m_state)
        return true;
    QDeadlineTimer deadline(ms);
    QMutexLocker locker(&m_state->mutex);
    while (!m_state->done) {
        if (!m_state->doneCondition.wait(&m_state->mutex, deadline))
            return m_state->done;
    }
    return true;
}

SessionHandle startSessionThread(SessionWorker* worker, ThreadKind kind, ThreadRegistry& registry)
{
    Q_ASSERT(worker && !worker->parent());
    Q_ASSERT(worker->thread() == QThread::currentThread());

    SessionHandle handle;
    handle.m_state = std::make_shared<SessionHandle::State>();
    auto state = handle.m_state;

    auto* thread = new QThread;
    thread->setObjectName(QString::fromLatin1(worker->metaObject()->className()));
    state->thread = thread;
    state->worker = worker;

    // Everything the ending thread does for itself happens in one handler,
    // connected before the registry connects its own: by the time anyone
    // waiting for this thread wakes up, the worker is gone and the thread has
    // unregistered, so nothing of the session runs behind the waiter's back.
    QObject::connect(
        thread, &QThread::finished, thread,
        [state, worker, thread, &registry] {
            {
                QMutexLocker locker(&state->mutex);
                state->worker = nullptr; // no more posting
            }
            delete worker; // in its own thread, after its event loop ended
            registry.Unregister(thread);
            QMutexLocker locker(&state->mutex);
            state->done = true;
            state->doneCondition.wakeAll();
        },
        Qt::DirectConnection);

    if (!registry.Register(thread, kind, [handle] { handle.end(); })) {
        qCDebug(lcTransport) << "thread of kind" << static_cast<int>(kind)
                             << "refused, the program is closing";
        delete worker;
        delete thread;
        return {};
    }

    worker->moveToThread(thread);
    if (QCoreApplication* app = QCoreApplication::instance())
        thread->moveToThread(app->thread());

    QObject::connect(thread, &QThread::started, worker, &SessionWorker::start);
    // QThread::quit is thread-safe; calling it directly does not depend on the
    // thread object's own thread running an event loop.
    QObject::connect(
        worker, &SessionWorker::finished, worker, [thread] { thread->quit(); },
        Qt::DirectConnection);
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    QObject::connect(
        thread, &QObject::destroyed, thread,
        [state] {
            QMutexLocker locker(&state->mutex);
            state->thread = nullptr;
        },
        Qt::DirectConnection);

    thread->start();
    return handle;
}

#include "transport/callblocking.h"
#include "transport/sessionthread.h"
#include "transport/threadregistry.h"

#include <QMutex>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <atomic>

namespace {

// What the workers did, in the order they did it, from any thread.
class Journal
{
public:
    void add(const QString& line)
    {
        QMutexLocker locker(&m_mutex);
        m_lines.append(line);
    }
    QStringList lines() const
    {
        QMutexLocker locker(&m_mutex);
        return m_lines;
    }
    int indexOf(const QString& line) const { return lines().indexOf(line); }

private:
    mutable QMutex m_mutex;
    QStringList m_lines;
};

enum class OnEnd {
    FinishAtOnce,
    FinishLater,   // after a timer in its own thread
    Ignore,        // never ends by itself
    AskMainThread, // a synchronous call to the main thread first
};

class ProbeWorker : public SessionWorker
{
    Q_OBJECT
public:
    ProbeWorker(QString name, Journal* journal, OnEnd onEnd, QObject* mainObject = nullptr,
                std::atomic<bool>* destroyed = nullptr)
        : m_name(std::move(name)), m_journal(journal), m_onEnd(onEnd), m_mainObject(mainObject),
          m_destroyed(destroyed)
    {}
    ~ProbeWorker() override
    {
        if (m_destroyed)
            *m_destroyed = true;
    }

    void start() override { m_journal->add(QStringLiteral("start ") + m_name); }

    void end() override
    {
        m_journal->add(QStringLiteral("end ") + m_name);
        switch (m_onEnd) {
        case OnEnd::FinishAtOnce:
            done();
            break;
        case OnEnd::FinishLater:
            QTimer::singleShot(40, this, &ProbeWorker::done);
            break;
        case OnEnd::Ignore:
            break;
        case OnEnd::AskMainThread: {
            const bool onMain = callBlocking(m_mainObject, [] {
                return QThread::currentThread() == QCoreApplication::instance()->thread();
            });
            m_journal->add(QStringLiteral("main answered ") +
                           (onMain ? QStringLiteral("on main") : QStringLiteral("elsewhere")));
            done();
            break;
        }
        }
    }

    void done()
    {
        m_journal->add(QStringLiteral("finished ") + m_name);
        finish();
    }

private:
    QString m_name;
    Journal* m_journal;
    OnEnd m_onEnd;
    QObject* m_mainObject;
    std::atomic<bool>* m_destroyed;
};

} // namespace

class tst_ThreadRegistry : public QObject
{
    Q_OBJECT

private:
    // Runs ShutdownAll on its own thread while this thread keeps its event loop.
    bool shutdown(ThreadRegistry& registry, int timeoutMs = 20000)
    {
        bool done = false;
        registry.shutdownAllAsync(this, [&done] { done = true; });
        return QTest::qWaitFor([&done] { return done; }, timeoutMs);
    }

private slots:
    void shutdownEndsKindsHighestFirst();
    void endingSessionsMayCallTheMainThread();
    void registrationRefusedWhileClosing();
    void waitForEachThreadIsBounded();
    void sessionHandleAfterTheEnd();
    void callBlocking_data();
    void callBlocking();
};

void tst_ThreadRegistry::shutdownEndsKindsHighestFirst()
{
    ThreadRegistry registry;
    Journal journal;
    // Registered in mixed order; the kind-5 and kind-2 threads take their time
    // to end, so a shutdown that does not wait would tell lower kinds too early.
    const QList<std::pair<ThreadKind, OnEnd>> threads{
        {ThreadKind::Listener, OnEnd::FinishAtOnce},
        {ThreadKind::ChatSession, OnEnd::FinishLater},
        {ThreadKind::FileSession, OnEnd::FinishLater},
        {ThreadKind::NetworkUtility, OnEnd::FinishAtOnce},
        {ThreadKind::Classifier, OnEnd::FinishAtOnce},
        {ThreadKind::ChatSession, OnEnd::FinishAtOnce},
        {ThreadKind::ShareBrowsing, OnEnd::FinishLater},
        {ThreadKind::FolderCalculation, OnEnd::FinishAtOnce},
    };
    QList<SessionHandle> handles;
    for (int i = 0; i < threads.size(); ++i) {
        const QString name = QStringLiteral("%1.%2").arg(int(threads[i].first)).arg(i);
        handles.append(startSessionThread(new ProbeWorker(name, &journal, threads[i].second),
                                          threads[i].first, registry));
        QVERIFY(handles.last().isValid());
    }
    QCOMPARE(registry.count(), threads.size());
    QCOMPARE(registry.count(ThreadKind::ChatSession), 2);
    QTRY_COMPARE(journal.lines().size(), threads.size()); // all started

    QVERIFY(shutdown(registry));
    QVERIFY(!registry.isClosing());
    QCOMPARE(registry.count(), 0);
    for (const SessionHandle& h : handles)
        QVERIFY(!h.isRunning());

    // Every thread was told once, in non-increasing kind order, and every
    // thread of a kind had finished before the next lower kind was told.
    QList<int> toldKinds;
    const QStringList lines = journal.lines();
    for (int i = 0; i < lines.size(); ++i) {
        if (!lines[i].startsWith(QLatin1String("end ")))
            continue;
        const int kind = lines[i].mid(4).section(QLatin1Char('.'), 0, 0).toInt();
        if (!toldKinds.isEmpty())
            QVERIFY2(kind <= toldKinds.last(), qPrintable(lines.join(QLatin1Char('\n'))));
        for (int j = 0; j < threads.size(); ++j) {
            if (int(threads[j].first) <= kind)
                continue;
            const QString finished =
                QStringLiteral("finished %1.%2").arg(int(threads[j].first)).arg(j);
            QVERIFY2(lines.indexOf(finished) >= 0 && lines.indexOf(finished) < i,
                     qPrintable(lines.join(QLatin1Char('\n'))));
        }
        toldKinds.append(kind);
    }
    QCOMPARE(toldKinds.size(), threads.size());
}

void tst_ThreadRegistry::endingSessionsMayCallTheMainThread()
{
    ThreadRegistry registry;
    Journal journal;
    QObject mainObject;
    for (int i = 0; i < 3; ++i) {
        QVERIFY(startSessionThread(new ProbeWorker(QString::number(i), &journal,
                                                   OnEnd::AskMainThread, &mainObject),
                                   ThreadKind::ChatSession, registry)
                    .isValid());
    }
    QTRY_COMPARE(journal.lines().size(), 3);
    QVERIFY(shutdown(registry));
    QCOMPARE(journal.lines().count(QStringLiteral("main answered on main")), 3);
    QCOMPARE(registry.count(), 0);
}

void tst_ThreadRegistry::registrationRefusedWhileClosing()
{
    ThreadRegistry registry;
    Journal journal;
    SessionHandle slow =
        startSessionThread(new ProbeWorker(QStringLiteral("slow"), &journal, OnEnd::Ignore),
                           ThreadKind::FileSession, registry);
    QVERIFY(slow.isValid());
    QTRY_COMPARE(journal.indexOf(QStringLiteral("start slow")), 0);

    bool shutdownDone = false;
    registry.shutdownAllAsync(this, [&shutdownDone] { shutdownDone = true; });
    QTRY_VERIFY(journal.indexOf(QStringLiteral("end slow")) >= 0);
    QVERIFY(registry.isClosing());

    // Refused: the worker is deleted and never starts.
    std::atomic<bool> destroyed{false};
    SessionHandle late = startSessionThread(
        new ProbeWorker(QStringLiteral("late"), &journal, OnEnd::FinishAtOnce, nullptr, &destroyed),
        ThreadKind::ChatSession, registry);
    QVERIFY(!late.isValid());
    QVERIFY(destroyed);
    QVERIFY(!late.post([] {}));
    QCOMPARE(registry.count(ThreadKind::ChatSession), 0);

    // Let the slow one finish; the shutdown completes and registration works again.
    QVERIFY(slow.post([&journal] {
        journal.add(QStringLiteral("posted"));
        QThread::currentThread()->quit();
    }));
    QTRY_VERIFY(shutdownDone);
    QVERIFY(!registry.isClosing());
    QVERIFY(journal.indexOf(QStringLiteral("start late")) < 0);
    SessionHandle again =
        startSessionThread(new ProbeWorker(QStringLiteral("again"), &journal, OnEnd::FinishAtOnce),
                           ThreadKind::ChatSession, registry);
    QVERIFY(again.isValid());
    QTRY_VERIFY(journal.indexOf(QStringLiteral("start again")) >= 0);
    QVERIFY(again.end());
    QVERIFY(again.wait(5000));
}

void tst_ThreadRegistry::waitForEachThreadIsBounded()
{
    ThreadRegistry registry;
    registry.setThreadWaitMs(150);
    Journal journal;
    SessionHandle hung =
        startSessionThread(new ProbeWorker(QStringLiteral("hung"), &journal, OnEnd::Ignore),
                           ThreadKind::ChatSession, registry);
    SessionHandle listener = startSessionThread(
        new ProbeWorker(QStringLiteral("listener"), &journal, OnEnd::FinishAtOnce),
        ThreadKind::Listener, registry);
    QTRY_COMPARE(journal.lines().size(), 2);

    QVERIFY(shutdown(registry, 10000));
    // The hung thread did not hold up the lower kind for good.
    QVERIFY(journal.indexOf(QStringLiteral("finished listener")) >= 0);
    QVERIFY(hung.isRunning());
    QCOMPARE(registry.count(), 1); // still running, still listed

    // When it ends later, it unregisters normally.
    QVERIFY(hung.post([&journal] {
        journal.add(QStringLiteral("quit"));
        QThread::currentThread()->quit();
    }));
    QVERIFY(hung.wait(5000));
    QTRY_COMPARE(registry.count(), 0);
}

void tst_ThreadRegistry::sessionHandleAfterTheEnd()
{
    ThreadRegistry registry;
    Journal journal;
    std::atomic<bool> destroyed{false};
    auto* worker =
        new ProbeWorker(QStringLiteral("w"), &journal, OnEnd::FinishAtOnce, nullptr, &destroyed);
    SessionHandle handle = startSessionThread(worker, ThreadKind::ShareBrowsing, registry);
    QPointer<QThread> thread = handle.thread();
    QVERIFY(thread);
    QCOMPARE(thread->thread(), QThread::currentThread()); // deleted by the application's thread

    QThread* ranOn = nullptr;
    QVERIFY(handle.post([&ranOn] { ranOn = QThread::currentThread(); }));
    QTRY_VERIFY(ranOn);
    QCOMPARE(ranOn, thread.data());

    QVERIFY(handle.end());
    QVERIFY(handle.wait(5000));
    QVERIFY(!handle.isRunning());
    QVERIFY(!handle.post([] {}));
    QVERIFY(!handle.end());
    QTRY_VERIFY(destroyed);
    QTRY_VERIFY(thread.isNull());
    QCOMPARE(handle.thread(), nullptr);
    QCOMPARE(registry.count(), 0);
    QCOMPARE(journal.lines().count(QStringLiteral("end w")), 1);
}

void tst_ThreadRegistry::callBlocking_data()
{
    QTest::addColumn<bool>("fromOtherThread");
    QTest::newRow("from another thread") << true;
    QTest::newRow("from the target's thread") << false;
}

void tst_ThreadRegistry::callBlocking()
{
    QFETCH(bool, fromOtherThread);

    QObject target;
    int calls = 0;
    QThread* ranOn = nullptr;
    auto ask = [&] {
        // A value computed in the target's thread, and a call without result.
        const QString answer = ::callBlocking(&target, [&] {
            ranOn = QThread::currentThread();
            return QStringLiteral("answer %1").arg(++calls);
        });
        ::callBlocking(&target, [&] { ++calls; });
        return answer;
    };

    QString answer;
    if (fromOtherThread) {
        QThread* caller = QThread::create([&] { answer = ask(); });
        QSignalSpy finished(caller, &QThread::finished);
        caller->start();
        QVERIFY(finished.wait(5000));
        delete caller;
    } else {
        answer = ask();
    }
    QCOMPARE(answer, QStringLiteral("answer 1"));
    QCOMPARE(calls, 2);
    QCOMPARE(ranOn, QThread::currentThread());
}

QTEST_GUILESS_MAIN(tst_ThreadRegistry)
#include "tst_threadregistry.moc"

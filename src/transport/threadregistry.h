#pragma once

#include <QMutex>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

class QObject;
class QThread;

// What a registered thread does; shutdown ends the highest kind first.
enum class ThreadKind : int {
    Listener = 0,
    Classifier = 1,
    FileSession = 2,
    FolderCalculation = 3,
    ShareBrowsing = 4,
    ChatSession = 5,
    // Short worker threads, ended first: web page fetches, the accept prompt's
    // folder picker, the release of a folder transfer's entry list.
    ShortWorker = 6,
    NetworkUtility = ShortWorker,   // a web page fetch
    EntryListRelease = ShortWorker, // frees a folder transfer's entry list
};

// The process-wide list of running threads with their kinds, used at exit to
// end them in order: chat sessions before browsing, browsing before folder
// walks, and so on down to the listener.
//
// Every thread registers before it starts and unregisters when it ends.
// While ShutdownAll runs, registration is refused (the new thread must not
// run at all) and unregistration is ignored.
//
// Thread-safe. ShutdownAll blocks, so it must not run on the main thread:
// ending sessions still call the main thread synchronously (see callBlocking).
class ThreadRegistry
{
public:
    static constexpr int LockTimeoutMs = 5000;
    static constexpr int DefaultThreadWaitMs = 25000;

    // Posts the thread's "end" message; called at most once, and only while
    // the thread has not finished yet.
    using EndFunction = std::function<void()>;

    ThreadRegistry();
    ~ThreadRegistry();
    ThreadRegistry(const ThreadRegistry&) = delete;
    ThreadRegistry& operator=(const ThreadRegistry&) = delete;

    // The one registry the program's threads use.
    static ThreadRegistry& instance();

    // Refused (false) while closing or when the lock is not had within
    // LockTimeoutMs. The thread must not be running yet; the registry notices
    // by itself when it finishes (QThread::finished or destruction), after
    // the finished handlers connected before this call have run.
    bool Register(QThread* thread, ThreadKind kind, EndFunction end);
    // Ignored while closing.
    void Unregister(QThread* thread);
    // Sets closing; for each kind, highest first, tells every thread of the
    // kind to end, then waits for each of them (at most threadWaitMs() per
    // thread); clears closing. Threads that finished are forgotten.
    void ShutdownAll();

    // Runs ShutdownAll on a thread of its own and calls done in context's
    // thread afterwards (context must have a running event loop).
    void shutdownAllAsync(QObject* context, std::function<void()> done);

    bool isClosing() const;
    int count() const;
    int count(ThreadKind kind) const;

    int threadWaitMs() const;
    void setThreadWaitMs(int ms);

private:
    struct Entry;
    bool lockBounded() const;

    mutable QMutex m_mutex;
    std::vector<std::shared_ptr<Entry>> m_entries;
    std::atomic<bool> m_closing{false};
    std::atomic<int> m_threadWaitMs{DefaultThreadWaitMs};
};

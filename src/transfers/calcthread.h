#pragma once

#include "transfers/transfer.h"
#include "transport/sessionthread.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

class QDirIterator;

// The owner's handle on a running folder walk. Stopping works from any
// thread, also while the walk is busy, and does nothing once it ended.
class CalcHandle
{
public:
    CalcHandle() = default;

    // The walk's identifier (the row's calcThreadId); 0 when no walk runs.
    uint32_t id() const { return m_id; }
    bool isValid() const { return m_id != 0; }
    bool isRunning() const { return m_session.isRunning(); }
    // The stop request: the walk ends before its next entry and
    // reports walkStopped, unless it has reported already.
    void stop() const;
    bool wait(int ms) const { return m_session.wait(ms); }

private:
    friend class CCalcThread;
    uint32_t m_id = 0;
    SessionHandle m_session;
    std::shared_ptr<std::atomic<bool>> m_stop;
};

// Walks one folder on its own thread, depth first in the order the file
// system lists names (hidden ones included), and appends the path of every
// regular file, relative to the root with '/' between components, to the
// transfer's entry list while summing the sizes. The lock is held for one
// append at a time, so a session may send the first entries meanwhile.
//
// Symbolic links to folders are not followed (a link back up the tree would
// never end); links to files count as those files. Pipes, sockets and
// devices are left out: reading them would block or never end. A folder
// that cannot be read adds nothing.
//
// Reports exactly one of walkFinished or walkStopped, from
// the walk's thread; connect them before launch() with the default
// connection, and the receiver gets them in its own thread.
class CCalcThread : public SessionWorker
{
    Q_OBJECT
public:
    // Entries checked for a stop request between two of them, then the
    // thread's own messages get their turn.
    static constexpr int EntriesPerStep = 128;

    CCalcThread(const QString& root, EntryListPtr entries);
    ~CCalcThread() override;

    uint32_t id() const { return m_id; }

    // Starts the walk on a new thread of kind 3 (folder calculation). When
    // the program is closing the walk is refused: it is deleted and the
    // handle is not valid.
    static CalcHandle launch(CCalcThread* walk,
                             ThreadRegistry& registry = ThreadRegistry::instance());

public slots:
    void start() override;
    // The thread's end message: a stop request.
    void end() override;

signals:
    void walkFinished(quint32 id, quint64 total);
    void walkStopped(quint32 id, quint64 totalSoFar);

private:
    struct Level;

    void step();
    void report(bool stopped);

    const uint32_t m_id;
    QString m_root;
    EntryListPtr m_entries;
    std::shared_ptr<std::atomic<bool>> m_stop;
    std::vector<std::unique_ptr<Level>> m_levels;
    uint64_t m_total = 0;
    bool m_reported = false;
};

#include "transfers/calcthread.h"

#include "transfers/pathguard.h"
#include "transfers/transferslog.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QMutexLocker>

namespace {

std::atomic<uint32_t> s_nextCalcId{1};

uint32_t NextCalcId()
{
    uint32_t id = s_nextCalcId.fetch_add(1);
    // 0 means "no walk" in a record, so it is never handed out.
    while (id == 0)
        id = s_nextCalcId.fetch_add(1);
    return id;
}

} // namespace

struct CCalcThread::Level
{
    Level(const QString& path, QString prefix)
        : it(path, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
          relativePrefix(std::move(prefix))
    {}
    QDirIterator it;
    QString relativePrefix; // "" for the root, else "sub/dir/"
};

void CalcHandle::stop() const
{
    if (!m_stop)
        return;
    m_stop->store(true);
    // Wakes a walk that waits for its next step; a walk that ended ignores it.
    m_session.end();
}

CCalcThread::CCalcThread(const QString& root, EntryListPtr entries)
    : m_id(NextCalcId()), m_root(root), m_entries(entries ? std::move(entries) : NewEntryList()),
      m_stop(std::make_shared<std::atomic<bool>>(false))
{
    while (m_root.size() > 1 && m_root.endsWith(u'/'))
        m_root.chop(1);
}

CCalcThread::~CCalcThread() = default;

CalcHandle CCalcThread::launch(CCalcThread* walk, ThreadRegistry& registry)
{
    CalcHandle handle;
    const uint32_t id = walk->m_id;
    auto stop = walk->m_stop;
    SessionHandle session = startSessionThread(walk, ThreadKind::FolderCalculation, registry);
    if (!session.isValid())
        return handle;
    handle.m_id = id;
    handle.m_session = std::move(session);
    handle.m_stop = std::move(stop);
    return handle;
}

void CCalcThread::start()
{
    qCDebug(lcTransfers) << "folder walk" << m_id << "over" << m_root;
    m_levels.push_back(std::make_unique<Level>(m_root, QString()));
    step();
}

void CCalcThread::end()
{
    m_stop->store(true);
    if (!m_reported)
        report(true);
}

void CCalcThread::step()
{
    if (m_reported)
        return;
    for (int n = 0; n < EntriesPerStep; ++n) {
        if (m_stop->load()) {
            report(true);
            return;
        }
        while (!m_levels.empty() && !m_levels.back()->it.hasNext())
            m_levels.pop_back();
        if (m_levels.empty()) {
            // A stop that came in before the report wins: its owner waits for it.
            report(m_stop->load());
            return;
        }
        Level& level = *m_levels.back();
        level.it.next();
        const QFileInfo info = level.it.fileInfo();
        const QString relative = level.relativePrefix + info.fileName();
        if (info.isDir()) {
            if (!info.isSymLink())
                m_levels.push_back(std::make_unique<Level>(info.filePath(), relative + u'/'));
        } else if (info.isFile() && (!info.isSymLink() || IsPathInside(m_root, info.filePath()))) {
            // A link is listed only when its file lies inside the folder.
            m_total += static_cast<uint64_t>(info.size());
            QMutexLocker locker(&m_entries->lock);
            m_entries->paths.append(relative);
        }
    }
    QMetaObject::invokeMethod(this, &CCalcThread::step, Qt::QueuedConnection);
}

void CCalcThread::report(bool stopped)
{
    if (m_reported)
        return;
    m_reported = true;
    m_levels.clear();
    qCDebug(lcTransfers) << "folder walk" << m_id << (stopped ? "stopped at" : "finished with")
                         << m_total << "bytes";
    if (stopped)
        emit walkStopped(m_id, m_total);
    else
        emit walkFinished(m_id, m_total);
    finish();
}

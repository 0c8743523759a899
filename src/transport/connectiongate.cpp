#include "connectiongate.h"

#include "transport/transportlog.h"

#include <QMetaObject>
#include <QObject>

#include <algorithm>

UnidentifiedConnections& UnidentifiedConnections::instance()
{
    static UnidentifiedConnections connections;
    return connections;
}

UnidentifiedConnections::Ticket UnidentifiedConnections::admit(QObject* owner,
                                                               std::function<void()> close)
{
    QMutexLocker locker(&m_mutex);
    while (!m_entries.empty() && int(m_entries.size()) >= m_cap) {
        Entry oldest = std::move(m_entries.front());
        m_entries.pop_front();
        qCDebug(lcTransport) << "unidentified connections at their cap of" << m_cap
                             << "; closing the oldest";
        // The owner cannot go away meanwhile: it releases under this lock
        // first, and a queued call dies with its target.
        QMetaObject::invokeMethod(oldest.owner, std::move(oldest.close), Qt::QueuedConnection);
    }
    const Ticket ticket = m_next++;
    m_entries.push_back({ticket, owner, std::move(close)});
    return ticket;
}

void UnidentifiedConnections::release(Ticket ticket)
{
    if (ticket == 0)
        return;
    QMutexLocker locker(&m_mutex);
    auto it = std::find_if(m_entries.begin(), m_entries.end(),
                           [ticket](const Entry& e) { return e.ticket == ticket; });
    if (it != m_entries.end())
        m_entries.erase(it);
}

int UnidentifiedConnections::count() const
{
    QMutexLocker locker(&m_mutex);
    return int(m_entries.size());
}

int UnidentifiedConnections::cap() const
{
    QMutexLocker locker(&m_mutex);
    return m_cap;
}

void UnidentifiedConnections::setCap(int cap)
{
    QMutexLocker locker(&m_mutex);
    m_cap = std::max(1, cap);
}

#pragma once

#include <QMutex>
#include <QtGlobal>

#include <functional>
#include <list>

class QObject;

// The accepted connections whose peers have not said who they are yet: from
// the accept, through the connection hello and the key handshake, until the
// session identifies the peer. Every one of them costs a thread, so there are
// at most cap() of them; a new one beyond that closes the oldest, so a
// stranger holding many silent connections cannot keep a contact out.
//
// Thread-safe. One per process, like the thread registry.
class UnidentifiedConnections
{
public:
    static constexpr int DefaultCap = 128;

    // 0 is no ticket.
    using Ticket = quint64;

    UnidentifiedConnections() = default;
    UnidentifiedConnections(const UnidentifiedConnections&) = delete;
    UnidentifiedConnections& operator=(const UnidentifiedConnections&) = delete;

    static UnidentifiedConnections& instance();

    // Counts a new connection. When the cap is reached, the oldest connection
    // is forgotten and its close is queued to its owner (run in the owner's
    // thread). The owner must release its ticket before it is destroyed.
    Ticket admit(QObject* owner, std::function<void()> close);
    // The connection was identified, handed on or closed. 0 and tickets
    // already forgotten are ignored.
    void release(Ticket ticket);

    int count() const;
    int cap() const;
    void setCap(int cap);

private:
    struct Entry
    {
        Ticket ticket;
        QObject* owner;
        std::function<void()> close;
    };

    mutable QMutex m_mutex;
    std::list<Entry> m_entries; // oldest first
    Ticket m_next = 1;
    int m_cap = DefaultCap;
};

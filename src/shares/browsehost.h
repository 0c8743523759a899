#pragma once

#include "records/identity.h"
#include "shares/shareentry.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <optional>

// Identifies one browse session for the whole run; 0 means none.
using BrowseId = quint64;

// Send results of a browse session's send request: 50 + the previous state
// of an existing transfer (50 also for a new one), -1 when the viewer shows
// Offline here (queued all the same), and SendRefused when the path is not
// one the viewer may have: nothing was queued.
inline constexpr int SendRefused = -2;

// Browse sessions one peer may have with us at once; a further one ends as
// soon as the peer is identified.
inline constexpr int MaxBrowseSessionsPerPeer = 4;
// Entries a viewer keeps per listing; beyond them it asks the owner to stop
// and drops the rest.
inline constexpr int MaxBrowseEntriesPerListing = 500000;

// What browse sessions ask of the program's main thread. Sessions call the
// owner-side methods and browserOpened through callBlocking (the session
// waits); the viewer's reports (entries, end of list, send result, closed)
// are queued, in the order they arrived.
class BrowseHost
{
public:
    virtual ~BrowseHost() = default;

    // --- both sides ---
    virtual Identity ownIdentity() = 0;
    // The display name of the contact with this uid; nothing when the uid is
    // not in the contact list.
    virtual std::optional<QString> peerName(const QByteArray& uid) = 0;

    // --- owner ---
    // The viewer's effective shared paths (empty for an unknown viewer).
    virtual QList<QByteArray> sharedPathsFor(const QByteArray& uid) = 0;
    // The viewer asks to be sent a file or folder already found inside its
    // shares: queue a send transfer; the send result code.
    virtual int sendRequested(const QByteArray& path, const QByteArray& uid) = 0;
    // The viewer asked for its root list for the first time in a session.
    virtual void browsingStarted(BrowseId session, const QByteArray& uid) = 0;
    // A session that gave browsingStarted has ended.
    virtual void browsingEnded(BrowseId session) = 0;

    // --- viewer ---
    // The owner is identified: a browser for the session, titled "%s (%s)"
    // with the owner's name and address.
    virtual void browserOpened(BrowseId session, const QString& title) = 0;
    virtual void entriesArrived(BrowseId session, const QList<ShareEntry>& entries) = 0;
    virtual void listEnded(BrowseId session) = 0;
    virtual void sendResultArrived(BrowseId session, int code) = 0;
    // The session of an opened browser has ended; the browser goes.
    virtual void browserClosed(BrowseId session) = 0;
};

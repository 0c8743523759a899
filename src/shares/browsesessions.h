#pragma once

#include "messenger/chatsessions.h"
#include "shares/browsehost.h"
#include "transport/parsethread.h"
#include "transport/threadregistry.h"

#include <memory>

class BrowseSessionShared;

// The browse sessions of one host: starts them (opened by a chat session's
// request or accepted by the listener) and reaches them by BrowseId from any
// thread. Create it on the host's thread. Destroying it ends every session;
// their reports then reach nobody.
class BrowseSessions
{
public:
    static constexpr int StartTimeoutMs = 30000;

    explicit BrowseSessions(BrowseHost& host,
                            ThreadRegistry& registry = ThreadRegistry::instance());
    ~BrowseSessions();
    BrowseSessions(const BrowseSessions&) = delete;
    BrowseSessions& operator=(const BrowseSessions&) = delete;

    // For sessions started afterwards.
    void setStartTimeout(int ms);

    // A chat session's Browse request: without peerAsked this side browses
    // the peer (direct); with it the peer asked us to connect back and
    // browse us (reverse). 0 when nothing was started.
    BrowseId startOutgoing(const DataSessionRequest& request);
    // Passes Browse requests to startOutgoing and every other kind to next.
    DataSessionStarter dataSessionStarter(DataSessionStarter next = {}) const;
    // Takes over an accepted connection whose hello named kind 2. Any thread.
    BrowseId startAccepted(qintptr descriptor);
    SessionFactory acceptedSessionFactory() const;

    // The viewer's requests (types 4 to 8).
    bool requestStop(BrowseId session);
    bool requestRoots(BrowseId session);
    bool requestFolder(BrowseId session, const QByteArray& path);
    bool requestSearch(BrowseId session, const QByteArray& pattern, const QByteArray& path,
                       bool subFolders);
    bool requestSend(BrowseId session, const QByteArray& path);
    // 1425: ends the session.
    bool end(BrowseId session);

    bool isActive(BrowseId session) const;
    int count() const;

private:
    std::shared_ptr<BrowseSessionShared> m_shared;
};

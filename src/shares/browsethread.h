#pragma once

#include "records/contact.h"
#include "records/identity.h"
#include "shares/browsehost.h"
#include "shares/sharewalk.h"
#include "transport/framedsocket.h"
#include "transport/sessiondirectory.h"
#include "transport/sessionthread.h"

#include <QHash>
#include <QList>
#include <QMutex>
#include <QObject>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class CBrowseThread;
class QTimer;

// Frame types of a browse session.
enum BrowseFrame : uint8_t {
    BrowseIdentify = 1,      // connector -> acceptor: own Identity
    BrowseIdentifyReply = 2, // acceptor -> connector: own Identity
    BrowseStop = 4,          // viewer -> owner
    BrowseListRoots = 5,     // viewer -> owner
    BrowseListFolder = 6,    // viewer -> owner: path
    BrowseSearch = 7,        // viewer -> owner: pattern, path, int32 sub-folders
    BrowseSendRequest = 8,   // viewer -> owner: path
    BrowseOpenBrowser = 9,   // reverse connector (owner) -> acceptor (viewer)
    BrowseEntry = 10,        // owner -> viewer: ShareEntry
    BrowseEndOfList = 11,    // owner -> viewer
    BrowseSendResult = 12,   // owner -> viewer: int32 code
};

// What the browse sessions of one host share: the directory of running
// sessions, the way to the host, and how many sessions each peer has.
class BrowseSessionShared : public SessionDirectory<BrowseHost, CBrowseThread, BrowseId>
{
public:
    using SessionDirectory::SessionDirectory;

    std::atomic<int> startTimeoutMs{30000};

    // Blocking calls into the host (from a session thread).
    Identity ownIdentity();
    std::optional<QString> peerName(const QByteArray& uid);
    QList<QByteArray> sharedPathsFor(const QByteArray& uid);
    int sendRequested(const QByteArray& path, const QByteArray& uid);
    void browsingStarted(BrowseId session, const QByteArray& uid);
    void browserOpened(BrowseId session, const QString& title);
    // Queued reports.
    void browsingEnded(BrowseId session);
    void entriesArrived(BrowseId session, const QList<ShareEntry>& entries);
    void listEnded(BrowseId session);
    void sendResultArrived(BrowseId session, int code);
    void browserClosed(BrowseId session);

    // A place for one more session with this peer; false when it has
    // MaxBrowseSessionsPerPeer already.
    bool claimPeer(const QByteArray& uid);
    void releasePeer(const QByteArray& uid);

private:
    QMutex m_peerMutex;
    QHash<QByteArray, int> m_peerSessions;
};

class CBrowseSocket : public FramedSocket
{
    Q_OBJECT
public:
    explicit CBrowseSocket(CBrowseThread& session);

protected:
    void OnConnected() override;
    void OnHandshakeComplete() override;
    void OnFrame(uint8_t type, const QByteArray& plain) override;
    void OnConnectionClosed() override;

private:
    CBrowseThread& m_session;
};

// One share-browsing session, on its own thread. Either side may be the
// viewer or the owner: the connector browses the acceptor (direct), or, when
// the viewer asked over chat, the owner connects (reverse) and tells the
// viewer to open its browser with type 9. The owner walks its shares here,
// a bounded batch of entries at a time, so a stop or an end of session is
// handled while a listing runs.
class CBrowseThread : public SessionWorker
{
    Q_OBJECT
public:
    // Entries sent per turn of the event loop, and the bytes the socket may
    // hold unsent before the walk waits for them to go out.
    static constexpr int EntriesPerTurn = 1024;
    static constexpr qint64 MaxUnsentBytes = 256 * 1024;

    // Connector: direct (this side views) or reverse (this side owns).
    CBrowseThread(std::shared_ptr<BrowseSessionShared> shared, BrowseId id, bool reverse,
                  const Identity& ownIdentity, const Contact& peer);
    // Acceptor of a connection whose hello named kind 2.
    CBrowseThread(std::shared_ptr<BrowseSessionShared> shared, BrowseId id, qintptr descriptor);
    ~CBrowseThread() override;

    void start() override;
    void end() override;

    // Viewer requests.
    void sendStop();
    void sendRoots();
    void sendFolder(const QByteArray& path);
    void sendSearch(const QByteArray& pattern, const QByteArray& path, bool subFolders);
    void sendSendRequest(const QByteArray& path);

    // From the socket.
    void onConnected();
    void onHandshakeComplete();
    void onFrame(uint8_t type, const QByteArray& plain);
    void onConnectionClosed();

private:
    enum class Role { Unknown, Viewer, Owner };

    bool send(uint8_t type, const QByteArray& payload);
    bool takePeerIdentity(const QByteArray& plain);
    void openBrowser();
    void ownerRequest(uint8_t type, const QByteArray& plain);
    void beginWalk(ShareWalk walk);
    void pumpWalk();
    void finishWalk();
    void viewerFrame(uint8_t type, const QByteArray& plain);
    void flushEntries();
    void endSession();

    std::shared_ptr<BrowseSessionShared> m_shared;
    BrowseId m_id;
    bool m_connector;
    bool m_reverse = false;
    qintptr m_descriptor = -1;
    Identity m_ownIdentity;
    Contact m_peer;
    CBrowseSocket* m_socket = nullptr;
    QTimer* m_startTimer = nullptr;
    bool m_ending = false;
    bool m_identified = false;
    bool m_peerClaimed = false;
    // The peer's display name; nothing when it is not in our contact list.
    std::optional<QString> m_peerName;
    Role m_role = Role::Unknown;
    bool m_browserOpen = false;
    bool m_noticeGiven = false;
    // Owner: the listing or search in progress.
    std::optional<ShareWalk> m_walk;
    bool m_pumpQueued = false;
    bool m_waitingForWrite = false;
    // Viewer: entries not yet handed to the host, and the current listing's count.
    QList<ShareEntry> m_pending;
    bool m_flushQueued = false;
    int m_listed = 0;
    bool m_overflowStopped = false;
};

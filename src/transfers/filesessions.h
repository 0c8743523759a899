#pragma once

#include "messenger/chatsessions.h"
#include "records/contact.h"
#include "records/identity.h"
#include "transfers/transfer.h"
#include "transfers/transferhost.h"
#include "transport/parsethread.h"
#include "transport/threadregistry.h"

#include <QString>

#include <cstdint>
#include <memory>

class FileSessionShared;

// The file sessions of one host (the transfer manager): starts them and
// reaches them by FileSessionId from any thread.
//
// Create it on the host's thread; every call into the host is made on that
// thread. The post and answer functions are the session's thread messages:
// they return false when the session is gone or ending.
//
// Destroying the directory tells every session to end; from then on their
// reports reach nobody.
class FileSessions
{
public:
    static constexpr int ConnectTimeoutMs = 30000;
    static constexpr int KeepAliveIntervalMs = 5000;
    static constexpr int LingerMs = 5000;
    static constexpr int ProgressIntervalMs = 1000;
    static constexpr int EntryRetryMs = 1000;
    // Progress ticks without progress before the session is given up.
    static constexpr int StallTicks = 60;

    enum class Mode {
        Offer,   // this side has the file and offers it (message 4)
        Request, // this side asks the peer to offer it (message 3)
    };

    explicit FileSessions(TransferHost& host,
                          ThreadRegistry& registry = ThreadRegistry::instance());
    ~FileSessions();
    FileSessions(const FileSessions&) = delete;
    FileSessions& operator=(const FileSessions&) = delete;

    // Timings for sessions started afterwards (tests shorten them).
    void setConnectTimeout(int ms);
    void setKeepAliveInterval(int ms);
    void setLingerTime(int ms);
    void setProgressInterval(int ms);
    void setEntryRetryInterval(int ms);
    void setStallTicks(int ticks);

    // Connects to the peer (ip, then its port) and runs the session in the
    // given mode for a copy of the transfer. 0 when the program is closing.
    FileSessionId startOutgoing(Mode mode, const Identity& ownIdentity, const Contact& peer,
                                const Transfer& transfer);
    // A chat session's request: SendFile runs in offer mode, ReceiveFile in
    // request mode (a SendFile the peer asked for gets its status text set
    // first); Browse is not a file session and is dropped. 0 when nothing
    // was started.
    FileSessionId startOutgoing(const DataSessionRequest& request);
    // startOutgoing(request) for ChatSessions::setDataSessionStarter; it
    // keeps the directory's shared state alive by itself.
    DataSessionStarter dataSessionStarter() const;

    // Takes over an accepted connection whose hello named a file session
    // (the descriptor is closed when no session can run). Any thread.
    FileSessionId startAccepted(qintptr descriptor);
    // startAccepted as the listener's session factory for hello kind 1.
    SessionFactory acceptedSessionFactory() const;

    // 1649: cancel (result 13). A sender ends at once, a receiver tells the
    // peer first.
    bool postCancel(FileSessionId session);
    // 1650: the folder's total size is now known.
    bool postSizeKnown(FileSessionId session, uint64_t totalSize);

    // The accept prompt's answers. Accepting tells the sender the user is
    // choosing a path and asks for one (askSavePath); with a non-empty
    // savePath that path is taken as chosen without asking.
    bool answerAccept(FileSessionId session, const QString& savePath = QString());
    bool answerDeny(FileSessionId session);
    // The save picker's answer; an empty path denies the transfer.
    bool answerSavePath(FileSessionId session, const QString& path);
    // The resume prompt's answer.
    bool answerResume(FileSessionId session, ResumeChoice choice);

    // Running and not ending.
    bool isActive(FileSessionId session) const;
    // Sessions whose threads have not ended yet.
    int count() const;

private:
    std::shared_ptr<FileSessionShared> m_shared;
};

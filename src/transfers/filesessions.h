#pragma once

#include "messenger/chatsessions.h"
#include "records/contact.h"
#include "records/identity.h"
#include "transfers/transfer.h"
#include "transfers/transferhost.h"
#include "transport/parsethread.h"
#include "transport/sessiondirectory.h"
#include "transport/threadregistry.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

class CFileThread;
class FileSessionShared;

// What the transfer manager asks of a file session (a thread message each).
enum class FileSessionRequest {
    Cancel,       // cancel (result 13): a sender ends at once, a receiver tells the peer first
    SizeKnown,    // the folder's total size is now known (sent on as type 10)
    AcceptAnswer, // the accept prompt said yes: tell the sender the user is choosing a
                  // path (type 6) and ask for one, or take the given path as chosen
    DenyAnswer,   // the accept prompt said no
    SavePath,     // the save picker's answer; an empty path denies the transfer
    ResumeAnswer, // the resume prompt's answer
    End,          // end the session without a result of its own (closing)
};

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

    // The requests below (see FileSessionRequest) return false when the
    // session is gone or ending.
    bool postCancel(FileSessionId session);
    bool postSizeKnown(FileSessionId session, uint64_t totalSize);
    // With a non-empty savePath that path is taken as chosen without asking.
    bool answerAccept(FileSessionId session, const QString& savePath = QString());
    bool answerDeny(FileSessionId session);
    bool answerSavePath(FileSessionId session, const QString& path);
    bool answerResume(FileSessionId session, ResumeChoice choice);

    // Running and not ending.
    bool isActive(FileSessionId session) const;
    // Sessions whose threads have not ended yet.
    int count() const;

private:
    bool request(FileSessionId session, FileSessionRequest request,
                 std::function<void(CFileThread&)> fn);

    std::shared_ptr<FileSessionShared> m_shared;
};

// Timings and limits for new sessions; tests shorten them.
struct FileSessionTimings
{
    std::atomic<int> connectTimeoutMs{FileSessions::ConnectTimeoutMs};
    std::atomic<int> keepAliveIntervalMs{FileSessions::KeepAliveIntervalMs};
    std::atomic<int> lingerMs{FileSessions::LingerMs};
    std::atomic<int> progressIntervalMs{FileSessions::ProgressIntervalMs};
    std::atomic<int> entryRetryMs{FileSessions::EntryRetryMs};
    std::atomic<int> stallTicks{FileSessions::StallTicks};
};

// What the file sessions of one directory share: the directory, the way to
// their host and the timings. Thread-safe.
class FileSessionShared : public SessionDirectory<TransferHost, CFileThread, FileSessionId>
{
public:
    using SessionDirectory::SessionDirectory;

    FileSessionTimings& timings() { return m_timings; }

    // Calls into the host, made from a session thread. The blocking ones wait
    // for the host's thread; once the host is detached they return defaults.
    Identity ownIdentity();
    QString autosaveFolder(const QByteArray& contactUid);
    TransferContactInfo contactInfo(const QByteArray& contactUid);
    bool savedPathTrusted(const Transfer& offer);
    // False: the host refuses to send this (a request for a path it neither
    // lists nor shares).
    bool sendingSessionIdentified(Transfer& s);
    void selectingSavePath(const Transfer& s);
    void progress(const Transfer& s, const QString& progressText, const QString& speedText);
    void receiveAccepted(const Transfer& s);
    void sessionEnded(int result, const Transfer& s);
    // Queued; nothing waits for them.
    void askAccept(FileSessionId session, const QString& title, const QString& text,
                   const Transfer& offer);
    void acceptTextChanged(FileSessionId session, const QString& text);
    void askSavePath(FileSessionId session, const QString& proposedName, bool folder);
    void askResume(FileSessionId session, const ResumePromptContent& content);
    void closePrompts(FileSessionId session);

private:
    FileSessionTimings m_timings;
};

#pragma once

#include "records/identity.h"
#include "transfers/acceptresume.h"
#include "transfers/transfer.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

// Identifies one file session for the whole run; it is what the session's
// Transfer carries in sessionThreadId, so the transfers list finds the row
// of a session by it. 0 means "no session".
using FileSessionId = uint32_t;

// The receiving user's answer to the resume prompt.
enum class ResumeChoice : int {
    Resume = 1,
    Overwrite = 2,
    Reselect = 3,
    AutoRename = 4,
    Cancel = 5,
};

// The contact a uid names, as the controller knows it.
struct TransferContactInfo
{
    bool found = false;
    QString name; // alias, or the screen name when there is no alias
    QString ip;
};

// What a file session asks of the transfers window and, through it, of the
// messenger controller. The host lives on the main thread.
//
// Reports and questions (everything up to sessionEnded) are synchronous:
// the session waits while the host works on them, so the host may read and
// write the Transfer it is handed. Prompts are asynchronous: the session
// does not wait, keeps serving its connection, and hears the user's answer
// later through FileSessions (answerAccept, answerDeny, answerSavePath,
// answerResume). Every call arrives on the host's thread.
class TransferHost
{
public:
    virtual ~TransferHost() = default;

    // ---- answers of the controller ----

    // An accepted session keys its cipher with the own identity.
    virtual Identity ownIdentity() = 0;
    // The automatic save folder for incoming transfers of that contact, or
    // an empty text when the user is to be asked.
    virtual QString autosaveFolder(const QByteArray& contactUid) = 0;
    // Name and ip address of the contact with that uid.
    virtual TransferContactInfo contactInfo(const QByteArray& contactUid) = 0;
    // An offer that carries a saved path is honoured only when this side
    // lists a receive of the same contact, sender path and saved path
    // (MatchesOwnReceive); otherwise it is decided as if it carried none.
    virtual bool savedPathTrusted(const Transfer& offer) = 0;

    // ---- reports of the session ----

    // A sending session knows its peer, before the offer goes out. The
    // host binds the session to its row (s.sessionThreadId) and may change s:
    // the entry list, bytesDone of the existing row; when the row knows a
    // size s does not, it posts it with FileSessions::postSizeKnown. False
    // refuses: the session tells the peer "denied" and sends nothing of the
    // file (a request for a path this side neither lists nor shares).
    virtual bool sendingSessionIdentified(Transfer& s) = 0;
    // The receiver's user is choosing a save path; s.statusText is
    // "Selecting save path...".
    virtual void selectingSavePath(const Transfer& s) = 0;
    // Once a second while data flows, and once more at the end.
    virtual void progress(const Transfer& s, const QString& progressText,
                          const QString& speedText) = 0;
    // This side accepted an offer (s.isSend == 0).
    virtual void receiveAccepted(const Transfer& s) = 0;
    // The session ended with this SessionResult code; exactly once per
    // session, also for sessions that never identified their peer
    // (s.sessionThreadId is 0 then).
    virtual void sessionEnded(int result, const Transfer& s) = 0;

    // ---- prompts for the receiving user (asynchronous) ----

    // The accept prompt: "&Accept" -> FileSessions::answerAccept,
    // "&Deny" -> FileSessions::answerDeny.
    virtual void askAccept(FileSessionId session, const QString& title, const QString& text,
                           const Transfer& offer) = 0;
    // A size update arrived while the accept prompt is open: new text.
    virtual void acceptTextChanged(FileSessionId session, const QString& text) = 0;
    // The save picker: a file or folder path, the proposed name being the
    // name part of the sender's path. Answered by FileSessions::answerSavePath
    // (an empty path: the user canceled).
    virtual void askSavePath(FileSessionId session, const QString& proposedName, bool folder) = 0;
    // The resume prompt; answered by FileSessions::answerResume.
    virtual void askResume(FileSessionId session, const ResumePromptContent& content) = 0;
    // Every prompt of the session goes away (it was decided, or it ended).
    virtual void closePrompts(FileSessionId session) = 0;
};

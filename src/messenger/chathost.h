#pragma once

#include "records/contact.h"
#include "records/identity.h"

#include <QByteArray>
#include <QtGlobal>

// Identifies one chat session for the whole run; stored in a contact's
// sessionThread while the session is bound to it. 0 means "no session".
using SessionId = quint64;

// Ends of a chat session, as the controller asks for them (the reason of an end request).
enum class EndReason : int { Disconnect = 0, Block = 1, Delete = 2 };

// What a chat session asks of the messenger controller. The controller lives
// on the main thread; sessions call every method through callBlocking (the
// session waits for the answer), except peerSharesFlag and typingReceived,
// which are queued because nothing waits for them.
class ChatHost
{
public:
    virtual ~ChatHost() = default;

    // An accepted session asks for the own identity before its challenge.
    virtual Identity ownIdentity() = 0;
    // The peer's identity arrived (type 2 on the opener, type 1 on the
    // acceptor); true accepts the session, false refuses it.
    virtual bool peerIdentified(SessionId session, const Contact& sessionContact, bool opened) = 0;
    // The peer sent a new identity (type 3).
    virtual void identityUpdated(SessionId session, const Contact& sessionContact) = 0;
    // 1 when folder sharing is on and this peer may see at least one path.
    virtual int ownSharesFlag(SessionId session) = 0;
    // The peer's shares flag (types 4 and 5).
    virtual void peerSharesFlag(SessionId session, int flag) = 0;
    // Moves the contact's offline queue out (empty when there is none).
    virtual QByteArray takeQueue(SessionId session) = 0;
    virtual void messageReceived(SessionId session, const QByteArray& rtf) = 0;
    virtual void queueReceived(SessionId session, const QByteArray& rtf) = 0;
    virtual void typingReceived(SessionId session, int flag) = 0;
    // Reported exactly once per session, whatever ended it.
    virtual void sessionEnded(SessionId session, const Contact& sessionContact, EndReason reason,
                              bool opened) = 0;
};

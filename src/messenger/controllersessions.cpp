#include "messengercontroller.h"

#include "messenger/chatlines.h"
#include "messenger/messengercontrollerdetail.h"
#include "messenger/rtfreader.h"
#include "profile/profilefolder.h"

#include <QLoggingCategory>

#include <algorithm>

using namespace ControllerDetail;

// The controller as the chat sessions' host: a peer identified, its identity
// changed, its shares flag, queue, messages and typing, the session's end.

Identity MessengerController::ownIdentity()
{
    // An accepted session does not know its peer yet.
    return identityForPeer(nullptr);
}

void MessengerController::copyPeerIdentity(const Contact& from, Contact& to)
{
    // The password field of a contact is the one we hold for that peer; the
    // peer's identity carries the one it holds for us.
    const auto kept = to.password;
    CopyIdentity(from, to);
    to.password = kept;
}

void MessengerController::announceOnline(const Contact& contact)
{
    if (contact.status != StatusOnline)
        return;
    if (Settings::on(m_settings.animateMessage))
        m_ui->popup(DisplayName(contact), QStringLiteral("Is Online"), contact.uid.bytes());
    if (Settings::on(m_settings.soundMessage))
        m_ui->playSound(OnlineSound);
}

void MessengerController::renameStep(Contact& contact, const QString& oldName)
{
    if (m_hooks)
        m_hooks->contactRenamed(contact, oldName);
}

bool MessengerController::peerIdentified(SessionId session, const Contact& sc, bool opened)
{
    if (!opened && sc.uid == m_own.uid) {
        emitEvent(QStringLiteral("You cannot connect to yourself"));
        return false;
    }
    Contact* known = nullptr;
    for (const auto& e : m_entries) {
        Contact& c = *e->contact;
        if (c.sessionThread == session)
            return false;
        if (c.uid == sc.uid && !sc.uid.isEmpty()) {
            known = &c;
            break;
        }
    }

    if (known) {
        Contact& c = *known;
        if (c.sessionThread != 0) {
            if (opened)
                emitEvent(QStringLiteral("Connection Canceled: UID of %1 matches %2 (%3)")
                              .arg(sc.ip.text(), c.name.text(), c.ip.text()));
            return false;
        }
        if (!opened && c.blocked != 0)
            return false;

        c.sessionThread = session;
        const bool addressChanged = sc.ip != c.ip;
        const QString oldName = c.name.text();
        QString line = RenameLine(c, sc);
        const bool renamed = !line.isEmpty();
        copyPeerIdentity(sc, c);
        // Added again: the password typed now is the one kept.
        if (m_addPasswords.contains(session))
            c.password.set(m_addPasswords.take(session));
        if (line.isEmpty())
            line = QStringLiteral("%1 (%2) is %3").arg(DisplayName(c), c.ip.text(), StatusText(c));
        if (addressChanged && m_hooks)
            m_hooks->contactNameOrAddressChanged(c);
        if (renamed)
            renameStep(c, oldName);
        c.connectTime = now();
        emitEvent(line);
        m_ui->contactListChanged();
        refreshContact(c);
        announceOnline(c);
        return true;
    }

    if (!opened && Settings::on(m_settings.requirePassword) && sc.password != m_own.password)
        return false;

    auto contact = std::make_unique<Contact>(sc);
    // What the peer sent is the password it holds for us; we keep the one we
    // hold for it: typed when adding it, else none.
    contact->password.set(m_addPasswords.take(session));
    contact->sessionThread = session;
    contact->typing = 0;
    contact->connectTime = now();
    Contact& c = *contact;
    addEntry(std::move(contact));
    if (m_hooks)
        m_hooks->contactIdentified(c);
    emitEvent(
        QStringLiteral("New Contact %1 (%2) is %3").arg(c.name.text(), c.ip.text(), StatusText(c)));
    announceOnline(c);
    m_ui->contactListChanged();
    return true;
}

void MessengerController::identityUpdated(SessionId session, const Contact& sc)
{
    Contact* found = findContactBySession(session);
    if (!found)
        return;
    Contact& c = *found;
    const QString oldName = c.name.text();
    QString line = RenameLine(c, sc);
    const bool renamed = !line.isEmpty();
    if (!renamed && (sc.status != c.status ||
                     (sc.status == StatusAwayMessage && sc.awayMessage != c.awayMessage))) {
        Contact shown = c;
        CopyIdentity(sc, shown);
        line = QStringLiteral("%1 (%2) is %3")
                   .arg(DisplayName(shown), shown.ip.text(), StatusText(shown));
    }
    const bool cameOnline = sc.status != c.status && sc.status == StatusOnline;
    const bool addressChanged = sc.ip != c.ip;
    copyPeerIdentity(sc, c);
    if (renamed)
        renameStep(c, oldName);
    else if (addressChanged && m_hooks)
        m_hooks->contactNameOrAddressChanged(c);
    if (cameOnline)
        announceOnline(c);
    if (!line.isEmpty())
        emitEvent(line);
    m_ui->contactListChanged();
    refreshContact(c);
}

int MessengerController::ownSharesFlag(SessionId session)
{
    if (const Contact* c = findContactBySession(session))
        return sharesFlagFor(*c);
    return generalSharing() ? 1 : 0;
}

void MessengerController::peerSharesFlag(SessionId session, int flag)
{
    if (Contact* c = findContactBySession(session)) {
        c->peerShares = flag;
        refreshContact(*c);
    }
}

QByteArray MessengerController::takeQueue(SessionId session)
{
    Contact* c = findContactBySession(session);
    return c ? TakeQueue(*c) : QByteArray();
}

void MessengerController::messageReceived(SessionId session, const QByteArray& rtf)
{
    if (Contact* c = findContactBySession(session)) {
        appendPeerLine(*c, false, rtf);
        noticeMessage(*c, false);
    }
}

void MessengerController::queueReceived(SessionId session, const QByteArray& rtf)
{
    if (Contact* c = findContactBySession(session)) {
        appendPeerLine(*c, true, rtf);
        noticeMessage(*c, true);
    }
}

void MessengerController::typingReceived(SessionId session, int flag)
{
    Contact* found = findContactBySession(session);
    if (!found)
        return;
    Contact& c = *found;
    c.typing = flag;
    if (flag != 0)
        setChatStatus(c, QStringLiteral(" %1 is typing a message").arg(DisplayName(c)));
    else if (chatStatusText(c).contains(TypingWord))
        setChatStatus(c, QString());
    refreshTypingLine();
    m_ui->typingChanged(c, flag != 0);
}

void MessengerController::refreshTypingLine()
{
    QStringList names;
    for (const auto& e : m_entries) {
        if (e->contact->typing != 0)
            names.append(DisplayName(*e->contact));
    }
    if (!names.isEmpty())
        setMainStatus(QStringLiteral(" %1 is typing a message").arg(names.join(QLatin1Char(','))));
    else if (m_mainStatus.contains(TypingWord))
        setMainStatus(QString());
}

void MessengerController::sessionEnded(SessionId session, const Contact& sc, EndReason reason,
                                       bool opened)
{
    m_addPasswords.remove(session);
    if (sc.uid == m_own.uid)
        return;
    Contact* found = nullptr;
    for (const auto& e : m_entries) {
        Contact& c = *e->contact;
        if ((session != 0 && c.sessionThread == session) ||
            (!sc.uid.isEmpty() && c.uid == sc.uid)) {
            found = &c;
            break;
        }
    }

    if (found && session != 0 && found->sessionThread == session) {
        Contact& c = *found;
        if (Entry* e = entryOf(c)) {
            if (reason == EndReason::Disconnect)
                reason = e->requestedEnd;
            e->requestedEnd = EndReason::Disconnect;
        }
        if (c.typing != 0) {
            c.typing = 0;
            if (chatStatusText(c).contains(TypingWord))
                setChatStatus(c, QString());
            refreshTypingLine();
            m_ui->typingChanged(c, false);
        }
        switch (reason) {
        case EndReason::Block:
            emitEvent(QStringLiteral("%1 (%2) is now Blocked").arg(DisplayName(c), c.ip.text()));
            c.blocked = 1;
            c.status = StatusBlocked;
            break;
        case EndReason::Delete:
            emitEvent(QStringLiteral("%1 (%2) has been Deleted").arg(DisplayName(c), c.ip.text()));
            removeContact(c);
            return;
        default:
            emitEvent(QStringLiteral("%1 (%2) has Disconnected").arg(DisplayName(c), c.ip.text()));
            c.status = StatusOffline;
            break;
        }
        c.disconnectTime = now();
        c.sessionThread = 0;
        c.peerShares = 0;
        m_ui->contactListChanged();
        refreshContact(c);
        return;
    }

    if (found) {
        if (opened) {
            emitEvent(QStringLiteral("Failed to connect to: %1:%2")
                          .arg(DisplayName(*found))
                          .arg(found->port));
            if (found->sessionThread == 0 && found->status != StatusBlocked) {
                found->status = StatusOffline;
                refreshContact(*found);
            }
        }
        return;
    }
    if (opened)
        emitEvent(QStringLiteral("Failed to connect to: %1:%2").arg(sc.ip.text()).arg(sc.port));
}

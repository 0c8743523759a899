#include "messengercontroller.h"

#include "messenger/chatlines.h"
#include "messenger/messengercontrollerdetail.h"
#include "messenger/rtfreader.h"
#include "profile/profilefolder.h"

#include <QLoggingCategory>

#include <algorithm>

using namespace ControllerDetail;

// Messages: sending from the main window and the chat windows, the offline
// queue, the lines of both panes and typing notices.

bool MessengerController::canTakeMessage(const Contact& contact)
{
    return contact.sessionThread != 0 && contact.status != StatusOffline;
}

bool MessengerController::postMessage(Contact& contact, const QByteArray& rtf)
{
    return canTakeMessage(contact) && m_sessions->postMessage(contact.sessionThread, rtf);
}

bool MessengerController::QueueMessage(Contact& contact, const QByteArray& rtf)
{
    if (contact.queue.size() >= QueueLimit)
        return false;
    const QByteArray piece =
        ChatLines::QueuedPiece(ChatLines::TimeStamp(QDateTime::currentDateTime()), rtf);
    // QueMsgs.cfg keeps every queue whole; a queue it could not hold is full.
    if (contact.queue.size() + piece.size() > MaxProfileText)
        return false;
    contact.queue += piece;
    return true;
}

QByteArray MessengerController::TakeQueue(Contact& contact)
{
    return std::exchange(contact.queue, QByteArray());
}

bool MessengerController::ClearQueue(Contact& contact, bool confirm)
{
    if (confirm &&
        !m_ui->askYesNo(
            QStringLiteral("Are you sure?"),
            QStringLiteral(
                "Are you sure you want to clear all the queued messages for this contact?")))
        return false;
    contact.queue.clear();
    refreshContact(contact);
    return true;
}

QList<QByteArray> MessengerController::queueDocuments(const Contact& contact)
{
    return ChatLines::SplitQueueDocuments(contact.queue);
}

void MessengerController::ShowQueue(Contact& contact)
{
    m_ui->showQueueViewer(QStringLiteral("Offline Message Queue for %1").arg(DisplayName(contact)),
                          queueDocuments(contact));
}

void MessengerController::appendOwnLine(const Contact* pane, bool queued, const QString& recipients,
                                        const RichText& message)
{
    ChatHistory& h = pane ? history(*pane) : m_mainHistory;
    const QString sender = m_own.name.text();
    if (queued)
        h.AppendQueuedOwnLine(sender, recipients, message);
    else
        h.AppendOwnLine(sender, recipients, message);
    PaneLine line;
    line.kind = queued ? PaneLine::QueuedOwn : PaneLine::Own;
    line.sender = sender;
    line.recipients = recipients;
    line.documents.append(plainText(message));
    m_ui->lineAppended(pane, line);
}

void MessengerController::appendPeerLine(Contact& contact, bool queue, const QByteArray& rtf)
{
    const QString sender = DisplayName(contact);
    PaneLine line;
    line.kind = queue ? PaneLine::QueuedPeer : PaneLine::Peer;
    line.sender = sender;
    if (queue) {
        for (const QByteArray& document : ChatLines::SplitQueueDocuments(rtf))
            line.documents.append(plainText(RtfReader::read(document)));
        for (ChatHistory* h : {&m_mainHistory, &history(contact)})
            h->AppendQueuedPeerLines(sender, rtf);
    } else {
        const RichText message = RtfReader::read(rtf);
        line.documents.append(plainText(message));
        for (ChatHistory* h : {&m_mainHistory, &history(contact)})
            h->AppendPeerLine(sender, message);
    }
    m_ui->lineAppended(nullptr, line);
    m_ui->lineAppended(&contact, line);
}

void MessengerController::noticeMessage(Contact& contact, bool queue)
{
    const bool flash = Settings::on(m_settings.flashOnMessage);
    bool chatVisible = m_ui->isChatWindowVisible(contact);
    if (Settings::on(m_settings.autoPopupChat) && !m_ui->isMainWindowVisible()) {
        if (!chatVisible)
            m_ui->showChatWindowInactive(contact);
        chatVisible = true;
    }
    if (chatVisible) {
        if (flash && !m_ui->isChatWindowForeground(contact))
            m_ui->flashChatWindow(contact);
    } else {
        if (!m_ui->isMainWindowVisible())
            m_ui->showMainWindowInactive();
        if (flash && !m_ui->isMainWindowForeground())
            m_ui->flashMainWindow();
    }
    if (!m_ui->isMainWindowForeground() && !m_ui->isChatWindowForeground(contact)) {
        if (Settings::on(m_settings.soundMessage))
            m_ui->playSound(MessageSound);
        if (Settings::on(m_settings.animateMessage))
            m_ui->popup(DisplayName(contact),
                        queue ? QStringLiteral("Sent a Queued Message")
                              : QStringLiteral("Sent a Message"),
                        contact.uid.bytes());
    }
}

MessengerController::SendResult MessengerController::SendFromMain(const QList<Contact*>& selected,
                                                                  const QByteArray& rtf)
{
    SendResult result;
    QList<Contact*> targets;
    for (const auto& e : m_entries) {
        if (selected.contains(e->contact.get()))
            targets.append(e->contact.get());
    }
    if (targets.isEmpty()) {
        setMainStatus(QStringLiteral(" No contact selected.\n"));
        return result;
    }
    const RichText message = RtfReader::read(rtf);
    if (message.plainText().isEmpty()) {
        setMainStatus(QStringLiteral(" No message to send.\n"));
        return result;
    }
    for (Contact* c : targets) {
        const QString name = DisplayName(*c);
        if (postMessage(*c, rtf)) {
            result.sent.append(name);
            appendOwnLine(c, false, name, message);
        } else if (QueueMessage(*c, rtf)) {
            result.sent.append(name);
            result.queued = true;
            appendOwnLine(c, true, name, message);
        } else {
            result.failed.append(name);
        }
    }
    if (!result.sent.isEmpty()) {
        appendOwnLine(nullptr, result.queued, result.sent.join(QStringLiteral(", ")), message);
        result.clearInput = true;
    }
    if (!m_mainStatus.contains(TypingWord)) {
        setMainStatus(result.failed.isEmpty() ? QString()
                                              : QStringLiteral(" Failed (Queue Full): ") +
                                                    result.failed.join(QStringLiteral(", ")));
    }
    return result;
}

bool MessengerController::SendFromChatWindow(Contact& contact, const QByteArray& rtf)
{
    if (!entryOf(contact))
        return false;
    const RichText message = RtfReader::read(rtf);
    if (message.plainText().isEmpty()) {
        setChatStatus(contact, QStringLiteral(" No message to send.\n"));
        return false;
    }
    const QString name = DisplayName(contact);
    if (postMessage(contact, rtf)) {
        appendOwnLine(&contact, false, name, message);
        appendOwnLine(nullptr, false, name, message);
        if (!chatStatusText(contact).contains(TypingWord))
            setChatStatus(contact, QString());
        return true;
    }
    if (QueueMessage(contact, rtf)) {
        appendOwnLine(nullptr, true, name, message);
        appendOwnLine(&contact, true, name, message);
        return true;
    }
    if (!chatStatusText(contact).contains(TypingWord))
        setChatStatus(contact, QStringLiteral(" Failed to send message (Queue Full)."));
    return false;
}

void MessengerController::MainInputTyping(int flag, const QList<Contact*>& selected)
{
    for (const auto& e : m_entries) {
        const Contact& c = *e->contact;
        if (c.sessionThread == 0)
            continue;
        if (!selected.contains(&c))
            m_sessions->postTyping(c.sessionThread, 0);
        else if (flag == 0 || c.status != StatusOffline)
            m_sessions->postTyping(c.sessionThread, flag);
    }
}

void MessengerController::ChatInputTyping(Contact& contact, int flag)
{
    // A peer that shows itself Offline hears of no typing.
    if (contact.sessionThread != 0 && (flag == 0 || contact.status != StatusOffline))
        m_sessions->postTyping(contact.sessionThread, flag);
}

void MessengerController::Talk(const QByteArray& uid)
{
    Contact* c = findContact(uid);
    if (!c)
        return;
    if ((Settings::on(m_settings.autoPopupChat) && !m_ui->isMainWindowVisible()) ||
        m_ui->selectedContactCount() > 1 || m_ui->isChatWindowVisible(*c))
        m_ui->showChatWindowAndFocus(*c);
    else
        m_ui->focusContactInMainWindow(*c);
}

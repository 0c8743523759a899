#include "transfers/transfermanager.h"

#include "messenger/messengercontroller.h"
#include "records/contact.h"
#include "transfers/acceptresume.h"
#include "transfers/headcrc.h"
#include "transfers/pathguard.h"
#include "transfers/sessionresult.h"
#include "transfers/transferformat.h"
#include "transfers/transferlist.h"
#include "transfers/transfermanagerdetail.h"
#include "transfers/transferslog.h"
#include "transport/connectionhello.h"
#include "transport/listenthread.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>
#include <QThread>
#include <QTimer>

#include <algorithm>

using namespace TransferManagerDetail;

// The transfer manager as the file sessions' host: its answers, the sessions'
// reports on their rows, and the prompts they ask for.

// --- TransferHost: answers of the controller ---

Identity TransferManager::ownIdentity()
{
    // For an accepted file session, whose peer is not known yet.
    return m_controller.identityForPeer();
}

QString TransferManager::autosaveFolder(const QByteArray& contactUid)
{
    const Contact* contact = m_controller.findContact(contactUid);
    return contact ? AutosaveFolder(*contact, m_controller.settings()) : QString();
}

TransferContactInfo TransferManager::contactInfo(const QByteArray& contactUid)
{
    TransferContactInfo info;
    if (const Contact* contact = m_controller.findContact(contactUid)) {
        info.found = true;
        info.name = DisplayName(*contact);
        info.ip = contact->ip.text();
    }
    return info;
}

bool TransferManager::savedPathTrusted(const Transfer& offer)
{
    return std::any_of(m_rows.cbegin(), m_rows.cend(),
                       [&offer](const auto& r) { return MatchesOwnReceive(offer, r->transfer); });
}

bool TransferManager::sharedWith(const Contact& contact, const QString& path) const
{
    QStringList roots;
    for (const QByteArray& share : contact.shares)
        roots.append(QString::fromUtf8(share));
    roots += m_controller.settings().sharedPathTexts();
    return std::any_of(roots.cbegin(), roots.cend(), [&path](const QString& root) {
        return !root.isEmpty() && IsPathInside(root, path);
    });
}

// --- TransferHost: reports of the sessions ---

bool TransferManager::sendingSessionIdentified(Transfer& s)
{
    for (int i = 0; i < rowCount(); ++i) {
        TransferRow& r = *m_rows[size_t(i)];
        Transfer& t = r.transfer;
        if (r.removeWhenStopped || !t.isSend || t.contactUid != s.contactUid ||
            !sameLocalPath(t.senderPath, s.senderPath))
            continue;
        t.sessionThreadId = s.sessionThreadId;
        t.state = TransferState::Waiting;
        s.entries = t.entries;
        s.bytesDone = t.bytesDone;
        if (t.sizeUnknown)
            // The walk still fills the list: the session must wait for it
            // rather than end when the list runs dry.
            s.sizeUnknown = 1;
        else if (s.sizeUnknown)
            m_files->postSizeKnown(s.sessionThreadId, t.totalSize);
        t.statusText =
            s.savedPath.isEmpty() ? QStringLiteral("Waiting for acceptance...") : CalculatingText;
        changed(i);
        return true;
    }

    // The peer asks for something this side no longer lists. Only what is
    // shared with it may be sent; anything else would let a peer read any
    // file of this user.
    const Contact* contact = m_controller.findContact(s.contactUid);
    if (!contact || !sharedWith(*contact, s.senderPath)) {
        qCWarning(lcTransfers) << "refused a request for an unlisted path:" << s.senderPath;
        emit requestRefused(s.contactUid, s.senderPath);
        return false;
    }
    s.isFolder = QFileInfo(s.senderPath).isDir() ? 1 : 0;
    s.bytesDone = 0;
    s.percent = 0;
    s.state = TransferState::Waiting;
    s.statusText = CalculatingText;
    auto row = newSendRow(s, contact);
    row->transfer = CopyTransfer(s);
    row->transfer.contactBound = true;
    row->transfer.queueTime = int32_t(now());
    if (s.isFolder) {
        startWalk(*row);
        s.calcThreadId = row->transfer.calcThreadId;
    }
    insertRow(std::move(row), 0);
    return true;
}

void TransferManager::selectingSavePath(const Transfer& s)
{
    const int index = rowOfSession(s.sessionThreadId);
    if (index < 0)
        return;
    m_rows[size_t(index)]->transfer.statusText = s.statusText;
    changed(index);
}

void TransferManager::progress(const Transfer& s, const QString& progressText,
                               const QString& speedText)
{
    const int index = rowOfSession(s.sessionThreadId);
    if (index < 0)
        return;
    TransferRow& r = *m_rows[size_t(index)];
    Transfer& t = r.transfer;
    t.state = TransferState::Transferring;
    t.bytesDone = s.bytesDone;
    t.percent = s.percent;
    t.startTime = s.startTime;
    t.stopTime = s.stopTime;
    t.senderPath = s.senderPath;
    t.savedPath = s.savedPath;
    t.statusText = s.statusText;
    if (!t.isSend) {
        // Only the session learns a folder's late total on this side.
        t.totalSize = s.totalSize;
        t.sizeUnknown = s.sizeUnknown;
    }
    r.sizeText = progressText;
    r.speedText = speedText;
    changed(index);
}

void TransferManager::receiveAccepted(const Transfer& s)
{
    const Contact* contact = m_controller.findContact(s.contactUid);
    if (!contact)
        return;
    Transfer copy = CopyTransfer(s);
    copy.isSend = 0;
    copy.state = TransferState::Transferring;
    copy.contactBound = true;
    copy.statusText = CalculatingText;
    copy.percent = -1;
    for (int i = 0; i < rowCount(); ++i) {
        TransferRow& r = *m_rows[size_t(i)];
        const Transfer& t = r.transfer;
        if (t.isSend || t.contactUid != copy.contactUid ||
            !samePeerPath(t.senderPath, copy.senderPath) ||
            !sameLocalPath(t.savedPath, copy.savedPath))
            continue;
        r.transfer = std::move(copy);
        r.sizeText = FormatSize(r.transfer.totalSize);
        r.speedText = IdleSpeedText;
        changed(i);
        return;
    }
    auto row = std::make_unique<TransferRow>();
    row->transfer = std::move(copy);
    row->sizeText = FormatSize(row->transfer.totalSize);
    row->contactText = contactText(contact);
    row->speedText = IdleSpeedText;
    insertRow(std::move(row), 0);
    if (m_ui)
        m_ui->showTransfers(false);
}

void TransferManager::sessionEnded(int result, const Transfer& s)
{
    const int index = rowOfSession(s.sessionThreadId);
    if (index < 0)
        return;
    TransferRow& r = *m_rows[size_t(index)];
    Transfer& t = r.transfer;
    t.bytesDone = s.bytesDone;
    t.sessionThreadId = 0;
    t.percent = std::max(t.percent, 0);
    t.stopTime = int32_t(now());
    if (!t.isSend) {
        t.totalSize = s.totalSize;
        t.sizeUnknown = s.sizeUnknown;
        // A finished file that found the user's own file at its place took a new name.
        if (!s.savedPath.isEmpty())
            t.savedPath = s.savedPath;
    }
    r.speedText = IdleSpeedText;
    const SessionOutcome outcome = SessionResultOutcome(result);
    t.state = outcome.state;
    t.statusText = outcome.statusText;
    changed(index);
}

// --- TransferHost: prompts ---

void TransferManager::askAccept(FileSessionId session, const QString& title, const QString& text,
                                const Transfer& offer)
{
    if (m_ui)
        m_ui->askAccept(session, title, text, offer);
    else
        m_files->answerDeny(session);
}

void TransferManager::acceptTextChanged(FileSessionId session, const QString& text)
{
    if (m_ui)
        m_ui->acceptTextChanged(session, text);
}

void TransferManager::askSavePath(FileSessionId session, const QString& proposedName, bool folder)
{
    if (m_ui)
        m_ui->askSavePath(session, proposedName, folder);
    else
        m_files->answerSavePath(session, QString());
}

void TransferManager::askResume(FileSessionId session, const ResumePromptContent& content)
{
    if (m_ui)
        m_ui->askResume(session, content);
    else
        m_files->answerResume(session, ResumeChoice::Cancel);
}

void TransferManager::closePrompts(FileSessionId session)
{
    if (m_ui)
        m_ui->closePrompts(session);
}

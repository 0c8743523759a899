#include "transfers/filethread.h"

#include "profile/profilefolder.h"
#include "transfers/filesocket.h"
#include "transfers/filethreaddetail.h"
#include "transfers/headcrc.h"
#include "transfers/pathguard.h"
#include "transfers/sessionresult.h"
#include "transfers/transferformat.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTcpSocket>
#include <QTimer>
#include <QtEndian>

#include <algorithm>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

using namespace FileThreadDetail;

// The receiving side of a file session: the decision on an offer (automatic
// save folder or the accept prompt, resume or rename, the ".part" file) and
// the single file's data.

// ---- the receiver's decision ----

void CFileThread::decideOffer()
{
    Transfer& t = m_transfer;
    bool trusted = false;
    if (!t.savedPath.isEmpty()) {
        trusted = IsPlainAbsolutePath(t.savedPath) && m_shared->savedPathTrusted(t);
        if (m_ending)
            return;
        if (!trusted) {
            // Only a resume this side started may name where the data goes.
            qCInfo(lcFileSession) << "session" << m_id << "ignores the offered saved path"
                                  << t.savedPath;
            t.savedPath.clear();
        }
    }
    const QString folder = trusted ? QString() : m_shared->autosaveFolder(t.contactUid);
    if (m_ending)
        return;
    if (!trusted && folder.isEmpty()) {
        openAcceptPrompt();
        return;
    }
    const OfferDecision decision = DecideOfferAutomatic(t, trusted, folder);
    switch (decision.kind) {
    case OfferDecision::Accept:
        t.savedPath = decision.savedPath;
        t.bytesDone = decision.offset;
        accept();
        break;
    case OfferDecision::Refuse:
        sendStatus(decision.refusalCode);
        break;
    case OfferDecision::Ask:
        openAcceptPrompt();
        break;
    }
}

void CFileThread::openAcceptPrompt()
{
    const Transfer& t = m_transfer;
    const TransferContactInfo info = m_shared->contactInfo(t.contactUid);
    if (m_ending)
        return;
    const QString name = info.found ? info.name : DisplayName(m_peer);
    const QString ip = info.found ? info.ip : m_peer.ip.text();
    m_acceptPromptOpen = true;
    m_promptsShown = true;
    m_shared->askAccept(m_id, AcceptPromptTitle(t), AcceptPromptText(t, name, ip), t);
}

void CFileThread::acceptAnswered(const QString& savePath)
{
    if (m_ending || !m_acceptPromptOpen)
        return;
    // The prompt hides while the user picks a path; the sender shows
    // "Selecting save path...".
    m_acceptPromptOpen = false;
    if (!send(FileSelectingPath, Uint32Payload(0)))
        return;
    if (!savePath.isEmpty()) {
        pathChosen(savePath);
        return;
    }
    m_askingPath = true;
    m_shared->askSavePath(m_id, PathNamePart(m_transfer.senderPath), m_transfer.isFolder != 0);
}

void CFileThread::denyAnswered()
{
    if (m_ending || !(m_acceptPromptOpen || m_askingPath || m_askingResume))
        return;
    deny();
}

void CFileThread::savePathAnswered(const QString& path)
{
    if (m_ending || !m_askingPath)
        return;
    m_askingPath = false;
    if (path.isEmpty()) {
        deny();
        return;
    }
    pathChosen(path);
}

void CFileThread::pathChosen(const QString& path)
{
    Transfer& t = m_transfer;
    QString saved = QDir::cleanPath(t.isFolder ? path : StripPartialSuffix(path));
    t.savedPath = saved;
    const PickedPathOutcome outcome = DecidePickedPath(t, saved);
    if (outcome.accept) {
        t.bytesDone = outcome.offset;
        accept();
        return;
    }
    askResume(outcome.code, outcome.offset);
}

void CFileThread::askResume(TargetClass code, uint64_t offset)
{
    m_resumeCode = code;
    m_resumeOffset = offset;
    m_resumeContent = ResumePrompt(code, m_transfer, offset);
    m_askingResume = true;
    m_promptsShown = true;
    m_shared->askResume(m_id, m_resumeContent);
}

void CFileThread::resumeAnswered(ResumeChoice choice)
{
    if (m_ending || !m_askingResume)
        return;
    Transfer& t = m_transfer;
    // A button the prompt showed disabled cannot have been pressed.
    if ((choice == ResumeChoice::Resume && !m_resumeContent.resumeEnabled) ||
        (choice == ResumeChoice::Overwrite && !m_resumeContent.overwriteEnabled)) {
        qCDebug(lcFileSession) << "session" << m_id << "asks again after a disabled choice";
        m_shared->askResume(m_id, m_resumeContent);
        return;
    }
    m_askingResume = false;
    switch (choice) {
    case ResumeChoice::Resume:
        if (!t.isFolder)
            t.bytesDone = m_resumeOffset;
        accept();
        break;
    case ResumeChoice::Overwrite:
        if (t.isFolder)
            m_overwriteFolder = true;
        else
            t.bytesDone = 0;
        m_overwriteChosen = true;
        accept();
        break;
    case ResumeChoice::Reselect:
        m_overwriteChosen = false;
        m_askingPath = true;
        m_shared->askSavePath(m_id, PathNamePart(t.senderPath), t.isFolder != 0);
        break;
    case ResumeChoice::AutoRename: {
        QString renamed = t.savedPath;
        if (!AutoRename(renamed)) {
            deny();
            break;
        }
        t.savedPath = renamed;
        t.bytesDone = 0;
        accept();
        break;
    }
    case ResumeChoice::Cancel:
    default:
        deny();
        break;
    }
}

void CFileThread::deny()
{
    m_acceptPromptOpen = m_askingPath = m_askingResume = false;
    closePromptsIfAny();
    sendStatus(SessionResult::Denied);
}

// Claims target and opens (or creates) its ".part" file for writing at
// offset, never through a link and with the file locked against every other
// writer. The data goes behind the first offset bytes, so the file is cut to
// the offset when it is longer, and the offset falls back to its length when
// it is shorter. located: target's real location when just looked up;
// nameInFolder: target's name in the open entry folder, when it lies there.
bool CFileThread::openPartial(const QString& target, uint64_t& offset, const QString& located,
                              const QByteArray& nameInFolder)
{
    TargetClaim claim =
        located.isEmpty() ? TargetClaim::take(target) : TargetClaim::takeLocated(located);
    const QString partial = target + PartialSuffix;
    FileHandle file(!claim.held() ? -1
                    : nameInFolder.isEmpty()
                        ? OpenForWriting(partial, offset == 0)
                        : OpenForWritingAt(m_entryFolder.fd(),
                                           (nameInFolder + PartialSuffix.latin1()).constData(),
                                           offset == 0));
    if (!file.isOpen()) {
        qCWarning(lcFileSession) << "session" << m_id << "cannot write" << partial;
        return false;
    }
    if (offset != 0) {
        struct stat st;
        if (::fstat(file.get(), &st) != 0)
            return false;
        const auto length = static_cast<uint64_t>(st.st_size);
        if (length < offset)
            offset = length;
        else if (length > offset && ::ftruncate(file.get(), static_cast<off_t>(offset)) != 0)
            return false;
        if (::lseek(file.get(), static_cast<off_t>(offset), SEEK_SET) < 0)
            return false;
    }
    m_partFile = std::move(file);
    m_claim = std::move(claim);
    m_targetInFolder = nameInFolder;
    return true;
}

// The partial file, complete and closed, becomes the target. A file that is at
// the target by now is replaced only when the user chose to overwrite;
// otherwise it stays, and the finished file takes the next free name
// (target is changed to it).
bool CFileThread::finishPartial(QString& target, bool replace, TargetClaim& claim,
                                const QByteArray& nameInFolder)
{
    const QString partial = target + PartialSuffix;
    bool done = false;
    if (replace) {
        done = QFileInfo(target).isDir() ? false
                                         : ::rename(QFile::encodeName(partial).constData(),
                                                    QFile::encodeName(target).constData()) == 0;
    } else if (!nameInFolder.isEmpty() &&
               RenameNoReplaceAt(m_entryFolder.fd(),
                                 (nameInFolder + PartialSuffix.latin1()).constData(),
                                 nameInFolder.constData())) {
        done = true;
    } else {
        while (!(done = RenameNoReplace(partial, target))) {
            QString renamed = target;
            if (!PathExists(target) || !AutoRename(renamed))
                break;
            qCInfo(lcFileSession) << "session" << m_id << "keeps" << target << "and saves to"
                                  << renamed;
            target = renamed;
        }
    }
    claim.release();
    if (!done)
        qCWarning(lcFileSession) << "session" << m_id << "cannot rename" << partial << "to"
                                 << target;
    return done;
}

// The entry whose data came in last becomes its target once the reply to
// the next entry is out, while the sender reads and sends that entry's
// data. False when it could not be put in place (WriteError is sent).
bool CFileThread::finishDueEntry()
{
    if (!m_due)
        return true;
    DueEntry due = std::move(*m_due);
    m_due.reset();
    if (finishPartial(due.target, m_overwriteFolder, due.claim, due.nameInFolder))
        return true;
    m_result = SessionResult::WriteError;
    sendStatus(SessionResult::WriteError);
    return false;
}

void CFileThread::accept()
{
    Transfer& t = m_transfer;
    m_keepAliveTimer->stop();
    m_acceptPromptOpen = m_askingPath = m_askingResume = false;
    closePromptsIfAny();

    if (t.isFolder) {
        if (!CreateFolderPath(t.savedPath)) {
            sendStatus(SessionResult::PeerFolderFailed);
            return;
        }
    } else {
        if (t.bytesDone > t.totalSize)
            t.bytesDone = 0;
        m_target = t.savedPath;
        uint64_t offset = t.bytesDone;
        if (!openPartial(m_target, offset)) {
            sendStatus(SessionResult::PeerCannotWrite);
            return;
        }
        t.bytesDone = offset;
    }
    t.isSend = 0;
    m_shared->receiveAccepted(t);
    if (m_ending)
        return;

    if (!t.isFolder && t.totalSize == 0) {
        // Nothing to stream: the empty file is complete at once.
        t.startTime = t.stopTime = Now();
        m_meter.start(0);
        progressTick();
        m_result = SessionResult::Complete;
        m_partFile.reset();
        if (!finishPartial(m_target, m_overwriteChosen, m_claim)) {
            m_result = SessionResult::WriteError;
            sendStatus(SessionResult::WriteError);
            return;
        }
        t.savedPath = m_target;
        sendStatus(SessionResult::Complete);
        return;
    }

    QByteArray payload = t.savedPath.toUtf8();
    payload.append('\0');
    payload.append(Uint64Payload(t.bytesDone));
    if (!send(FileAccept, payload))
        return;
    m_accepted = true;
    restartStream();
    t.startTime = Now();
    m_meter.start(t.bytesDone);
    m_progressTimer->start();
    if (!t.isFolder)
        m_socket->ExpectRaw(t.totalSize - t.bytesDone);
}

void CFileThread::onSizeKnownMessage(const QByteArray& plain)
{
    if (plain.size() < 8)
        return;
    Transfer& t = m_transfer;
    t.totalSize = qFromLittleEndian<uint64_t>(plain.constData());
    t.sizeUnknown = 0;
    if (m_acceptPromptOpen) {
        t.statusText = FormatSize(t.totalSize);
        const TransferContactInfo info = m_shared->contactInfo(t.contactUid);
        const QString name = info.found ? info.name : DisplayName(m_peer);
        const QString ip = info.found ? info.ip : m_peer.ip.text();
        m_shared->acceptTextChanged(m_id, AcceptPromptText(t, name, ip));
    }
}

// ---- the receiver's data ----

void CFileThread::onRawData(char* data, qint64 size)
{
    if (m_ending || !m_partFile.isOpen() || m_result != 0)
        return; // canceled or failed: the rest is dropped
    Transfer& t = m_transfer;
    m_stream.XorStream(reinterpret_cast<uint8_t*>(data), static_cast<size_t>(size));
    if (!WriteAll(m_partFile.get(), data, size)) {
        qCWarning(lcFileSession) << "session" << m_id << "cannot write received data"
                                 << qt_error_string(errno);
        m_result = SessionResult::WriteError;
        sendStatus(SessionResult::WriteError);
        return;
    }
    t.bytesDone += static_cast<uint64_t>(size);
    if (!t.isFolder) {
        if (t.bytesDone >= t.totalSize)
            receiveComplete();
        return;
    }
    m_entryDone += static_cast<uint64_t>(size);
    if (m_entryDone >= m_entrySize) {
        m_entryDone = 0;
        m_partFile.reset();
        m_due = DueEntry{m_target, std::move(m_claim), std::exchange(m_targetInFolder, {})};
        // With the next entry (7) already here, the file is put in place
        // behind the reply to it; otherwise now, as nothing may follow for
        // a while (the sender's folder walk may still be running).
        if (!m_socket->hasPendingInput())
            finishDueEntry();
    }
}

void CFileThread::receiveComplete()
{
    Transfer& t = m_transfer;
    m_progressTimer->stop();
    t.stopTime = Now();
    m_partFile.reset();
    if (!finishPartial(m_target, m_overwriteChosen, m_claim)) {
        progressTick();
        m_result = SessionResult::WriteError;
        sendStatus(SessionResult::WriteError);
        return;
    }
    t.savedPath = m_target;
    progressTick();
    m_result = SessionResult::Complete;
    endSession();
}

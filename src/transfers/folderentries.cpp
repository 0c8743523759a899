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
#include <QTcpSocket>
#include <QTimer>
#include <QtEndian>

#include <algorithm>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

using namespace FileThreadDetail;

// The folder entry exchange of a file session: the receiver answers each
// entry (type 7) with an offset and a disposition (type 8); the sender walks
// the entry list, offers the next entry and streams it behind the reply.

// ---- the receiver's entries ----

void CFileThread::onEntry(const QByteArray& plain)
{
    if (m_result == SessionResult::Canceled)
        return;
    Transfer& t = m_transfer;
    const qsizetype zero = plain.indexOf('\0');
    if (zero < 0 || plain.size() < zero + 1 + 12) {
        qCWarning(lcFileSession) << "session" << m_id << "got an unreadable folder entry";
        m_socket->Close();
        return;
    }
    const QByteArray wirePath = plain.left(zero);
    m_entrySize = qFromLittleEndian<uint64_t>(plain.constData() + zero + 1);
    m_entryCrc = qFromLittleEndian<uint32_t>(plain.constData() + zero + 9);
    m_entryPath = QString::fromUtf8(wirePath);
    m_entryDone = 0;
    m_entryOffset = 0;
    m_target.clear();

    uint64_t offset = 0;
    uint32_t disposition = EntrySend;
    const std::optional<QString> relative = SafeRelativePath(wirePath);
    const QString target = relative ? t.savedPath + u'/' + *relative : QString();
    // The entry's folder is opened below the folder the user chose, made
    // where missing, without following a link: a link (or a file) where a
    // folder is to be is not writable, and nothing is written outside.
    const QString folderPart = relative ? FolderPart(*relative) : QString();
    // The entry before waits to be put in place until this reply is out,
    // unless this entry's look-ups depend on it.
    if (m_due &&
        (!relative || m_due->target == target || !m_entryFolder.holds(t.savedPath, folderPart)) &&
        !finishDueEntry())
        return;
    const FoldersMade folders = relative
                                    ? m_entryFolder.open(folderGuard(), t.savedPath, folderPart)
                                    : FoldersMade::NotAFolder;
    if (folders == FoldersMade::Failed) {
        sendStatus(SessionResult::PeerFolderFailed);
        return;
    }
    if (folders != FoldersMade::Made) {
        qCWarning(lcFileSession) << "session" << m_id << "skips the entry path" << m_entryPath;
        disposition = EntrySkip;
    } else {
        const QString leaf = relative->sliced(relative->lastIndexOf(u'/') + 1);
        const QByteArray name = QFile::encodeName(leaf);
        // Where the target really is: nothing on the way is a link.
        const QString located = m_entryFolder.location().endsWith(u'/')
                                    ? m_entryFolder.location() + leaf
                                    : m_entryFolder.location() + u'/' + leaf;
        QString finalTarget = target;
        // The common case, a new file: claimed, and its ".part" file made
        // where nothing was, in one go. Anything else is looked at in full.
        TargetClaim freshClaim;
        FileHandle fresh;
        if (m_entrySize > 0) {
            freshClaim = TargetClaim::takeLocated(located);
            if (freshClaim.held())
                fresh = CreateFreshPartial(m_entryFolder.fd(), name);
            if (!fresh.isOpen())
                freshClaim.release();
        }
        const Classification c = fresh.isOpen() ? Classification{TargetClass::New}
                                                : Classify(target, m_entrySize, m_entryCrc);
        switch (c.code) {
        case TargetClass::Identical:
            t.bytesDone += m_entrySize;
            disposition = EntrySkipCounted;
            break;
        case TargetClass::Differs:
            if (!AutoRename(finalTarget))
                disposition = EntrySkip;
            break;
        case TargetClass::NotWritable:
            disposition = EntrySkip;
            break;
        case TargetClass::Resumable:
            offset = c.offset;
            break;
        case TargetClass::StalePartial:
        case TargetClass::New:
            break;
        }
        if (m_overwriteFolder)
            offset = 0;
        const bool inFolder = finalTarget == target;
        if (disposition == EntrySend) {
            if (m_entrySize > 0) {
                if (fresh.isOpen()) {
                    m_partFile = std::move(fresh);
                    m_claim = std::move(freshClaim);
                    m_targetInFolder = name;
                }
                if (m_partFile.isOpen() ||
                    openPartial(finalTarget, offset, inFolder ? located : QString(),
                                inFolder ? name : QByteArray())) {
                    m_entryDone = offset;
                    t.bytesDone += offset;
                    m_target = finalTarget;
                } else {
                    disposition = EntrySkip;
                }
            } else {
                // An empty entry is made at once, under the same rules.
                TargetClaim claim =
                    inFolder ? TargetClaim::takeLocated(located) : TargetClaim::take(finalTarget);
                const int fd = !claim.held() ? -1
                               : inFolder
                                   ? OpenForWritingAt(m_entryFolder.fd(), name.constData(), true)
                                   : OpenForWriting(finalTarget, true);
                disposition = fd >= 0 ? EntrySkipCounted : EntrySkip;
                if (fd >= 0)
                    ::close(fd);
            }
        }
    }
    // Only data that will follow has an offset; a skipped entry counts nothing.
    if (disposition != EntrySend)
        offset = 0;
    m_entryOffset = offset;

    QByteArray reply = Uint64Payload(offset);
    reply.append(Uint32Payload(disposition));
    if (!send(FileEntryReply, reply))
        return;
    // The sender waits for it; no need to wait for the event loop.
    m_socket->socket()->flush();
    restartStream();
    if (disposition == EntrySend)
        m_socket->ExpectRaw(m_entrySize - offset);
    if (!finishDueEntry())
        return;
    // The data, or the next entry, follows at once.
    m_answerSpin.wait(static_cast<int>(m_socket->socket()->socketDescriptor()));
}

void CFileThread::onEntriesDone()
{
    m_progressTimer->stop();
    m_transfer.stopTime = Now();
    progressTick();
    m_result = SessionResult::Complete;
    endSession();
}

// ---- the sender's entries ----

void CFileThread::entryDataSent()
{
    delete std::exchange(m_file, nullptr);
    m_entryFile.reset();
    removeFirstEntry(m_entryPath);
    // The entry is whole now; it is no longer "in progress" at the end.
    m_entryDone = 0;
    m_entryCounted = true;
    // The next announcement goes out in the same write as this data.
    nextEntry();
}

void CFileThread::removeFirstEntry(const QString& path)
{
    EntryListPtr list = m_transfer.entries;
    if (!list)
        return;
    QMutexLocker locker(&list->lock);
    if (!list->paths.isEmpty() && list->paths.first() == path)
        list->paths.removeFirst();
}

void CFileThread::nextEntry()
{
    if (m_ending || m_role != Role::Sender || !m_accepted || m_entryReplyDue || m_sendingData)
        return;
    Transfer& t = m_transfer;
    // Between two entries is the only place a size update may go out.
    if (m_sizeUpdatePending) {
        m_sizeUpdatePending = false;
        if (!sendSizeUpdate())
            return;
    }
    // The list is locked only to look at or take its first path: the
    // window saves and frees lists on the main thread, which must not wait
    // for the disk.
    QString found;
    FileStamp foundStamp;
    const EntryListPtr list = t.entries;
    for (;;) {
        QString relative;
        {
            QMutexLocker locker(&list->lock);
            if (list->paths.isEmpty())
                break;
            relative = list->paths.first();
        }
        const QString full = t.senderPath + u'/' + relative;
        if (m_nextReady && relative == m_nextPath) {
            // What was read ahead is sent only if the entry has not changed
            // since; otherwise it is read again.
            if (StampOf(full) == m_nextStamp) {
                found = relative;
                m_entrySize = static_cast<uint64_t>(m_nextStamp.size);
                m_entryCrc = m_nextCrc;
                m_entryHead.swap(m_nextHead);
                m_entryFile = std::move(m_nextFile);
                break;
            }
        }
        m_nextFile.reset();
        m_nextReady = false;
        FileHandle file = OpenSendableEntry(folderGuard(), full, foundStamp);
        if (file.isOpen()) {
            found = relative;
            m_entrySize = static_cast<uint64_t>(foundStamp.size);
            // The bytes read for the checksum are the first ones to send.
            m_entryCrc = HeadCrcOfOpen(file.get(), foundStamp.size, m_entryHead);
            m_entryFile = std::move(file);
            break;
        }
        QMutexLocker locker(&list->lock);
        if (!list->paths.isEmpty() && list->paths.first() == relative)
            list->paths.removeFirst();
    }
    m_nextReady = false;
    m_nextFile.reset();
    if (!found.isEmpty()) {
        m_entryPath = found;
        m_entryOffset = 0;
        m_entryDone = 0;
        m_entryCounted = false;
        m_entryReplyDue = true;
        QByteArray payload = WireRelativePath(found);
        payload.append('\0');
        payload.append(Uint64Payload(m_entrySize));
        payload.append(Uint32Payload(m_entryCrc));
        // A failed send ends the connection, and with it the session.
        if (m_socket->SendFrame(FileEntry, payload)) {
            // Out behind the previous entry's data at once; the entry after
            // this one is read while the receiver prepares its reply.
            m_socket->socket()->flush();
            readNextEntryAhead();
            m_answerSpin.wait(static_cast<int>(m_socket->socket()->socketDescriptor()));
        }
        return;
    }
    if (t.sizeUnknown) {
        // The folder walk is still filling the list; the data of the entry
        // before goes out now.
        if (!m_socket->FlushHeld())
            return;
        m_entryRetryTimer->start();
        return;
    }
    if (!m_socket->SendFrame(FileEntriesDone, Uint32Payload(0)))
        return;
    m_progressTimer->stop();
    t.stopTime = Now();
    progressTick();
    m_result = SessionResult::Complete;
    m_deadlineTimer->start(m_shared->timings().lingerMs.load());
}

// Opens and checks the entry that follows the announced one and reads its
// head and checksum, so that it can be announced the moment the current
// data is queued. The next entry uses it only if its path is still first in
// the list then.
void CFileThread::readNextEntryAhead()
{
    if (m_ending || m_nextReady || !m_entryReplyDue)
        return;
    const Transfer& t = m_transfer;
    QString next;
    {
        EntryListPtr list = t.entries;
        QMutexLocker locker(&list->lock);
        if (list->paths.size() >= 2 && list->paths.first() == m_entryPath)
            next = list->paths.at(1);
    }
    if (next.isEmpty())
        return;
    // Stamped before reading: a change from here on is noticed when the
    // entry is announced, and it is read again then.
    FileHandle file = OpenSendableEntry(folderGuard(), t.senderPath + u'/' + next, m_nextStamp);
    if (!file.isOpen())
        return; // the next entry takes it off the list
    m_nextPath = next;
    m_nextCrc = HeadCrcOfOpen(file.get(), m_nextStamp.size, m_nextHead);
    m_nextFile = std::move(file);
    m_nextReady = true;
}

void CFileThread::onEntryReply(const QByteArray& plain)
{
    if (plain.size() < 12) {
        m_socket->Close();
        return;
    }
    Transfer& t = m_transfer;
    const uint64_t offset = qFromLittleEndian<uint64_t>(plain.constData());
    const uint32_t disposition = qFromLittleEndian<uint32_t>(plain.constData() + 8);
    m_entryReplyDue = false;
    restartStream();
    if (disposition == EntrySend) {
        if (offset > m_entrySize) {
            qCWarning(lcFileSession) << "session" << m_id << "got an offset beyond the entry";
            m_socket->Close();
            return;
        }
        m_entryOffset = m_entryDone = offset;
        t.bytesDone += offset;
        startEntryData();
        return;
    }
    m_entryOffset = m_entryDone = 0;
    m_entryFile.reset();
    removeFirstEntry(m_entryPath);
    if (disposition == EntrySkipCounted) {
        t.bytesDone += m_entrySize;
        m_entryCounted = true;
    }
    nextEntry();
}

void CFileThread::startEntryData()
{
    if (m_ending)
        return;
    // The head read with the checksum goes first; the file, open since it
    // was checked, is read only for what lies beyond it.
    const auto headSize = static_cast<uint64_t>(m_entryHead.size());
    m_headPos = static_cast<qsizetype>(std::min(m_entryOffset, headSize));
    const uint64_t fileFrom = std::max(m_entryOffset, headSize);
    bool readable = m_entryFile.isOpen();
    if (readable && fileFrom >= m_entrySize) {
        // All of it was read with the checksum. An entry removed or cut
        // short since then fails as it would when read now.
        readable = !IsGoneOrShorter(m_entryFile, m_entrySize);
    } else if (readable) {
        auto* file = new QFile(this);
        if (file->open(m_entryFile.get(), QIODevice::ReadOnly | QIODevice::Unbuffered,
                       QFileDevice::AutoCloseHandle)) {
            m_entryFile.release();
            m_file = file;
            readable = file->seek(static_cast<qint64>(fileFrom));
        } else {
            delete file;
            readable = false;
        }
    }
    if (!readable) {
        // The receiver now waits for this entry's data; nothing else can
        // follow in step with it.
        qCWarning(lcFileSession) << "session" << m_id << "entry" << m_entryPath
                                 << "is gone, shorter than announced or unreadable";
        m_result = SessionResult::TransmitError;
        endSession();
        return;
    }
    m_sendRemaining = m_entrySize - m_entryOffset;
    m_sendingData = true;
    pump();
}

void CFileThread::sizeKnown(uint64_t totalSize)
{
    if (m_ending)
        return;
    Transfer& t = m_transfer;
    t.totalSize = totalSize;
    t.calcThreadId = 0;
    t.sizeUnknown = 0;
    // Before the offer went out the offer carries it; a receiver learns it
    // from its sender only.
    if (m_role != Role::Sender || !m_offerSent || !t.isFolder)
        return;
    if (m_entryPath.isEmpty() && !m_entryReplyDue && !m_sendingData)
        sendSizeUpdate();
    else
        m_sizeUpdatePending = true;
    // The walk has ended: a sender waiting for it to list more entries need
    // not wait out the rest of its second.
    if (m_entryRetryTimer->isActive()) {
        m_entryRetryTimer->stop();
        postToSelf(&CFileThread::nextEntry);
    }
}

bool CFileThread::sendSizeUpdate()
{
    return send(FileSizeKnown, Uint64Payload(m_transfer.totalSize));
}

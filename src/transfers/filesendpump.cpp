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

// The sending side's data pump: reads blocks from the file, scrambles them
// and tops up the socket's queue from a small pool of reused blocks.

// ---- the sender ----

void CFileThread::onAccepted(const QByteArray& plain)
{
    const qsizetype zero = plain.indexOf('\0');
    if (zero < 0 || plain.size() < zero + 1 + 8) {
        qCWarning(lcFileSession) << "session" << m_id << "got an unreadable accept";
        m_socket->Close();
        return;
    }
    Transfer& t = m_transfer;
    t.savedPath = QString::fromUtf8(plain.left(zero));
    t.bytesDone = qFromLittleEndian<uint64_t>(plain.constData() + zero + 1);
    m_accepted = true;
    restartStream();
    if (t.isFolder) {
        t.startTime = Now();
        m_meter.start(t.bytesDone);
        m_progressTimer->start();
        postToSelf(&CFileThread::nextEntry);
    } else {
        postToSelf(&CFileThread::startSingleData);
    }
}

void CFileThread::onSelectingPath()
{
    m_transfer.statusText = QStringLiteral("Selecting save path...");
    m_shared->selectingSavePath(m_transfer);
}

void CFileThread::startSingleData()
{
    if (m_ending)
        return;
    Transfer& t = m_transfer;
    auto* file = new QFile(t.senderPath, this);
    if (!file->open(QIODevice::ReadOnly | QIODevice::Unbuffered) ||
        !file->seek(static_cast<qint64>(t.bytesDone))) {
        qCWarning(lcFileSession) << "session" << m_id << "cannot read" << t.senderPath
                                 << file->errorString();
        delete file;
        endSession();
        return;
    }
    m_file = file;
    t.startTime = Now();
    m_meter.start(t.bytesDone);
    m_progressTimer->start();
    // A file that grew since the offer is sent only as far as offered: the
    // receiver expects exactly that many bytes.
    m_sendRemaining = t.totalSize > t.bytesDone ? t.totalSize - t.bytesDone : 0;
    m_sendingData = true;
    pump();
}

// Tops up the socket's queue from the file, one block at a time, until the
// queue holds SendQueueLimit bytes or the file (entry) is all queued; the
// socket's bytesWritten brings us back.
void CFileThread::pump()
{
    if (!m_sendingData || m_ending)
        return;
    Transfer& t = m_transfer;
    bool endOfFile = false;
    while (m_sendRemaining > 0 && m_socket->bytesToWrite() < SendQueueLimit) {
        QByteArray& block = freeBlock();
        const qint64 want = static_cast<qint64>(std::min<uint64_t>(m_sendRemaining, BlockSize));
        block.resize(want);
        qint64 got = -1;
        if (m_headPos < m_entryHead.size()) {
            got = std::min<qint64>(want, m_entryHead.size() - m_headPos);
            memcpy(block.data(), m_entryHead.constData() + m_headPos, static_cast<size_t>(got));
            m_headPos += got;
        } else if (m_file) {
            got = m_file->read(block.data(), want);
        }
        if (got <= 0) {
            endOfFile = true;
            break;
        }
        block.resize(got);
        m_stream.XorStream(reinterpret_cast<uint8_t*>(block.data()), static_cast<size_t>(got));
        // Whole blocks join the socket's queue as they are. The end of a
        // folder entry waits in the queue for the next entry's announcement,
        // so that both go out in one write.
        const bool entryEnd = t.isFolder && static_cast<uint64_t>(got) == m_sendRemaining;
        const bool queued = got == BlockSize && !entryEnd ? m_socket->SendAll(block)
                            : entryEnd ? m_socket->QueueAll(block.constData(), got)
                                       : m_socket->SendAll(block.constData(), got);
        if (!queued) {
            // The connection has ended; its notification ends the session. A
            // send that failed by itself is a transmit error, one on a
            // connection the peer had already closed is not.
            m_sendingData = false;
            if (t.isFolder && m_socket->endReason() == FramedSocket::EndReason::SendFailed)
                m_result = SessionResult::TransmitError;
            return;
        }
        t.bytesDone += static_cast<uint64_t>(got);
        if (t.isFolder)
            m_entryDone += static_cast<uint64_t>(got);
        m_sendRemaining -= static_cast<uint64_t>(got);
    }
    if (endOfFile && t.isFolder) {
        // The receiver waits for bytes that will never come, and the next
        // frame would be taken for them: the stream cannot be kept in step.
        qCWarning(lcFileSession) << "session" << m_id << "entry" << m_entryPath
                                 << "shrank while being sent";
        m_sendingData = false;
        m_result = SessionResult::TransmitError;
        endSession();
        return;
    }
    if (endOfFile || m_sendRemaining == 0) {
        m_sendingData = false;
        if (t.isFolder)
            entryDataSent(); // the next entry's announcement follows the data
        else
            singleDataQueued();
    }
}

// A block the socket no longer holds (or a new one while all are queued).
// The socket queues our blocks by reference, so a block is reused only once
// it has been written out: no copy per block and no memory churn.
QByteArray& CFileThread::freeBlock()
{
    for (QByteArray& block : m_blocks) {
        if (block.isDetached())
            return block;
    }
    if (m_blocks.size() >= BlockPoolSize) {
        // Everything still queued: a block of its own for this once.
        m_blocks.first() = QByteArray(BlockSize, Qt::Uninitialized);
        return m_blocks.first();
    }
    m_blocks.append(QByteArray(BlockSize, Qt::Uninitialized));
    return m_blocks.last();
}

void CFileThread::onBytesWritten()
{
    if (m_ending)
        return;
    if (m_sendingData)
        pump();
    else if (m_singleQueued && m_socket->bytesToWrite() == 0)
        singleDataQueued();
}

// The file's data is queued; once the socket has handed all of it on, the
// send is over and the session lingers until the receiver closes.
void CFileThread::singleDataQueued()
{
    m_singleQueued = true;
    if (m_socket->bytesToWrite() > 0)
        return;
    m_singleQueued = false;
    Transfer& t = m_transfer;
    m_progressTimer->stop();
    delete std::exchange(m_file, nullptr);
    t.stopTime = Now();
    progressTick();
    if (t.bytesDone == t.totalSize)
        m_result = SessionResult::Complete;
    m_deadlineTimer->start(m_shared->timings().lingerMs.load());
}

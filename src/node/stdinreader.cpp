#include "node/stdinreader.h"

#include "node/nodelog.h"

#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

StdinReader::StdinReader(int fd, QObject* parent) : QObject(parent), m_fd(fd) {}

bool StdinReader::start()
{
    if (m_notifier)
        return true;
    if (::fcntl(m_fd, F_GETFD) < 0) {
        qCDebug(lcNode) << "no command input on descriptor" << m_fd;
        return false;
    }
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &StdinReader::readAvailable);
    return true;
}

void StdinReader::readAvailable()
{
    // The descriptor is readable, so one read does not block; more data
    // wakes the notifier again.
    char buffer[65536];
    const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
    if (n < 0) {
        if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)
            return;
        qCDebug(lcNode) << "command input failed:" << strerror(errno);
        finish();
        return;
    }
    if (n == 0) {
        finish();
        return;
    }

    qsizetype from = 0;
    const QByteArrayView chunk(buffer, n);
    for (;;) {
        const qsizetype newline = chunk.indexOf('\n', from);
        const QByteArrayView piece =
            chunk.sliced(from, (newline < 0 ? chunk.size() : newline) - from);
        if (!m_overlong) {
            const qsizetype room = MaxLineBytes - m_pending.size();
            m_pending.append(piece.first(qMin(room, piece.size())));
            m_overlong = piece.size() > room;
        }
        if (newline < 0)
            break;
        QByteArray line = std::exchange(m_pending, QByteArray());
        m_overlong = false;
        if (line.endsWith('\r'))
            line.chop(1);
        emit lineRead(QString::fromUtf8(line));
        from = newline + 1;
    }
}

void StdinReader::finish()
{
    if (!m_notifier)
        return;
    m_notifier->setEnabled(false);
    m_notifier->deleteLater();
    m_notifier = nullptr;
    if (!m_pending.isEmpty()) {
        QByteArray line = std::exchange(m_pending, QByteArray());
        if (line.endsWith('\r'))
            line.chop(1);
        emit lineRead(QString::fromUtf8(line));
    }
    emit endOfInput();
}

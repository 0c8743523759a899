#include "parsethread.h"

#include "transport/connectiongate.h"
#include "transport/transportlog.h"

#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>

#include <sys/socket.h>
#include <unistd.h>

CParseThread::CParseThread(qintptr descriptor, SessionFactory dispatch, int timeoutMs)
    : m_descriptor(descriptor), m_dispatch(std::move(dispatch)), m_timeoutMs(timeoutMs)
{
    // Counted from the accept; made room for when the cap is reached.
    if (m_descriptor >= 0)
        m_ticket = UnidentifiedConnections::instance().admit(this, [this] {
            // Handed on meanwhile: the session has it now.
            if (m_ticket != 0)
                end();
        });
}

CParseThread::~CParseThread()
{
    closeConnection();
}

void CParseThread::start()
{
    if (m_descriptor < 0) {
        end();
        return;
    }
    m_timer = new QTimer(this);
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, [this] {
        qCDebug(lcTransport) << "no connection hello within" << m_timeoutMs << "ms";
        end();
    });
    m_timer->start(m_timeoutMs);

    m_notifier = new QSocketNotifier(m_descriptor, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &CParseThread::onReadable);
}

void CParseThread::end()
{
    closeConnection();
    finish();
}

void CParseThread::closeConnection()
{
    UnidentifiedConnections::instance().release(std::exchange(m_ticket, 0));
    // Deleted later: this may run inside the notifier's own signal.
    if (m_notifier) {
        m_notifier->setEnabled(false);
        m_notifier->deleteLater();
        m_notifier = nullptr;
    }
    if (m_timer)
        m_timer->stop();
    if (m_descriptor >= 0) {
        ::close(static_cast<int>(m_descriptor));
        m_descriptor = -1;
    }
}

void CParseThread::onReadable()
{
    if (m_descriptor < 0)
        return;
    // Ask for exactly the bytes still missing, so nothing that follows the
    // hello is taken from the session.
    char buffer[ConnectionHello::Size];
    const ssize_t n = ::recv(static_cast<int>(m_descriptor), buffer,
                             static_cast<size_t>(m_hello.missing()), MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return;
    if (n <= 0) {
        end();
        return;
    }
    m_hello.feed(buffer, n);
    switch (m_hello.status()) {
    case HelloReader::Status::NeedMore:
        return;
    case HelloReader::Status::Invalid:
        qCDebug(lcTransport) << "invalid connection hello";
        end();
        return;
    case HelloReader::Status::Valid:
        break;
    }

    m_timer->stop();
    m_notifier->setEnabled(false);
    m_notifier->deleteLater();
    m_notifier = nullptr;
    const qintptr descriptor = std::exchange(m_descriptor, -1);
    // The session counts the connection again until it knows the peer.
    UnidentifiedConnections::instance().release(std::exchange(m_ticket, 0));
    if (m_dispatch)
        m_dispatch(m_hello.kind(), descriptor);
    else
        ::close(static_cast<int>(descriptor));
    finish();
}

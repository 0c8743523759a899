#include "framedsocket.h"

#include "transport/connectiongate.h"

#include "transport/transportlog.h"

#include <QPointer>
#include <QTcpSocket>
#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

FramedSocket::FramedSocket(QObject* parent) : QObject(parent), m_socket(new QTcpSocket(this))
{
    m_socket->setReadBufferSize(ReadBufferSize);
    m_handshakeBuffer.reserve(ResponseSize);
    connect(m_socket, &QTcpSocket::connected, this, &FramedSocket::onSocketConnected);
    connect(m_socket, &QTcpSocket::readyRead, this, &FramedSocket::onReadyRead);
    connect(m_socket, &QTcpSocket::disconnected, this, &FramedSocket::onDisconnected);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &FramedSocket::onErrorOccurred);
}

FramedSocket::~FramedSocket()
{
    markIdentified();
    // Going away without a notification: nobody is left to receive it.
    if (m_endReason == EndReason::None) {
        m_endReason = EndReason::Closed;
        m_socket->disconnect(this);
        m_socket->abort();
    }
}

void FramedSocket::SetKey(const QByteArray& key)
{
    m_cipher.SetKey(key);
}

bool FramedSocket::attach(qintptr descriptor)
{
    m_challenger = true;
    if (hasEnded() || !m_socket->setSocketDescriptor(descriptor)) {
        qCWarning(lcTransport) << "cannot adopt accepted connection" << descriptor
                               << m_socket->errorString();
        if (descriptor >= 0 && m_socket->socketDescriptor() != descriptor)
            ::close(static_cast<int>(descriptor));
        endConnection(EndReason::AttachFailed);
        return false;
    }
    applySocketOptions();
    // Counted until the session identifies the peer or the connection ends;
    // closed when it is the oldest and the cap is reached.
    m_unidentified = UnidentifiedConnections::instance().admit(this, [this] {
        // Identified meanwhile: it stays.
        if (m_unidentified != 0)
            Close();
    });
    return true;
}

void FramedSocket::markIdentified()
{
    UnidentifiedConnections::instance().release(std::exchange(m_unidentified, 0));
}

bool FramedSocket::acceptPeer(qintptr descriptor, QByteArray& address)
{
    address.clear();
    if (!attach(descriptor))
        return false;
    address = peerAddressText();
    return BeginChallenge();
}

bool FramedSocket::BeginChallenge()
{
    if (hasEnded())
        return false;
    m_challenger = true;
    m_handshakeState = WaitingForResponse;
    m_cipher.Seed(0);
    for (auto& byte : m_challenge)
        byte = static_cast<uint8_t>(m_cipher.NextRandom());
    m_handshakeBuffer.clear();
    m_handshakeExpected = ResponseSize;
    if (!SendAll(reinterpret_cast<const char*>(m_challenge.data()), ChallengeSize))
        return false;
    // The response may already be waiting.
    processIncoming();
    return !hasEnded();
}

void FramedSocket::connectToPeer(const QString& host, quint16 port, ConnectionHello::Kind kind)
{
    if (hasEnded())
        return;
    m_challenger = false;
    m_handshakeState = WaitingForChallenge;
    m_handshakeExpected = ChallengeSize;
    m_helloKind = kind;
    m_socket->connectToHost(host, port);
}

void FramedSocket::onSocketConnected()
{
    if (hasEnded())
        return;
    applySocketOptions();
    if (!SendAll(ConnectionHello::encodeHello(m_helloKind)))
        return;
    OnConnected();
}

bool FramedSocket::SendAll(const QByteArray& bytes)
{
    return sendBytes(bytes.constData(), bytes.size(), &bytes);
}

bool FramedSocket::SendAll(const char* data, qint64 size)
{
    return sendBytes(data, size, nullptr);
}

bool FramedSocket::QueueAll(const char* data, qint64 size)
{
    if (!canSend())
        return false;
    if (m_socket->bytesToWrite() > 0)
        return sendBytes(data, size, nullptr); // behind the queue anyway
    m_held.append(data, size);
    return true;
}

// Whether bytes may go out now; a connection that is not up ends here.
bool FramedSocket::canSend()
{
    if (hasEnded())
        return false;
    if (m_socket->state() != QAbstractSocket::ConnectedState) {
        endConnection(EndReason::SendFailed);
        return false;
    }
    return true;
}

bool FramedSocket::FlushHeld()
{
    return m_held.isEmpty() || sendBytes(nullptr, 0, nullptr);
}

// Sends straight to the connection what it takes now: the held bytes, then
// data. Returns how much of data went; -1 when not even the held bytes all
// went (the rest of them is left in m_held).
qint64 FramedSocket::sendDirect(const char* data, qint64 size)
{
    iovec parts[2];
    int count = 0;
    if (!m_held.isEmpty())
        parts[count++] = {m_held.data(), static_cast<size_t>(m_held.size())};
    if (size > 0)
        parts[count++] = {const_cast<char*>(data), static_cast<size_t>(size)};
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = static_cast<size_t>(count);
    ssize_t sent;
    do {
        sent = ::sendmsg(static_cast<int>(m_socket->socketDescriptor()), &message,
                         MSG_DONTWAIT | MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0)
        sent = 0; // a failure is left to the socket, which reports it
    if (sent < m_held.size()) {
        m_held.remove(0, sent);
        return -1;
    }
    sent -= m_held.size();
    m_held.clear();
    return sent;
}

bool FramedSocket::sendBytes(const char* data, qint64 size, const QByteArray* whole)
{
    if (!canSend())
        return false;
    if (size == 0 && m_held.isEmpty())
        return true;
    if (m_socket->bytesToWrite() == 0) {
        // Nothing queued: straight to the connection, without waiting for
        // a turn of the event loop, held bytes first. What does not fit now
        // is queued below, in order.
        const qint64 sent = sendDirect(data, size);
        if (sent == size)
            return true;
        if (sent > 0) {
            data += sent;
            size -= sent;
            whole = nullptr;
        }
    }
    if (!m_held.isEmpty()) {
        const QByteArray held = std::exchange(m_held, QByteArray());
        if (m_socket->write(held) != held.size()) {
            endConnection(EndReason::SendFailed);
            return false;
        }
    }
    if (size == 0)
        return true;
    // A block handed over whole joins the socket's queue by reference
    // instead of being copied into it.
    const qint64 written = whole ? m_socket->write(*whole) : m_socket->write(data, size);
    if (written != size) {
        qCDebug(lcTransport) << "send failed:" << m_socket->errorString();
        endConnection(EndReason::SendFailed);
        return false;
    }
    return true;
}

bool FramedSocket::SendFrame(uint8_t type, const QByteArray& payload)
{
    QByteArray sealed = payload;
    if (!m_cipher.Seal(sealed)) {
        endConnection(EndReason::SendFailed);
        return false;
    }
    // One piece, so that a frame leaves in one write.
    QByteArray frame(5 + sealed.size(), Qt::Uninitialized);
    frame[0] = static_cast<char>(type);
    qToLittleEndian<uint32_t>(static_cast<uint32_t>(sealed.size()), frame.data() + 1);
    std::memcpy(frame.data() + 5, sealed.constData(), static_cast<size_t>(sealed.size()));
    return SendAll(frame);
}

bool FramedSocket::SendKeepAlive()
{
    const char zero = 0;
    return SendAll(&zero, 1);
}

void FramedSocket::Close()
{
    endConnection(EndReason::Closed);
}

void FramedSocket::ExpectRaw(quint64 bytes)
{
    if (!m_receiver.isBetweenFrames())
        qCWarning(lcTransport) << "raw data expected in the middle of a frame";
    m_rawRemaining = bytes;
}

qint64 FramedSocket::bytesToWrite() const
{
    return m_held.size() + m_socket->bytesToWrite();
}

bool FramedSocket::hasPendingInput() const
{
    return m_pendingBegin < m_pendingEnd || m_socket->bytesAvailable() > 0;
}

QHostAddress FramedSocket::peerAddress() const
{
    return m_socket->peerAddress();
}

QByteArray FramedSocket::peerAddressText() const
{
    const QHostAddress address = peerAddress();
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return (isV4 ? QHostAddress(v4) : address).toString().toUtf8();
}

quint16 FramedSocket::peerPort() const
{
    return m_socket->peerPort();
}

void FramedSocket::setLowDelay(bool on)
{
    m_lowDelay = on;
    m_lowDelayChosen = true;
    applySocketOptions();
}

void FramedSocket::applySocketOptions()
{
    if (m_lowDelayChosen && m_socket->state() == QAbstractSocket::ConnectedState)
        m_socket->setSocketOption(QAbstractSocket::LowDelayOption, m_lowDelay ? 1 : 0);
}

QString FramedSocket::errorString() const
{
    return m_socket->errorString();
}

void FramedSocket::onReadyRead()
{
    processIncoming();
}

void FramedSocket::onDisconnected()
{
    // What arrived before the close still counts.
    processIncoming();
    endConnection(EndReason::PeerClosed);
}

void FramedSocket::onErrorOccurred(QAbstractSocket::SocketError error)
{
    if (hasEnded())
        return;
    processIncoming();
    endConnection(error == QAbstractSocket::RemoteHostClosedError ? EndReason::PeerClosed
                                                                  : EndReason::SocketError);
}

bool FramedSocket::fillPending()
{
    if (m_pendingBegin < m_pendingEnd)
        return true;
    if (!m_socket->isReadable())
        return false;
    if (m_readBuffer.size() != m_readChunk)
        m_readBuffer.resize(m_readChunk);
    qint64 n = m_socket->read(m_readBuffer.data(), m_readChunk);
    if (n == 0 && m_directReadsLeft > 0 && m_endReason == EndReason::None &&
        m_socket->state() == QAbstractSocket::ConnectedState) {
        // What the socket has not taken in yet (bytes that arrived while a
        // handler was busy, or spinning for them) is read straight from the
        // connection, a bounded number of times per turn of the event loop
        // so that timers and posted work keep their turns. The peer's close
        // and errors are left to the socket, which reports them.
        ssize_t got;
        do {
            got = ::recv(static_cast<int>(m_socket->socketDescriptor()), m_readBuffer.data(),
                         static_cast<size_t>(m_readChunk), MSG_DONTWAIT);
        } while (got < 0 && errno == EINTR);
        if (got > 0) {
            --m_directReadsLeft;
            n = got;
        }
    }
    m_pendingBegin = 0;
    m_pendingEnd = n > 0 ? n : 0;
    return n > 0;
}

// Works through everything the socket holds, one step at a time, re-checking
// after every step whether the connection still stands and how the next bytes
// are to be read (handshake, frame, raw stream): a frame handler may switch to
// raw data, and bytes already buffered behind that frame must follow the switch.
void FramedSocket::processIncoming()
{
    if (m_processing)
        return; // a hook called back into us; the outer loop carries on
    m_processing = true;
    m_directReadsLeft = DirectReadsPerTurn;
    QPointer<FramedSocket> self(this);

    while (!hasEnded() && fillPending()) {
        char* data = m_readBuffer.data() + m_pendingBegin;
        const qsizetype available = m_pendingEnd - m_pendingBegin;

        if (m_handshakeState != HandshakeComplete) {
            const qsizetype take =
                std::min<qsizetype>(m_handshakeExpected - m_handshakeBuffer.size(), available);
            m_handshakeBuffer.append(data, take);
            m_pendingBegin += take;
            if (m_handshakeBuffer.size() == m_handshakeExpected)
                handshakeStepComplete();
        } else if (m_rawRemaining > 0) {
            const qsizetype take =
                static_cast<qsizetype>(std::min<quint64>(m_rawRemaining, quint64(available)));
            m_pendingBegin += take;
            m_rawRemaining -= static_cast<quint64>(take);
            OnRawData(data, take);
        } else {
            const FrameReceiver::Result result = m_receiver.feed(data, available);
            m_pendingBegin += result.consumed;
            if (result.status == FrameReceiver::Status::Frame) {
                deliverFrame();
            } else if (result.status == FrameReceiver::Status::Error) {
                qCWarning(lcTransport) << "frame length" << m_receiver.rejectedLength()
                                       << "above the limit from" << peerAddress().toString();
                endConnection(EndReason::FrameTooLong);
            }
        }
        if (!self)
            return;
    }
    m_processing = false;
}

void FramedSocket::handshakeStepComplete()
{
    QByteArray message = std::exchange(m_handshakeBuffer, QByteArray());
    switch (m_handshakeState) {
    case WaitingForChallenge: {
        // Responder: return the challenge sealed with our key.
        m_handshakeState = WaitingForVerdict;
        if (!m_cipher.Seal(message)) {
            endConnection(EndReason::HandshakeFailed);
            return;
        }
        m_handshakeExpected = VerdictSize;
        m_handshakeBuffer.reserve(VerdictSize);
        SendAll(message);
        return;
    }
    case WaitingForResponse: {
        // Challenger: the peer holds our key only if the response opens to
        // our challenge. On a mismatch no verdict is sent.
        if (!m_cipher.Open(message) || message.size() != ChallengeSize ||
            std::memcmp(message.constData(), m_challenge.data(), ChallengeSize) != 0) {
            qCDebug(lcTransport) << "key challenge failed for" << peerAddress().toString();
            endConnection(EndReason::HandshakeFailed);
            return;
        }
        char verdict[VerdictSize];
        qToLittleEndian<uint32_t>(VerdictAccepted, verdict);
        if (SendAll(verdict, VerdictSize))
            m_handshakeState = HandshakeComplete;
        return;
    }
    case WaitingForVerdict: {
        if (qFromLittleEndian<uint32_t>(message.constData()) != VerdictAccepted) {
            endConnection(EndReason::HandshakeFailed);
            return;
        }
        m_handshakeState = HandshakeComplete;
        OnHandshakeComplete();
        return;
    }
    case HandshakeComplete:
        return;
    }
}

void FramedSocket::deliverFrame()
{
    QByteArray body = m_receiver.takeBody();
    const uint8_t type = m_receiver.frameType();
    // The receiver hands on only bodies of at least 5 bytes, which always open.
    if (!m_cipher.Open(body))
        return;
    OnFrame(type, body);
}

void FramedSocket::endConnection(EndReason reason)
{
    if (m_endReason != EndReason::None)
        return;
    m_endReason = reason;
    markIdentified();
    const bool handshakeUnfinished = m_handshakeState != HandshakeComplete;

    if (reason == EndReason::Closed || reason == EndReason::HandshakeFailed) {
        // Let what is held and queued go out first.
        if (m_socket->state() == QAbstractSocket::ConnectedState) {
            if (!m_held.isEmpty())
                m_socket->write(std::exchange(m_held, QByteArray()));
            m_socket->flush();
        }
        m_socket->close();
    } else {
        m_socket->abort();
    }
    m_held.clear();
    m_rawRemaining = 0;
    m_pendingBegin = m_pendingEnd = 0;

    QPointer<FramedSocket> self(this);
    if (handshakeUnfinished && reason != EndReason::Closed)
        OnSessionFailed();
    if (!self)
        return;
    QMetaObject::invokeMethod(
        this, [this] { OnConnectionClosed(); }, Qt::QueuedConnection);
}

void FramedSocket::OnHandshakeComplete()
{
    emit handshakeComplete();
}

void FramedSocket::OnSessionFailed()
{
    emit sessionFailed();
}

void FramedSocket::OnFrame(uint8_t type, const QByteArray& plain)
{
    emit frameReceived(type, plain);
}

void FramedSocket::OnRawData(char* data, qint64 size)
{
    emit rawDataReceived(QByteArray(data, size));
}

void FramedSocket::OnConnected()
{
    emit connected();
}

void FramedSocket::OnConnectionClosed()
{
    emit connectionClosed();
}

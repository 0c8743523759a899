#pragma once

#include "transport/connectionhello.h"
#include "transport/framereceiver.h"
#include "transport/packetcipher.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QHostAddress>
#include <QObject>

#include <array>

class QTcpSocket;

// The session socket shared by chat, file transfer and share browsing: proves
// with a challenge and response that both peers hold the same key, then
// carries typed, length-prefixed, sealed frames both ways.
//
// The side that accepted the connection is the challenger (attach() then
// BeginChallenge()); the side that opened it is the responder
// (connectToPeer(), which sends the connection hello itself).
//
// Used by exactly one thread, the session's own; create it there.
//
// Every way the connection can end (the peer closes, a socket error, a failed
// handshake, a bad frame length, a failed send, our own Close()) is reported
// exactly once through OnConnectionClosed(), always from the event loop and
// never from inside a call the session made. Sessions end on that
// notification alone; OnSessionFailed() only says why.
class FramedSocket : public QObject
{
    Q_OBJECT
public:
    static constexpr int ChallengeSize = 260;
    static constexpr int ResponseSize = ChallengeSize + PacketCipher::SeedSize;
    static constexpr int VerdictSize = 4;
    static constexpr uint32_t VerdictAccepted = 1000;
    // Bounds what the socket buffers ahead of us, so a fast sender cannot fill
    // our memory.
    static constexpr qint64 ReadBufferSize = 1024 * 1024;
    // Bytes taken from the connection in one read; a connection that carries
    // bulk data reads larger pieces (setBulkReads).
    static constexpr qint64 ReadChunkSize = 64 * 1024;
    static constexpr qint64 BulkReadChunkSize = 256 * 1024;
    // Reads straight from the connection per turn of the event loop (see
    // fillPending).
    static constexpr int DirectReadsPerTurn = 32;

    enum HandshakeState {
        WaitingForChallenge = 0, // responder
        WaitingForResponse = 1,  // challenger
        WaitingForVerdict = 2,   // responder
        HandshakeComplete = 3,
    };

    enum class EndReason {
        None,            // still open
        Closed,          // our own Close()
        PeerClosed,      // the peer closed or reset the connection
        SocketError,     // connect failure, network error
        AttachFailed,    // attach() could not adopt the descriptor
        HandshakeFailed, // wrong key, bad verdict
        SendFailed,      // a send did not go out
        FrameTooLong,    // the peer announced a frame above the limit
    };
    Q_ENUM(EndReason)

    explicit FramedSocket(QObject* parent = nullptr);
    ~FramedSocket() override;

    // Keys the cipher; before the handshake starts.
    void SetKey(const QByteArray& key);
    PacketCipher& cipher() { return m_cipher; }

    // Accepted side: adopts a connected descriptor (ownership passes here; on
    // failure it is closed and the end is reported).
    bool attach(qintptr descriptor);
    // Accepted side: sends the 260-byte challenge.
    bool BeginChallenge();
    // Accepted side, both steps: adopts the descriptor, tells the peer's
    // address (empty when the descriptor could not be adopted), then sends
    // the challenge. False when either step failed.
    bool acceptPeer(qintptr descriptor, QByteArray& address);
    // Accepted side: the session knows who the peer is. Until then (or the
    // end) the connection counts among the UnidentifiedConnections and may be
    // closed to make room for a newer one.
    void markIdentified();

    // Opening side: connects and, once connected, sends the connection hello
    // of the given kind, then OnConnected() runs and the handshake proceeds as
    // responder. A failed connect ends the connection (SocketError).
    void connectToPeer(const QString& host, quint16 port, ConnectionHello::Kind kind);

    // Raw bytes, queued for sending in order. False (and the connection ends)
    // when the socket is not connected or refuses the bytes. A QByteArray is
    // queued without a copy; change it only once the socket has let it go
    // (isDetached()), or it is copied then.
    bool SendAll(const QByteArray& bytes);
    bool SendAll(const char* data, qint64 size);
    // Holds bytes back to go out in one write with what is sent next (or
    // with FlushHeld, or at Close). Copied.
    bool QueueAll(const char* data, qint64 size);
    // Sends the held bytes now.
    bool FlushHeld();
    // type, 4-byte little-endian length, sealed payload. Sealing re-seeds the
    // cipher, so no frame may be sent while raw stream bytes are in flight.
    bool SendFrame(uint8_t type, const QByteArray& payload);
    // A lone zero byte where a type byte is expected.
    bool SendKeepAlive();
    // Sends what is queued, then closes. Does nothing after the end.
    void Close();

    // The next `bytes` incoming bytes are a raw stream and go to OnRawData();
    // frames resume after them. Call it from OnFrame() (bytes that already
    // arrived behind that frame are raw too) or between frames.
    void ExpectRaw(quint64 bytes);
    quint64 rawRemaining() const { return m_rawRemaining; }

    // For senders that stream: watch bytesWritten and keep bytesToWrite()
    // bounded.
    QTcpSocket* socket() const { return m_socket; }
    qint64 bytesToWrite() const;
    // Bytes that have arrived and wait to be worked through.
    bool hasPendingInput() const;
    // Reads in pieces of BulkReadChunkSize from now on.
    void setBulkReads() { m_readChunk = BulkReadChunkSize; }
    QHostAddress peerAddress() const;
    // The peer's address as contacts keep it: IPv4 peers of a dual-stack
    // socket show as ::ffff:a.b.c.d, this gives the plain form.
    QByteArray peerAddressText() const;
    quint16 peerPort() const;

    // Sockets are left with Nagle's algorithm on; a session that wants small
    // frames out at once may turn it off.
    void setLowDelay(bool on);

    HandshakeState handshakeState() const { return m_handshakeState; }
    bool isChallenger() const { return m_challenger; }
    bool hasEnded() const { return m_endReason != EndReason::None; }
    EndReason endReason() const { return m_endReason; }
    QString errorString() const;

signals:
    void connected();
    void handshakeComplete();
    void sessionFailed();
    void frameReceived(quint8 type, const QByteArray& plain);
    void rawDataReceived(const QByteArray& data);
    void connectionClosed();

protected:
    // The hooks; the defaults emit the matching signal.

    // Responder only: the verdict 1000 arrived; the session starts here.
    virtual void OnHandshakeComplete();
    // The handshake failed or the connection ended before it completed; the
    // socket is already closed. Followed by OnConnectionClosed().
    virtual void OnSessionFailed();
    // One opened frame; types the session does not know are ignored there.
    virtual void OnFrame(uint8_t type, const QByteArray& plain);
    // Raw stream bytes, as received (not deciphered). The bytes may be
    // changed in place; they are valid only during the call.
    virtual void OnRawData(char* data, qint64 size);
    // Opening side: connected and hello sent.
    virtual void OnConnected();
    // The one end notification.
    virtual void OnConnectionClosed();

private:
    void onSocketConnected();
    void onReadyRead();
    void onDisconnected();
    void onErrorOccurred(QAbstractSocket::SocketError error);

    bool sendBytes(const char* data, qint64 size, const QByteArray* whole);
    qint64 sendDirect(const char* data, qint64 size);
    bool canSend();
    void processIncoming();
    bool fillPending();
    void handshakeStepComplete();
    void deliverFrame();
    void endConnection(EndReason reason);
    void applySocketOptions();

    QTcpSocket* m_socket = nullptr;
    PacketCipher m_cipher;

    HandshakeState m_handshakeState = WaitingForChallenge;
    bool m_challenger = false;
    QByteArray m_handshakeBuffer;
    int m_handshakeExpected = ChallengeSize;
    std::array<uint8_t, ChallengeSize> m_challenge{};

    FrameReceiver m_receiver;
    quint64 m_rawRemaining = 0;

    // Bytes held back to leave with the next send (QueueAll).
    QByteArray m_held;
    // Bytes read from the socket and not yet processed.
    QByteArray m_readBuffer;
    qint64 m_readChunk = ReadChunkSize;
    qsizetype m_pendingBegin = 0;
    qsizetype m_pendingEnd = 0;

    ConnectionHello::Kind m_helloKind = ConnectionHello::Chat;
    bool m_lowDelay = false;
    bool m_lowDelayChosen = false;
    bool m_processing = false;
    int m_directReadsLeft = 0;
    EndReason m_endReason = EndReason::None;
    quint64 m_unidentified = 0; // ticket among the unidentified connections
};

#pragma once

// One side of a peer connection spoken by hand over 127.0.0.1: the hello, the
// key handshake (the accepting side lets any response pass) and frames, for
// what a real session never sends or to read exactly what one sends.

#include "transport/packetcipher.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QtEndian>

#include <cstdint>
#include <utility>

namespace testsupport {

class ScriptedPeer
{
public:
    QTcpServer server;
    // The connection: made here for open(), replaced by accept().
    QTcpSocket* socket = new QTcpSocket(&server);
    PacketCipher cipher;

    explicit ScriptedPeer(const QByteArray& key) { cipher.SetKey(key); }
    ~ScriptedPeer()
    {
        if (socket)
            socket->abort();
    }

    bool waitFor(qint64 bytes)
    {
        return QTest::qWaitFor([&] { return socket->bytesAvailable() >= bytes; }, 10000);
    }

    // The opening side: the hello of this kind and the response to the
    // challenge; true when the verdict is 1000.
    bool open(quint16 port, uint8_t kind)
    {
        socket->connectToHost(QHostAddress::LocalHost, port);
        if (!socket->waitForConnected(5000))
            return false;
        QByteArray hello("ZLK6000\x1B\0\0", 10);
        hello[9] = char(kind);
        socket->write(hello);
        if (!waitFor(260))
            return false;
        QByteArray response = socket->read(260);
        cipher.Seal(response);
        socket->write(response);
        return waitFor(4) && qFromLittleEndian<quint32>(socket->read(4).constData()) == 1000;
    }

    // The accepting side: listen() gives the port; accept() takes the next
    // connection, reads the hello, challenges and accepts whatever comes back.
    quint16 listen()
    {
        server.listen(QHostAddress::LocalHost, 0);
        return server.serverPort();
    }
    bool accept()
    {
        if (!QTest::qWaitFor([&] { return server.hasPendingConnections(); }, 10000))
            return false;
        socket = server.nextPendingConnection();
        if (!waitFor(10) || socket->read(10).size() != 10)
            return false;
        socket->write(QByteArray(260, 'c'));
        if (!waitFor(264))
            return false;
        socket->read(264);
        QByteArray verdict(4, '\0');
        qToLittleEndian<quint32>(1000, verdict.data());
        socket->write(verdict);
        return true;
    }

    void sendFrame(uint8_t type, const QByteArray& payload)
    {
        QByteArray sealed = payload;
        cipher.Seal(sealed);
        char header[5];
        header[0] = char(type);
        qToLittleEndian<quint32>(quint32(sealed.size()), header + 1);
        socket->write(header, 5);
        socket->write(sealed);
    }

    // The next frame, keep-alive bytes skipped; type 0 on failure.
    std::pair<uint8_t, QByteArray> readFrame()
    {
        char type = 0;
        while (type == 0) {
            if (!waitFor(1))
                return {0, {}};
            socket->getChar(&type);
        }
        if (!waitFor(4))
            return {0, {}};
        const quint32 length = qFromLittleEndian<quint32>(socket->read(4).constData());
        if (!waitFor(length))
            return {0, {}};
        QByteArray body = socket->read(length);
        if (!cipher.Open(body))
            return {0, {}};
        return {uint8_t(type), body};
    }
};

} // namespace testsupport

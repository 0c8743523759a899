#include "httpanswerer.h"

#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

namespace {
// A fixture refuses requests larger than this.
constexpr qsizetype MaxRequest = 1 << 20;
} // namespace

QByteArray HttpAnswerer::Request::header(const QByteArray& name) const
{
    for (const QByteArray& line : headers.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0)
            return line.mid(colon + 1).trimmed();
    }
    return {};
}

HttpAnswerer::HttpAnswerer(Handler handler, QObject* parent)
    : QObject(parent), m_handler(std::move(handler))
{
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* s = m_server.nextPendingConnection()) {
            connect(s, &QTcpSocket::readyRead, this, [this, s] { readFrom(s); });
            connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
        }
    });
}

bool HttpAnswerer::listen(quint16 port)
{
    return m_server.listen(QHostAddress::LocalHost, port);
}

void HttpAnswerer::readFrom(QTcpSocket* socket)
{
    QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
    for (;;) {
        // The requests of this program end their header block with an extra
        // CR LF pair, which the body's length does not count: like any
        // lenient server, empty lines before a request are skipped.
        while (buffer.startsWith("\r\n"))
            buffer.remove(0, 2);
        const qsizetype end = buffer.indexOf("\r\n\r\n");
        if (end < 0 || buffer.size() > MaxRequest) {
            if (buffer.size() > MaxRequest)
                socket->abort();
            break;
        }
        Request r;
        r.headers = buffer.left(end + 2);
        const QList<QByteArray> first = r.headers.left(r.headers.indexOf("\r\n")).split(' ');
        r.method = first.value(0);
        r.path = first.value(1);
        const qsizetype length = r.header("Content-Length").toLongLong();
        if (buffer.size() < end + 4 + length)
            break;
        r.body = buffer.mid(end + 4, length);
        buffer.remove(0, end + 4 + length);
        requests.append(r);

        const Answer a = m_handler(r);
        if (a.closeWithoutAnswer) {
            socket->disconnectFromHost();
            return;
        }
        QByteArray head = "HTTP/1.1 " + QByteArray::number(a.status) + ' ' + a.reason + "\r\n";
        head += "Content-Type: " + a.contentType + "\r\n";
        const qint64 announced = a.contentLength == -1 ? a.body.size() : a.contentLength;
        if (a.contentLength != -2)
            head += "Content-Length: " + QByteArray::number(announced) + "\r\n";
        head += a.contentLength == -2 ? "Connection: close\r\n" : "Connection: keep-alive\r\n";
        head += "\r\n";
        QByteArray body = a.body;
        if (a.contentLength >= 0)
            body = body.left(announced);
        if (a.holdAfter >= 0) {
            writeAnswer(socket, head + body.left(a.holdAfter), false);
            m_held.append({socket, body.mid(a.holdAfter)});
            continue;
        }
        writeAnswer(socket, head + body, a.contentLength == -2);
    }
    socket->setProperty("buffer", buffer);
}

void HttpAnswerer::writeAnswer(QTcpSocket* socket, const QByteArray& bytes, bool closeAfter)
{
    if (m_pieceSize <= 0 || bytes.size() <= m_pieceSize) {
        socket->write(bytes);
        if (closeAfter)
            socket->disconnectFromHost();
        return;
    }
    // One piece now, the rest a moment later, so the reader sees pieces.
    socket->write(bytes.left(m_pieceSize));
    socket->flush();
    QPointer<QTcpSocket> guarded(socket);
    const QByteArray rest = bytes.mid(m_pieceSize);
    QTimer::singleShot(5, this, [this, guarded, rest, closeAfter] {
        if (guarded && guarded->state() == QAbstractSocket::ConnectedState)
            writeAnswer(guarded, rest, closeAfter);
    });
}

void HttpAnswerer::release()
{
    const auto held = std::exchange(m_held, {});
    for (const auto& [socket, rest] : held) {
        if (socket)
            writeAnswer(socket, rest, false);
    }
}

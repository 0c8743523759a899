#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>

#include <functional>

class QTcpSocket;

// A small HTTP/1.1 server on 127.0.0.1 for the loopback fixtures: collects
// each request (header block and Content-Length body), hands it to a
// handler and writes the handler's answer, whole or in pieces.
class HttpAnswerer : public QObject
{
    Q_OBJECT
public:
    struct Request
    {
        QByteArray method;
        QByteArray path;
        QByteArray headers; // the header block, request line included
        QByteArray body;
        QByteArray header(const QByteArray& name) const;
    };
    struct Answer
    {
        int status = 200;
        QByteArray reason = "OK";
        QByteArray contentType = "text/xml; charset=\"utf-8\"";
        QByteArray body;
        // Content-Length as announced; -1: the body's length; -2: none at
        // all, the connection closes after the body.
        qint64 contentLength = -1;
        // Send only this many body bytes, then keep the connection open
        // until release(); -1 sends all.
        qint64 holdAfter = -1;
        // Close at once without answering.
        bool closeWithoutAnswer = false;
    };
    using Handler = std::function<Answer(const Request&)>;

    explicit HttpAnswerer(Handler handler, QObject* parent = nullptr);

    // Listens on 127.0.0.1 (port 0: a free one).
    bool listen(quint16 port = 0);
    quint16 port() const { return m_server.serverPort(); }
    // Answers go out in pieces of this many bytes, a short pause between them.
    void setPieceSize(int bytes) { m_pieceSize = bytes; }
    // Sends the rest of every held answer.
    void release();

    QList<Request> requests;

private:
    void readFrom(QTcpSocket* socket);
    void writeAnswer(QTcpSocket* socket, const QByteArray& bytes, bool closeAfter);

    Handler m_handler;
    QTcpServer m_server;
    int m_pieceSize = 0;
    QList<QPair<QPointer<QTcpSocket>, QByteArray>> m_held;
};

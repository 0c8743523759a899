#pragma once

#include "httpanswerer.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSet>
#include <QUdpSocket>

// A home router on loopback for tests, benchmarks and trying the program:
// answers the SSDP search on a UDP port of 127.0.0.1, serves its device
// description over HTTP and answers the four WANIPConnection SOAP actions
// from a small in-memory table of port mappings.
class FakeGateway : public QObject
{
    Q_OBJECT
public:
    struct Mapping
    {
        quint16 externalPort = 0;
        QByteArray protocol = "TCP";
        quint16 internalPort = 0;
        QByteArray client;
        QByteArray description;
        QByteArray lease = "0";
        QByteArray enabled = "1";
    };

    explicit FakeGateway(QObject* parent = nullptr);

    // Binds the SSDP and HTTP sides on 127.0.0.1 (0: free ports).
    bool start(quint16 ssdpPort = 0, quint16 httpPort = 0);
    quint16 ssdpPort() const { return m_udp.localPort(); }
    quint16 httpPort() const { return m_http.port(); }

    // --- switches ---
    // Every POST is answered 405 (M-POST is served).
    bool answer405ToPost = false;
    // Answers go out in pieces of this many bytes (0: whole).
    void setPieceSize(int bytes) { m_http.setPieceSize(bytes); }
    // The next answers to these actions are not given: the connection closes
    // at once (one name per answer to drop).
    QList<QByteArray> closeBeforeAnswer;
    // Answers carry no Content-Length; the connection closes after each.
    bool closeDelimited = false;
    // The WANIPConnection service comes second in the description.
    bool serviceSecond = false;
    // The description's tags are written in upper case.
    bool upperCaseTags = false;
    // The search answer's location; %1 is the HTTP port.
    QByteArray location = "http://127.0.0.1:%1/rootDesc.xml";
    // The search answer names no WANIPConnection service.
    bool otherDeviceOnly = false;

    // --- state ---
    QList<Mapping> mappings;
    QList<QByteArray> searches; // every datagram received
    QList<HttpAnswerer::Request>& requests() { return m_http.requests; }
    // The SOAP action of each request, in order ("M-POST DeletePortMapping").
    QList<QByteArray> actions;

private:
    void readSearches();
    HttpAnswerer::Answer answer(const HttpAnswerer::Request& request);
    QByteArray descriptionXml() const;
    HttpAnswerer::Answer soapAnswer(const QByteArray& action, const QByteArray& body);

    QUdpSocket m_udp;
    HttpAnswerer m_http;
};

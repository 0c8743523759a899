#pragma once

#include "httpanswerer.h"

#include <QByteArray>
#include <QObject>
#include <QUrl>

// The update server on loopback for tests, benchmarks and trying the
// program: serves the public-IP page "/myip.php", the update description
// "/downloads/qensoft/zlk6.txt" and the new program file it names.
class FakeUpdateServer : public QObject
{
    Q_OBJECT
public:
    static constexpr char BinaryPath[] = "/downloads/qensoft/zephlink";

    explicit FakeUpdateServer(QObject* parent = nullptr);

    // Listens on 127.0.0.1 (0: a free port).
    bool start(quint16 port = 0);
    quint16 port() const { return m_http.port(); }
    // "http://127.0.0.1:<port>", the value for ZEPHLINK_UPDATE_SERVER.
    QUrl url() const;

    // --- the public-IP page ---
    QByteArray publicIp = "203.0.113.7";
    // The markers are written in lower case (no program finds them then).
    bool lowerCaseMarkers = false;

    // --- the description file ---
    QByteArray version = "9.9.9.9";
    QByteArray date = "Dec 1 2026";
    QByteArray note = "Faster transfers";
    // The description has no [VER] tag (as an error page would not).
    bool missingVersionTag = false;

    // --- the program file ---
    QByteArray binary = "#!/bin/sh\nexit 0\n";
    // Content-Length (and the bytes sent) differ from [SIZE] by this much.
    qint64 sizeDelta = 0;
    // Only this many bytes of the program file go out until releaseBinary();
    // -1 sends it all.
    qint64 holdAfter = -1;
    void releaseBinary() { m_http.release(); }

    QList<HttpAnswerer::Request>& requests() { return m_http.requests; }

private:
    HttpAnswerer::Answer answer(const HttpAnswerer::Request& request);

    HttpAnswerer m_http;
};

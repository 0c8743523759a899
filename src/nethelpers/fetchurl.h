#pragma once

#include <QByteArray>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;

// The update server: $ZEPHLINK_UPDATE_SERVER when set, else the build's
// default ("scheme://host[:port]", no path).
QUrl UpdateServer();
// A fixed path ("/myip.php", "/downloads/qensoft/zlk6.txt") on the update server.
QUrl UpdateServerUrl(const QString& path);

// The request every fetch sends: its own header block, always from the
// server (never a cache).
QNetworkRequest WebRequest(const QUrl& url);

// The system's configured proxy for url (the proxy environment variables
// on Linux); none for loopback.
QNetworkProxy ProxyFor(const QUrl& url);

// Fetches one page. Any answer the server gives counts, whatever its status;
// only a failed connection (or no answer within the deadline) is a failure.
// The body is bounded: a longer one is a failure too.
class FetchUrl : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 MaxBody = 1 << 20;
    static constexpr int DeadlineMs = 30000;

    // manager: the network access to use (null: one of its own).
    explicit FetchUrl(QNetworkAccessManager* manager = nullptr, QObject* parent = nullptr);
    ~FetchUrl() override;

    // Starts a fetch; one that is still running is dropped.
    void start(const QUrl& url);
    void abort();
    bool isRunning() const { return m_reply != nullptr; }

signals:
    void finished(bool ok, const QByteArray& body);

private:
    void onFinished();

    QNetworkAccessManager* m_manager;
    QPointer<QNetworkReply> m_reply;
    QByteArray m_body;
};

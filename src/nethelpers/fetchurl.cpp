#include "nethelpers/fetchurl.h"

#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>

#ifndef ZEPHLINK_DEFAULT_UPDATE_SERVER
#define ZEPHLINK_DEFAULT_UPDATE_SERVER "http://127.0.0.1:8417"
#endif

QUrl UpdateServer()
{
    QString text = qEnvironmentVariable("ZEPHLINK_UPDATE_SERVER");
    if (text.isEmpty())
        text = QStringLiteral(ZEPHLINK_DEFAULT_UPDATE_SERVER);
    while (text.endsWith(QLatin1Char('/')))
        text.chop(1);
    return QUrl(text, QUrl::StrictMode);
}

QUrl UpdateServerUrl(const QString& path)
{
    QUrl url = UpdateServer();
    url.setPath(path);
    return url;
}

QNetworkProxy ProxyFor(const QUrl& url)
{
    const QString host = url.host();
    if (host == u"localhost" || QHostAddress(host).isLoopback())
        return QNetworkProxy(QNetworkProxy::NoProxy);
    const QList<QNetworkProxy> proxies =
        QNetworkProxyFactory::systemProxyForQuery(QNetworkProxyQuery(url));
    return proxies.value(0, QNetworkProxy(QNetworkProxy::NoProxy));
}

QNetworkRequest WebRequest(const QUrl& url)
{
    QNetworkRequest request(url);
    request.setRawHeader("User-Agent", "Mozilla/5.0");
    request.setRawHeader("Accept", "*/*");
    request.setRawHeader("Connection", "keep-alive");
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setTransferTimeout(FetchUrl::DeadlineMs);
    return request;
}

FetchUrl::FetchUrl(QNetworkAccessManager* manager, QObject* parent)
    : QObject(parent), m_manager(manager ? manager : new QNetworkAccessManager(this))
{}

FetchUrl::~FetchUrl()
{
    abort();
}

void FetchUrl::abort()
{
    if (QNetworkReply* r = m_reply) {
        m_reply = nullptr;
        r->disconnect(this);
        r->abort();
        r->deleteLater();
    }
}

void FetchUrl::start(const QUrl& url)
{
    abort();
    m_body.clear();
    if (!url.isValid() || url.scheme().isEmpty()) {
        // Reported after the caller has wired its handler, as any other failure.
        QMetaObject::invokeMethod(
            this, [this] { emit finished(false, {}); }, Qt::QueuedConnection);
        return;
    }
    m_manager->setProxy(ProxyFor(url));
    m_reply = m_manager->get(WebRequest(url));
    connect(m_reply, &QNetworkReply::readyRead, this, [this] {
        m_body += m_reply->readAll();
        if (m_body.size() > MaxBody) {
            abort();
            m_body.clear();
            emit finished(false, {});
        }
    });
    connect(m_reply, &QNetworkReply::finished, this, &FetchUrl::onFinished);
}

void FetchUrl::onFinished()
{
    QNetworkReply* r = m_reply;
    m_reply = nullptr;
    r->deleteLater();
    m_body += r->readAll();
    // An answer with any status is a page; no answer at all is a failure.
    const bool answered =
        r->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid() &&
        (r->error() == QNetworkReply::NoError || r->error() >= QNetworkReply::ContentAccessDenied);
    const QByteArray body = answered && m_body.size() <= MaxBody ? m_body : QByteArray();
    m_body.clear();
    emit finished(answered && body.size() <= MaxBody, body);
}

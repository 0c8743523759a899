#include "nethelpers/iphelper.h"

#include "nethelpers/upnptext.h"

#include <QHostInfo>

QByteArray PublicIpFromPage(const QByteArray& page)
{
    static const QByteArray begin = "<!--BEGINIP-->";
    static const QByteArray end = "<!--ENDIP-->";
    const qsizetype start = page.indexOf(begin);
    if (start < 0)
        return {};
    const qsizetype inner = start + begin.size();
    const qsizetype stop = page.indexOf(end, inner);
    if (stop < 0)
        return {};
    return page.mid(inner, stop - inner);
}

QString LanAddressText(const QList<QHostAddress>& addresses)
{
    QStringList parts;
    for (qsizetype i = 0; i < addresses.size() && i < 10; ++i)
        parts.append(addresses[i].toString());
    return parts.join(QStringLiteral(", "));
}

IpHelper::IpHelper(IpHelperUi* ui, QObject* parent)
    : QObject(parent), m_ui(ui), m_fetch(nullptr, this),
      m_url(UpdateServerUrl(QStringLiteral("/myip.php")))
{
    connect(&m_fetch, &FetchUrl::finished, this, [this](bool ok, const QByteArray& page) {
        const QByteArray ip = ok ? PublicIpFromPage(page) : QByteArray();
        m_facts.internetIp =
            ip.isEmpty() ? QStringLiteral("Unable to retrieve IP") : QString::fromUtf8(ip);
        if (m_ui)
            m_ui->internetIpShown(m_facts.internetIp);
    });
}

bool IpHelper::open(int dataPort)
{
    const QString host = QHostInfo::localHostName();
    if (host.isEmpty())
        return false;
    m_facts.internetIp = QStringLiteral("Connecting to the Internet...");
    m_facts.lanIp = LanAddressText(LocalIpv4Addresses());
    m_facts.localDns = host.toUpper();
    m_facts.port = QString::number(dataPort);
    if (m_ui)
        m_ui->ipFactsShown(m_facts);
    m_fetch.start(m_url);
    return true;
}

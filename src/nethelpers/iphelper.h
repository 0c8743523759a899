#pragma once

#include "nethelpers/fetchurl.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>

// The four facts of the "IP Helper": how contacts reach this computer.
struct IpFacts
{
    QString internetIp; // "Connecting to the Internet..." until the lookup ends
    QString lanIp;      // local IPv4 addresses joined by ", "
    QString localDns;   // the host name in upper case
    QString port;       // the own data port
};

// Where the facts go: the dialog's four boxes, the node's console.
class IpHelperUi
{
public:
    virtual ~IpHelperUi() = default;
    // All four boxes are filled (the Internet box with its waiting text).
    virtual void ipFactsShown(const IpFacts& facts) = 0;
    // The lookup ended: the public address or "Unable to retrieve IP".
    virtual void internetIpShown(const QString& text) = 0;
};

// The public address on the page: the text between the first
// "<!--BEGINIP-->" and the first "<!--ENDIP-->" after it (case included);
// empty when a marker is missing.
QByteArray PublicIpFromPage(const QByteArray& page);

// The LAN box's text: at most the first 10 addresses, dotted decimal, ", "
// between them.
QString LanAddressText(const QList<QHostAddress>& addresses);

// One "IP Helper": fills the facts at once and looks the public address up
// on the update server's "/myip.php". Several may run at once, each with its
// own lookup.
class IpHelper : public QObject
{
    Q_OBJECT
public:
    // ui must outlive the helper, or the helper is deleted first.
    explicit IpHelper(IpHelperUi* ui, QObject* parent = nullptr);

    // Opening: fills the facts and starts the lookup. Without a host name
    // nothing is shown and no lookup is made; false then.
    bool open(int dataPort);
    // The page to ask; default UpdateServerUrl("/myip.php").
    void setPageUrl(const QUrl& url) { m_url = url; }
    const IpFacts& facts() const { return m_facts; }

private:
    IpHelperUi* m_ui;
    FetchUrl m_fetch;
    QUrl m_url;
    IpFacts m_facts;
};

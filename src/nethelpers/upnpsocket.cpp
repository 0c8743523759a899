#include "nethelpers/upnpsocket.h"

#include <QLoggingCategory>
#include <QTcpSocket>
#include <QTimer>
#include <QUdpSocket>

#ifndef ZEPHLINK_DEFAULT_SSDP_ADDRESS
#define ZEPHLINK_DEFAULT_SSDP_ADDRESS "127.0.0.1:1900"
#endif

Q_LOGGING_CATEGORY(lcUpnp, "zephlink.upnp")

using upnp::RequestKind;

namespace {

// A job asks the device at most this often (a listing one more time per entry).
constexpr int JobRequestBudget = 16;
// A search reads at most this many answers before it gives up.
constexpr int SearchAnswerLimit = 64;
// The listing index is a 16-bit value on the wire.
constexpr quint32 LastEntryIndex = 65535;

// The text up to its first zero byte.
QByteArray untilZero(const QByteArray& bytes)
{
    const qsizetype zero = bytes.indexOf('\0');
    return zero < 0 ? bytes : bytes.left(zero);
}

} // namespace

bool ParseHostPort(const QString& text, QHostAddress& address, quint16& port)
{
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return false;
    QHostAddress a;
    if (!a.setAddress(text.left(colon).trimmed()))
        return false;
    bool ok = false;
    const uint p = text.mid(colon + 1).trimmed().toUInt(&ok);
    if (!ok || p == 0 || p > 65535)
        return false;
    address = a;
    port = quint16(p);
    return true;
}

bool SsdpTarget(QHostAddress& address, quint16& port)
{
    const QString fromEnvironment = qEnvironmentVariable("ZEPHLINK_SSDP_ADDRESS");
    if (!fromEnvironment.isEmpty())
        return ParseHostPort(fromEnvironment, address, port);
    return ParseHostPort(QStringLiteral(ZEPHLINK_DEFAULT_SSDP_ADDRESS), address, port);
}

// --- CUPNPHttpSocket ---

CUPNPHttpSocket::CUPNPHttpSocket(CUPNPSocket* owner) : QObject(owner), owner(owner)
{
    m_deadline = new QTimer(this);
    m_deadline->setSingleShot(true);
    connect(m_deadline, &QTimer::timeout, this, [this] {
        qCDebug(lcUpnp) << "exchange of kind" << requestKind << "ran out of time";
        Close();
    });
}

CUPNPHttpSocket::~CUPNPHttpSocket()
{
    Close();
}

void CUPNPHttpSocket::Close()
{
    m_deadline->stop();
    if (!m_socket)
        return;
    QTcpSocket* s = m_socket;
    m_socket = nullptr;
    s->disconnect(this);
    s->abort();
    s->deleteLater();
}

void CUPNPHttpSocket::Start(const QByteArray& host, quint16 port, const QByteArray& request,
                            int kind)
{
    Close();
    // An unfinished send of the previous exchange is dropped with its
    // connection, so the new request always goes out.
    sendBuffer.clear();
    sentBytes = 0;
    sendLength = 0;
    response.clear();
    m_connected = false;
    m_decided = false;

    m_socket = new QTcpSocket(this);
    this->host = host;
    this->port = port;
    this->request = request;
    requestKind = kind;
    connect(m_socket, &QTcpSocket::connected, this, [this] {
        m_connected = true;
        OnConnect(false);
    });
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
        if (!m_connected)
            OnConnect(true);
        else if (e == QAbstractSocket::RemoteHostClosedError)
            OnClose();
        else
            Close();
    });
    connect(m_socket, &QTcpSocket::bytesWritten, this, &CUPNPHttpSocket::OnSend);
    connect(m_socket, &QTcpSocket::readyRead, this, &CUPNPHttpSocket::OnReceive);
    m_deadline->start(DeadlineMs);
    m_socket->connectToHost(QString::fromLatin1(host), port);
}

void CUPNPHttpSocket::OnConnect(bool failed)
{
    if (failed)
        owner->ShowStatus(QStringLiteral("Failed Connecting to Device!"));
    SendRequest(request);
}

bool CUPNPHttpSocket::SendRequest(const QByteArray& text)
{
    if (sendLength != 0)
        return false;
    response.clear();
    if (!m_socket || m_socket->state() != QAbstractSocket::ConnectedState) {
        // Nothing can go out on a connection that failed: close it.
        Close();
        return false;
    }
    sendBuffer = text;
    sendLength = text.size();
    sentBytes = 0;
    if (m_socket->write(sendBuffer) != sendLength) {
        sendBuffer.clear();
        sendLength = 0;
        Close();
        return false;
    }
    return true;
}

void CUPNPHttpSocket::OnSend(qint64 written)
{
    sentBytes += written;
    if (sentBytes >= sendLength) {
        sentBytes = 0;
        sendLength = 0;
        sendBuffer.clear();
    }
}

void CUPNPHttpSocket::OnReceive()
{
    QTcpSocket* const s = m_socket;
    if (!s)
        return;
    while (s->bytesAvailable() > 0) {
        const QByteArray piece = s->read(4096);
        if (piece.isEmpty()) {
            Close();
            return;
        }
        response += untilZero(piece);
        if (response.size() > MaxResponse) {
            qCDebug(lcUpnp) << "answer too long; dropped";
            Close();
            return;
        }
        if (m_decided)
            continue;
        const int kind = requestKind;
        const QByteArray whole = response;
        const bool decided = owner->OnResponse(whole, kind, IsCompleteAnswer(whole));
        // The owner may have started the next exchange or closed this one.
        if (m_socket != s)
            return;
        m_decided = decided;
    }
}

void CUPNPHttpSocket::OnClose()
{
    if (!m_socket)
        return;
    // Whatever is still unread belongs to the answer.
    const QByteArray rest = m_socket->readAll();
    response += untilZero(rest);
    const int kind = requestKind;
    const QByteArray whole = response;
    const bool decided = m_decided;
    Close();
    // The close makes the answer whole.
    if (decided || (!whole.isEmpty() && owner->OnResponse(whole, kind, true)))
        return;
    owner->OnDeviceClosed(kind);
}

// --- CUPNPSocket ---

CUPNPSocket::CUPNPSocket(QObject* parent) : QObject(parent), httpSocket(this)
{
    m_targetValid = SsdpTarget(m_targetAddress, m_targetPort);
    m_localAddresses = &LocalIpv4Addresses;
}

CUPNPSocket::~CUPNPSocket()
{
    closeUdp();
}

void CUPNPSocket::setSearchTarget(const QHostAddress& address, quint16 port)
{
    m_targetAddress = address;
    m_targetPort = port;
    m_targetValid = true;
}

void CUPNPSocket::setLocalAddressSource(std::function<QList<QHostAddress>()> source)
{
    m_localAddresses = std::move(source);
}

void CUPNPSocket::ShowStatus(const QString& text, bool clear)
{
    if (!logWindow)
        return;
    if (clear)
        logText = text + QStringLiteral("\r\n");
    else
        logText += text + QStringLiteral("\r\n");
    logWindow->upnpStatus(text, clear);
}

void CUPNPSocket::MapPort(int port, int useTcp, const QString& description)
{
    this->port = port;
    this->useTcp = useTcp;
    this->description = description.toUtf8();
    mode = MapMode;
    StartSearch();
}

void CUPNPSocket::UnmapPort(int port, int useTcp)
{
    this->port = port;
    this->useTcp = useTcp;
    mode = UnmapMode;
    StartSearch();
}

void CUPNPSocket::RemapPort(int oldPort, int newPort, int useTcp, const QString& description)
{
    this->oldPort = oldPort;
    port = newPort;
    this->useTcp = useTcp;
    this->description = description.toUtf8();
    mode = RemapMode;
    StartSearch();
}

void CUPNPSocket::ListMappings()
{
    mode = ListMode;
    StartSearch();
}

void CUPNPSocket::closeUdp()
{
    if (!m_udp)
        return;
    m_udp->disconnect(this);
    m_udp->close();
    m_udp->deleteLater();
    m_udp = nullptr;
}

void CUPNPSocket::StartSearch()
{
    // The previous job's exchange goes too: its late answer must not act on
    // this job's state.
    httpSocket.Close();
    m_budget = JobRequestBudget;
    m_answersLeft = SearchAnswerLimit;
    closeUdp();
    ShowStatus(QStringLiteral("Starting UPNP Device Search..."), true);

    m_udp = new QUdpSocket(this);
    if (!m_udp->bind(QHostAddress(QHostAddress::AnyIPv4), 0)) {
        closeUdp();
        ShowStatus(
            QStringLiteral("Creating UPNP Socket Failed.\r\nUDP port 1900 is already in use."));
        return;
    }
    connect(m_udp, &QUdpSocket::readyRead, this, &CUPNPSocket::OnSsdpReceive);
    const QByteArray datagram = upnp::SearchDatagram();
    if (!m_targetValid ||
        m_udp->writeDatagram(datagram, m_targetAddress, m_targetPort) != datagram.size())
        ShowStatus(QStringLiteral("UPNP Device Search failed."));
}

void CUPNPSocket::OnSsdpReceive()
{
    while (m_udp && m_udp->hasPendingDatagrams()) {
        QByteArray datagram(4096, '\0');
        const qint64 got = m_udp->readDatagram(datagram.data(), datagram.size());
        if (got <= 0)
            continue;
        if (--m_answersLeft < 0) {
            qCDebug(lcUpnp) << "too many search answers; search stopped";
            closeUdp();
            return;
        }
        datagram = untilZero(datagram.left(got));
        if (FindNoCase(datagram, upnp::ServiceType) < 0) {
            ShowStatus(QStringLiteral("No Router Devices found in UPNP Response."));
            continue;
        }
        const QByteArray url = ExtractBetween(datagram, "http://", "\r\n");
        if (url.isEmpty()) {
            ShowStatus(QStringLiteral("Device URL not found."));
            continue;
        }
        ShowStatus(QStringLiteral("A Router Device Responded with UPNP URL...\r\nhttp://") +
                   QString::fromUtf8(url));
        closeUdp();
        RequestDescription(url);
        return;
    }
}

void CUPNPSocket::RequestDescription(const QByteArray& url)
{
    const qint64 port = DecimalPrefix(ExtractBetween(url, ":", "/"));
    const QByteArray host = ExtractBetween(url, {}, ":");
    const QByteArray path = ExtractBetween(url, "/", {});
    if (host.isEmpty() || port <= 0 || port > 65535 || path.isEmpty()) {
        ShowStatus(QStringLiteral("Device URL response was not valid."));
        return;
    }
    lanAddress =
        FindLanAddress(host, m_localAddresses ? m_localAddresses() : QList<QHostAddress>());
    ShowStatus(QStringLiteral("Detected your IP as: ") + QString::fromLatin1(lanAddress));

    deviceHost = host;
    devicePort = quint16(port);
    --m_budget;
    httpSocket.Start(host, devicePort, upnp::DescriptionRequest(host, devicePort, path),
                     int(RequestKind::Description));
    ShowStatus(QStringLiteral("Requested Device Info (Waiting on Response)..."));
}

void CUPNPSocket::SendSoap(RequestKind kind, bool mPost)
{
    if (m_budget-- <= 0) {
        qCDebug(lcUpnp) << "job asked the device too often; stopped";
        httpSocket.Close();
        return;
    }
    upnp::SoapArguments a;
    a.controlPath = controlPath;
    a.deviceHost = deviceHost;
    a.devicePort = devicePort;
    a.port = quint16(kind == RequestKind::DeletePortMapping && mode == RemapMode ? oldPort : port);
    a.useTcp = useTcp != 0;
    a.lanAddress = lanAddress;
    a.description = description;
    a.entryIndex = entryIndex;
    m_lastWasMPost = mPost;
    httpSocket.Start(deviceHost, devicePort, upnp::SoapRequest(kind, mPost, a), int(kind));
    switch (kind) {
    case RequestKind::DeletePortMapping:
        ShowStatus(QStringLiteral("Deleteing Any Exising Mapped Port (Waiting for Response)..."));
        break;
    case RequestKind::AddPortMapping:
        ShowStatus(QStringLiteral("Sent New Port Mapping (Waiting for Response)..."));
        break;
    case RequestKind::GetSpecificPortMappingEntry:
        ShowStatus(QStringLiteral("Requested Port Mapping Info (Waiting for Response)..."));
        break;
    default:
        break;
    }
}

bool CUPNPSocket::OnResponse(const QByteArray& text, int kind, bool complete)
{
    // A verdict taken on a piece would depend on where the connection split
    // the answer.
    if (!complete)
        return false;
    switch (RequestKind(kind)) {
    case RequestKind::Description:
        return descriptionAnswer(text);
    case RequestKind::DeletePortMapping:
        return deleteAnswer(text);
    case RequestKind::AddPortMapping:
        return addAnswer(text);
    case RequestKind::GetSpecificPortMappingEntry:
        return specificAnswer(text);
    case RequestKind::GetGenericPortMappingEntry:
        return genericAnswer(text);
    }
    return false;
}

void CUPNPSocket::OnDeviceClosed(int kind)
{
    switch (RequestKind(kind)) {
    case RequestKind::DeletePortMapping:
    case RequestKind::GetSpecificPortMappingEntry:
        ShowStatus(QStringLiteral("Device Closed Port."));
        break;
    case RequestKind::AddPortMapping:
        ShowStatus(QStringLiteral("Device Closed Port."));
        SendSoap(RequestKind::GetSpecificPortMappingEntry, false);
        break;
    case RequestKind::GetGenericPortMappingEntry:
        ShowStatus(QStringLiteral("Device Closed Port."));
        ShowStatus(QStringLiteral("End of List"));
        break;
    case RequestKind::Description:
        break;
    }
}

bool CUPNPSocket::descriptionAnswer(const QByteArray& text)
{
    const QByteArray service =
        ExtractBetween(text, "<service>", "</service>", QByteArray("urn:") + upnp::ServiceType);
    if (service.isEmpty())
        return false;
    const QByteArray control = ExtractBetween(service, "<controlurl>", "</controlurl>");
    if (control.isEmpty())
        return false;
    controlPath = control;
    ShowStatus(QStringLiteral("Device Model: ") +
               QString::fromUtf8(ExtractBetween(text, "<modelname>", "</modelname>")) +
               QLatin1Char(' ') +
               QString::fromUtf8(ExtractBetween(text, "<modelnumber>", "</modelnumber>")));
    switch (mode) {
    case MapMode:
        SendSoap(RequestKind::GetSpecificPortMappingEntry, false);
        break;
    case UnmapMode:
    case RemapMode:
        SendSoap(RequestKind::DeletePortMapping, false);
        break;
    case ListMode:
        entryIndex = 0;
        m_budget += int(LastEntryIndex) + 1;
        SendSoap(RequestKind::GetGenericPortMappingEntry, false);
        ShowStatus(
            QStringLiteral("Requested All Port Mapping Entries (Waiting for Response)...\r\n"));
        break;
    default:
        break;
    }
    return true;
}

bool CUPNPSocket::repeatAsMPost(const QByteArray& text, RequestKind kind)
{
    // A device that refuses POST gets the request once more as M-POST.
    if (StatusCode(text) != 405 || m_lastWasMPost)
        return false;
    SendSoap(kind, true);
    return true;
}

bool CUPNPSocket::deleteAnswer(const QByteArray& text)
{
    if (repeatAsMPost(text, RequestKind::DeletePortMapping))
        return true;
    if (FindNoCase(text, "errorcode") >= 0)
        ShowStatus(QStringLiteral("No Existing Port Mappings Found."));
    else if (FindNoCase(text, "envelope") >= 0)
        ShowStatus(QStringLiteral("Deleted the current port mapping."));
    else
        return false;
    if (mode == MapMode || mode == RemapMode)
        SendSoap(RequestKind::AddPortMapping, false);
    else
        httpSocket.Close();
    return true;
}

bool CUPNPSocket::addAnswer(const QByteArray& text)
{
    if (FindNoCase(text, "HTTP") != 0)
        return false;
    if (StatusCode(text) == 200)
        ShowStatus(QStringLiteral("Device Port Mapping Complete!"));
    else
        ShowStatus(QStringLiteral("Device Port Mapping Failed!"));
    httpSocket.Close();
    return true;
}

bool CUPNPSocket::specificAnswer(const QByteArray& text)
{
    if (repeatAsMPost(text, RequestKind::GetSpecificPortMappingEntry))
        return true;
    if (FindNoCase(text, "errorcode") >= 0) {
        ShowStatus(QStringLiteral("No Existing Port Mappings Found."));
        SendSoap(RequestKind::AddPortMapping, false);
        return true;
    }
    const QByteArray client = ValueBefore(text, "</NewInternalClient>");
    if (client.isEmpty())
        return false;
    if (mode == MapMode) {
        if (client != lanAddress) {
            ShowStatus(QStringLiteral("Local IP Changed, ReMapping Port..."));
            SendSoap(RequestKind::DeletePortMapping, false);
        } else {
            ShowStatus(QStringLiteral("Your Port is already Mapped."));
            httpSocket.Close();
        }
    }
    return true;
}

bool CUPNPSocket::genericAnswer(const QByteArray& text)
{
    if (repeatAsMPost(text, RequestKind::GetGenericPortMappingEntry))
        return true;
    if (FindNoCase(text, "errorcode") >= 0) {
        ShowStatus(QStringLiteral("End of List"));
        httpSocket.Close();
        return true;
    }
    const QByteArray client = ValueBefore(text, "</NewInternalClient>");
    if (client.isEmpty())
        return false;
    const QByteArray internalPort = ValueBefore(text, "</NewInternalPort>");
    const QByteArray enabled = ValueBefore(text, "</NewEnabled>");
    const QByteArray protocol = ValueBefore(text, "</NewProtocol>");
    QByteArray lease = ValueBefore(text, "</NewLeaseDuration>");
    const QByteArray mappingDescription = ValueBefore(text, "</NewPortMappingDescription>");
    if (lease == "0")
        lease = "Forever";
    ShowStatus(QStringLiteral("Device Response For Mapping At Index[%1]...\r\nClient IP: %2\r\n"
                              "Port: %3\r\nProtocol: %4\r\nLease Duration: %5\r\n"
                              "Description: %6\r\nEnabled: %7\r\n")
                   .arg(entryIndex)
                   .arg(QString::fromUtf8(client), QString::fromUtf8(internalPort),
                        QString::fromUtf8(protocol), QString::fromUtf8(lease),
                        QString::fromUtf8(mappingDescription), QString::fromUtf8(enabled)));
    if (entryIndex >= LastEntryIndex) {
        ShowStatus(QStringLiteral("End of List"));
        httpSocket.Close();
        return true;
    }
    ++entryIndex;
    ShowStatus(QStringLiteral("Sending Request for Next Port Map Entry..."));
    SendSoap(RequestKind::GetGenericPortMappingEntry, false);
    return true;
}

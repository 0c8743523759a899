#include "nethelpers/upnptext.h"

#include <QNetworkInterface>

namespace {

char lowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

bool containsNoCase(const QByteArray& text, const QByteArray& pattern)
{
    return FindNoCase(text, pattern, 0) >= 0;
}

} // namespace

qsizetype FindNoCase(const QByteArray& text, const QByteArray& pattern, qsizetype from)
{
    if (from < 0)
        from = 0;
    const qsizetype last = text.size() - pattern.size();
    for (qsizetype i = from; i <= last; ++i) {
        qsizetype j = 0;
        while (j < pattern.size() && lowerAscii(text[i + j]) == lowerAscii(pattern[j]))
            ++j;
        if (j == pattern.size())
            return i;
    }
    return -1;
}

QByteArray ExtractBetween(const QByteArray& text, const QByteArray& startTag,
                          const QByteArray& endTag, const QByteArray& mustContain)
{
    if (startTag.isEmpty() && endTag.isEmpty())
        return {};
    if (startTag.isEmpty()) {
        const qsizetype end = FindNoCase(text, endTag, 0);
        return end < 0 ? QByteArray() : text.left(end);
    }
    if (endTag.isEmpty()) {
        const qsizetype start = FindNoCase(text, startTag, 0);
        return start < 0 ? QByteArray() : text.mid(start + startTag.size());
    }
    qsizetype from = 0;
    for (;;) {
        const qsizetype start = FindNoCase(text, startTag, from);
        if (start < 0)
            return {};
        const qsizetype inner = start + startTag.size();
        const qsizetype end = FindNoCase(text, endTag, inner);
        if (end < 0)
            return {};
        const QByteArray taken = text.mid(inner, end - inner);
        if (mustContain.isEmpty() || containsNoCase(taken, mustContain))
            return taken;
        from = end + endTag.size();
    }
}

QByteArray ValueBefore(const QByteArray& text, const QByteArray& closingTag)
{
    const qsizetype tag = text.indexOf(closingTag);
    if (tag < 0)
        return {};
    const qsizetype open = text.lastIndexOf('>', tag);
    if (open < 0)
        return {};
    return text.mid(open + 1, tag - open - 1);
}

qint64 DecimalPrefix(const QByteArray& text)
{
    qsizetype i = 0;
    while (i < text.size() &&
           (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    qint64 value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = qMin<qint64>(value * 10 + (text[i] - '0'), INT32_MAX);
    return negative ? -value : value;
}

int StatusCode(const QByteArray& response)
{
    if (response.size() < 12 || !response.startsWith("HTTP/1."))
        return 0;
    // Characters 9 to 11: digits only, as a decimal conversion stops at the
    // first other character.
    int code = 0;
    for (int i = 9; i < 12 && response[i] >= '0' && response[i] <= '9'; ++i)
        code = code * 10 + (response[i] - '0');
    return code;
}

bool IsCompleteAnswer(const QByteArray& response)
{
    const qsizetype headerEnd = response.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return false;
    const QByteArray headers = response.left(headerEnd + 2);
    const qsizetype at = FindNoCase(headers, "\r\nContent-Length:", 0);
    if (at < 0) {
        // A chunked answer is whole with its last, empty chunk.
        const QByteArray body = response.mid(headerEnd + 4);
        return FindNoCase(headers, "\r\nTransfer-Encoding: chunked", 0) >= 0 &&
               (body.startsWith("0\r\n\r\n") || body.contains("\r\n0\r\n\r\n"));
    }
    const qsizetype valueStart = at + qsizetype(sizeof("\r\nContent-Length:") - 1);
    const qsizetype lineEnd = headers.indexOf("\r\n", valueStart);
    bool ok = false;
    const qlonglong length =
        headers.mid(valueStart, lineEnd - valueStart).trimmed().toLongLong(&ok);
    if (!ok || length < 0)
        return false;
    return response.size() - (headerEnd + 4) >= length;
}

QByteArray FindLanAddress(const QByteArray& routerHost, const QList<QHostAddress>& localAddresses)
{
    const qsizetype dot = routerHost.lastIndexOf('.');
    const QByteArray prefix = dot < 0 ? routerHost : routerHost.left(dot);
    QList<QByteArray> found;
    for (qsizetype i = 0; i < localAddresses.size() && i < 10; ++i) {
        const QByteArray text = localAddresses[i].toString().toLatin1();
        if (text.startsWith(prefix))
            found.prepend(text);
        else
            found.append(text);
    }
    return found.isEmpty() ? QByteArray() : found.first();
}

QList<QHostAddress> LocalIpv4Addresses()
{
    QList<QHostAddress> result;
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& nic : interfaces) {
        const auto flags = nic.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp) ||
            flags.testFlag(QNetworkInterface::IsLoopBack))
            continue;
        for (const QNetworkAddressEntry& entry : nic.addressEntries()) {
            const QHostAddress a = entry.ip();
            if (a.protocol() == QAbstractSocket::IPv4Protocol && !a.isLoopback())
                result.append(a);
        }
    }
    return result;
}

namespace upnp {

namespace {

constexpr char EnvelopeNs[] = "http://schemas.xmlsoap.org/soap/envelope/";
constexpr char EncodingNs[] = "http://schemas.xmlsoap.org/soap/encoding/";

QByteArray actionName(RequestKind kind)
{
    switch (kind) {
    case RequestKind::DeletePortMapping:
        return "DeletePortMapping";
    case RequestKind::AddPortMapping:
        return "AddPortMapping";
    case RequestKind::GetSpecificPortMappingEntry:
        return "GetSpecificPortMappingEntry";
    case RequestKind::GetGenericPortMappingEntry:
        return "GetGenericPortMappingEntry";
    case RequestKind::Description:
        break;
    }
    return {};
}

QByteArray argument(const char* name, const char* type, const QByteArray& value)
{
    return QByteArray("<") + name + " xmlns:dt=\"urn:schemas-microsoft-com:datatypes\" dt:dt=\"" +
           type + "\">" + value + "</" + name + ">\r\n";
}

QByteArray arguments(RequestKind kind, const SoapArguments& a)
{
    const QByteArray remoteHost = argument("NewRemoteHost", "string", {});
    const QByteArray port = QByteArray::number(a.port);
    const QByteArray protocol = argument("NewProtocol", "string", a.useTcp ? "TCP" : "UDP");
    switch (kind) {
    case RequestKind::DeletePortMapping:
    case RequestKind::GetSpecificPortMappingEntry:
        return remoteHost + argument("NewExternalPort", "ui2", port) + protocol;
    case RequestKind::AddPortMapping:
        return remoteHost + argument("NewExternalPort", "ui2", port) + protocol +
               argument("NewInternalPort", "ui2", port) +
               argument("NewInternalClient", "string", a.lanAddress) +
               argument("NewEnabled", "boolean", "1") +
               argument("NewPortMappingDescription", "string", a.description) +
               argument("NewLeaseDuration", "ui4", "0");
    case RequestKind::GetGenericPortMappingEntry:
        return argument("NewPortMappingIndex", "ui2", QByteArray::number(a.entryIndex));
    case RequestKind::Description:
        break;
    }
    return {};
}

} // namespace

QByteArray SearchDatagram()
{
    return QByteArray("M-SEARCH * HTTP/1.1\r\n") + "Host:239.255.255.250:1900\r\n" +
           "ST:urn:" + ServiceType + "\r\n" + "Man:\"ssdp:discover\"\r\n" + "MX:3\r\n\r\n\r\n";
}

QByteArray DescriptionRequest(const QByteArray& host, quint16 port, const QByteArray& path)
{
    return "GET /" + path + " HTTP/1.1\r\n" + "Accept: text/xml, application/xml\r\n" +
           "User-Agent: Mozilla/4.0 (compatible; UPnP/1.0; Windows NT/5.1)\r\n" + "Host: " + host +
           ":" + QByteArray::number(port) + "\r\n" + "Connection: Keep-Alive\r\n" +
           "Cache-Control: no-cache\r\n" + "Pragma: no-cache\r\n\r\n\r\n";
}

QByteArray SoapRequest(RequestKind kind, bool mPost, const SoapArguments& args)
{
    const QByteArray action = actionName(kind);
    const QByteArray body =
        QByteArray("<?xml version=\"1.0\"?>\r\n") + "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"" +
        EnvelopeNs + "\" SOAP-ENV:encodingStyle=\"" + EncodingNs + "\">\r\n" +
        "<SOAP-ENV:Body>\r\n" + "<m:" + action + " xmlns:m=\"urn:" + ServiceType + "\">\r\n" +
        arguments(kind, args) + "</m:" + action + ">\r\n" + "</SOAP-ENV:Body>\r\n" +
        "</SOAP-ENV:Envelope>\r\n";

    QByteArray head = (mPost ? "M-POST " : "POST ") + args.controlPath + " HTTP/1.1\r\n";
    head += "Content-Type: text/xml; charset=\"utf-8\"\r\n";
    if (mPost)
        head += QByteArray("MAN: \"") + EnvelopeNs + "\"; ns=01\r\n";
    head += QByteArray(mPost ? "01-SOAPACTION:" : "SOAPAction:") + " \"urn:" + ServiceType + "#" +
            action + "\"\r\n";
    head += "User-Agent: Mozilla/4.0 (compatible; UPnP/1.0; Windows 9x)\r\n";
    head += "Host: " + args.deviceHost + ":" + QByteArray::number(args.devicePort) + "\r\n";
    head += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    head += "Connection: Keep-Alive\r\n";
    head += "Cache-Control: no-cache\r\n";
    head += "Pragma: no-cache\r\n\r\n\r\n";
    return head + body;
}

} // namespace upnp

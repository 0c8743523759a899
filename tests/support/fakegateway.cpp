#include "fakegateway.h"

#include <QRegularExpression>

namespace {

const QByteArray ServiceType = "urn:schemas-upnp-org:service:WANIPConnection:1";

QByteArray argumentValue(const QByteArray& body, const char* name)
{
    const QRegularExpression re(QStringLiteral("<%1[^>]*>([^<]*)</%1>").arg(QLatin1String(name)));
    const auto m = re.match(QString::fromUtf8(body));
    return m.hasMatch() ? m.captured(1).toUtf8() : QByteArray();
}

QByteArray envelope(const QByteArray& inner)
{
    return "<?xml version=\"1.0\"?>\r\n<s:Envelope "
           "xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
           "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body>" +
           inner + "</s:Body></s:Envelope>\r\n";
}

HttpAnswerer::Answer upnpError(int code, const char* description)
{
    HttpAnswerer::Answer a;
    a.status = 500;
    a.reason = "Internal Server Error";
    a.body = envelope("<s:Fault><faultcode>s:Client</faultcode><faultstring>UPnPError</faultstring>"
                      "<detail><UPnPError xmlns=\"urn:schemas-upnp-org:control-1-0\"><errorCode>" +
                      QByteArray::number(code) + "</errorCode><errorDescription>" + description +
                      "</errorDescription></UPnPError></detail></s:Fault>");
    return a;
}

HttpAnswerer::Answer actionAnswer(const QByteArray& action, const QByteArray& values)
{
    HttpAnswerer::Answer a;
    a.body = envelope("<u:" + action + "Response xmlns:u=\"" + ServiceType + "\">" + values +
                      "</u:" + action + "Response>");
    return a;
}

QByteArray element(const char* name, const QByteArray& value)
{
    return QByteArray("<") + name + ">" + value + "</" + name + ">";
}

} // namespace

FakeGateway::FakeGateway(QObject* parent)
    : QObject(parent), m_http([this](const HttpAnswerer::Request& r) { return answer(r); }, this)
{
    connect(&m_udp, &QUdpSocket::readyRead, this, &FakeGateway::readSearches);
}

bool FakeGateway::start(quint16 ssdpPort, quint16 httpPort)
{
    return m_udp.bind(QHostAddress::LocalHost, ssdpPort) && m_http.listen(httpPort);
}

void FakeGateway::readSearches()
{
    while (m_udp.hasPendingDatagrams()) {
        QByteArray datagram(int(m_udp.pendingDatagramSize()), '\0');
        QHostAddress from;
        quint16 fromPort = 0;
        m_udp.readDatagram(datagram.data(), datagram.size(), &from, &fromPort);
        searches.append(datagram);
        if (!datagram.startsWith("M-SEARCH"))
            continue;
        const QByteArray st =
            otherDeviceOnly ? "urn:schemas-upnp-org:device:MediaServer:1" : ServiceType;
        QByteArray answer = "HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=120\r\nST: " + st +
                            "\r\nUSN: uuid:fa4e0001-0000-0000-0000-000000000001::" + st +
                            "\r\nEXT:\r\nSERVER: Linux UPnP/1.1 FakeGateway/1.0\r\nLOCATION: " +
                            QByteArray(location).replace("%1", QByteArray::number(httpPort())) +
                            "\r\n\r\n";
        m_udp.writeDatagram(answer, from, fromPort);
    }
}

QByteArray FakeGateway::descriptionXml() const
{
    const QByteArray common =
        "<service><serviceType>urn:schemas-upnp-org:service:WANCommonInterfaceConfig:1"
        "</serviceType><serviceId>urn:upnp-org:serviceId:WANCommonIFC1</serviceId>"
        "<controlURL>/ctl/CmnIfCfg</controlURL><eventSubURL>/evt/CmnIfCfg</eventSubURL>"
        "<SCPDURL>/WANCfg.xml</SCPDURL></service>";
    const QByteArray wanIp =
        "<service><serviceType>" + ServiceType +
        "</serviceType><serviceId>urn:upnp-org:serviceId:WANIPConn1</serviceId>"
        "<controlURL>/ctl/IPConn</controlURL><eventSubURL>/evt/IPConn</eventSubURL>"
        "<SCPDURL>/WANIPCn.xml</SCPDURL></service>";
    QByteArray xml = "<?xml version=\"1.0\"?>\r\n<root xmlns=\"urn:schemas-upnp-org:device-1-0\">"
                     "<device><deviceType>urn:schemas-upnp-org:device:InternetGatewayDevice:1"
                     "</deviceType><friendlyName>Loopback Router</friendlyName>"
                     "<modelName>FakeGateway</modelName><modelNumber>1.0</modelNumber>"
                     "<serviceList>" +
                     (serviceSecond ? common + wanIp : wanIp + common) +
                     "</serviceList></device></root>\r\n";
    if (upperCaseTags) {
        // Every tag name in upper case, values untouched.
        static const QRegularExpression tag(QStringLiteral("<(/?)([A-Za-z]+)"));
        QString text = QString::fromUtf8(xml);
        QString out;
        qsizetype last = 0;
        for (auto it = tag.globalMatch(text); it.hasNext();) {
            const auto m = it.next();
            out += text.mid(last, m.capturedStart() - last);
            out += QLatin1Char('<') + m.captured(1) + m.captured(2).toUpper();
            last = m.capturedEnd();
        }
        out += text.mid(last);
        xml = out.toUtf8();
    }
    return xml;
}

HttpAnswerer::Answer FakeGateway::answer(const HttpAnswerer::Request& request)
{
    HttpAnswerer::Answer a;
    if (request.method == "GET") {
        actions.append("GET " + request.path);
        a.body = descriptionXml();
    } else {
        const bool mPost = request.method == "M-POST";
        const QByteArray soapAction = request.header(mPost ? "01-SOAPACTION" : "SOAPAction");
        const QByteArray action = soapAction.mid(soapAction.indexOf('#') + 1).replace("\"", "");
        actions.append(request.method + ' ' + action);
        if (request.path != "/ctl/IPConn") {
            a.status = 404;
            a.reason = "Not Found";
            a.body = "<html>Not Found</html>";
        } else if (!mPost && answer405ToPost) {
            a.status = 405;
            a.reason = "Method Not Allowed";
            a.body = "<html>Method Not Allowed</html>";
        } else if (closeBeforeAnswer.removeOne(action)) {
            a.closeWithoutAnswer = true;
        } else {
            a = soapAnswer(action, request.body);
        }
    }
    if (closeDelimited)
        a.contentLength = -2;
    return a;
}

HttpAnswerer::Answer FakeGateway::soapAnswer(const QByteArray& action, const QByteArray& body)
{
    const quint16 port = quint16(argumentValue(body, "NewExternalPort").toUInt());
    const QByteArray protocol = argumentValue(body, "NewProtocol");
    const auto find = [&] {
        for (qsizetype i = 0; i < mappings.size(); ++i) {
            if (mappings[i].externalPort == port && mappings[i].protocol == protocol)
                return i;
        }
        return qsizetype(-1);
    };
    if (action == "GetSpecificPortMappingEntry") {
        const qsizetype i = find();
        if (i < 0)
            return upnpError(714, "NoSuchEntryInArray");
        const Mapping& m = mappings[i];
        return actionAnswer(action, element("NewInternalPort", QByteArray::number(m.internalPort)) +
                                        element("NewInternalClient", m.client) +
                                        element("NewEnabled", m.enabled) +
                                        element("NewPortMappingDescription", m.description) +
                                        element("NewLeaseDuration", m.lease));
    }
    if (action == "AddPortMapping") {
        Mapping m;
        m.externalPort = port;
        m.protocol = protocol;
        m.internalPort = quint16(argumentValue(body, "NewInternalPort").toUInt());
        m.client = argumentValue(body, "NewInternalClient");
        m.description = argumentValue(body, "NewPortMappingDescription");
        m.lease = argumentValue(body, "NewLeaseDuration");
        m.enabled = argumentValue(body, "NewEnabled");
        const qsizetype i = find();
        if (i >= 0)
            mappings[i] = m;
        else
            mappings.append(m);
        return actionAnswer(action, {});
    }
    if (action == "DeletePortMapping") {
        const qsizetype i = find();
        if (i < 0)
            return upnpError(714, "NoSuchEntryInArray");
        mappings.removeAt(i);
        return actionAnswer(action, {});
    }
    if (action == "GetGenericPortMappingEntry") {
        const qsizetype index = argumentValue(body, "NewPortMappingIndex").toLongLong();
        if (index < 0 || index >= mappings.size())
            return upnpError(713, "SpecifiedArrayIndexInvalid");
        const Mapping& m = mappings[index];
        return actionAnswer(
            action, element("NewRemoteHost", {}) +
                        element("NewExternalPort", QByteArray::number(m.externalPort)) +
                        element("NewProtocol", m.protocol) +
                        element("NewInternalPort", QByteArray::number(m.internalPort)) +
                        element("NewInternalClient", m.client) + element("NewEnabled", m.enabled) +
                        element("NewPortMappingDescription", m.description) +
                        element("NewLeaseDuration", m.lease));
    }
    return upnpError(401, "Invalid Action");
}

#include "nethelpers/upnptext.h"

#include <QTest>

using upnp::RequestKind;

class TestUpnpText : public QObject
{
    Q_OBJECT
private slots:
    void findNoCase_data();
    void findNoCase();
    void extractBetween_data();
    void extractBetween();
    void valueBefore_data();
    void valueBefore();
    void decimalPrefix_data();
    void decimalPrefix();
    void statusCode_data();
    void statusCode();
    void completeAnswer_data();
    void completeAnswer();
    void lanAddress_data();
    void lanAddress();
    void searchDatagram();
    void descriptionRequest();
    void soapRequest_data();
    void soapRequest();
};

void TestUpnpText::findNoCase_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("pattern");
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("expected");
    QTest::newRow("letters any case")
        << QByteArray("xx<ControlURL>") << QByteArray("<controlurl>") << 0 << 2;
    QTest::newRow("from skips earlier") << QByteArray("abcabc") << QByteArray("ABC") << 1 << 3;
    QTest::newRow("other bytes exact") << QByteArray("a_b") << QByteArray("a-b") << 0 << -1;
    QTest::newRow("only letters fold") << QByteArray("[") << QByteArray("{") << 0 << -1;
    QTest::newRow("runs past end") << QByteArray("HTT") << QByteArray("http") << 0 << -1;
    QTest::newRow("empty text") << QByteArray() << QByteArray("x") << 0 << -1;
}

void TestUpnpText::findNoCase()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, pattern);
    QFETCH(int, from);
    QFETCH(int, expected);
    QCOMPARE(FindNoCase(text, pattern, from), expected);
}

void TestUpnpText::extractBetween_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("start");
    QTest::addColumn<QByteArray>("end");
    QTest::addColumn<QByteArray>("mustContain");
    QTest::addColumn<QByteArray>("expected");
    const QByteArray services =
        "<service><serviceType>urn:other</serviceType><controlURL>/a</controlURL></service>"
        "<SERVICE><serviceType>urn:WANIP</serviceType><controlURL>/b</controlURL></SERVICE>";
    QTest::newRow("second pair qualifies")
        << services << QByteArray("<service>") << QByteArray("</service>") << QByteArray("wanip")
        << QByteArray("<serviceType>urn:WANIP</serviceType><controlURL>/b</controlURL>");
    QTest::newRow("none qualifies")
        << services << QByteArray("<service>") << QByteArray("</service>")
        << QByteArray("urn:nothing") << QByteArray();
    QTest::newRow("first pair") << QByteArray("<a>1</A><a>2</a>") << QByteArray("<A>")
                                << QByteArray("</a>") << QByteArray() << QByteArray("1");
    QTest::newRow("no start tag: before end")
        << QByteArray("host:5000/x") << QByteArray() << QByteArray(":") << QByteArray()
        << QByteArray("host");
    QTest::newRow("no end tag: after start")
        << QByteArray("host:5000/desc/x.xml") << QByteArray("/") << QByteArray() << QByteArray()
        << QByteArray("desc/x.xml");
    QTest::newRow("start tag missing") << QByteArray("abc") << QByteArray("<x>")
                                       << QByteArray("</x>") << QByteArray() << QByteArray();
    QTest::newRow("end tag missing") << QByteArray("<x>abc") << QByteArray("<x>")
                                     << QByteArray("</x>") << QByteArray() << QByteArray();
    QTest::newRow("url to line end")
        << QByteArray("LOCATION: HTTP://10.0.0.1:80/d.xml\r\nEXT:\r\n") << QByteArray("http://")
        << QByteArray("\r\n") << QByteArray() << QByteArray("10.0.0.1:80/d.xml");
}

void TestUpnpText::extractBetween()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, start);
    QFETCH(QByteArray, end);
    QFETCH(QByteArray, mustContain);
    QFETCH(QByteArray, expected);
    QCOMPARE(ExtractBetween(text, start, end, mustContain), expected);
}

void TestUpnpText::valueBefore_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("tag");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("value") << QByteArray("<a><NewInternalClient>10.0.0.2</NewInternalClient>")
                           << QByteArray("</NewInternalClient>") << QByteArray("10.0.0.2");
    QTest::newRow("case matters") << QByteArray("<x>1</newinternalclient>")
                                  << QByteArray("</NewInternalClient>") << QByteArray();
    QTest::newRow("empty value") << QByteArray("<NewLeaseDuration></NewLeaseDuration>")
                                 << QByteArray("</NewLeaseDuration>") << QByteArray();
    QTest::newRow("no '>' before") << QByteArray("abc</x>") << QByteArray("</x>") << QByteArray();
}

void TestUpnpText::valueBefore()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, tag);
    QFETCH(QByteArray, expected);
    QCOMPARE(ValueBefore(text, tag), expected);
}

void TestUpnpText::decimalPrefix_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<qint64>("value");
    QTest::newRow("port before the path") << QByteArray("5000abc") << qint64(5000);
    QTest::newRow("blanks and sign") << QByteArray("  +12") << qint64(12);
    QTest::newRow("negative") << QByteArray("-3") << qint64(-3);
    QTest::newRow("no digits") << QByteArray("abc") << qint64(0);
    QTest::newRow("empty") << QByteArray() << qint64(0);
    QTest::newRow("held at the 32-bit limit") << QByteArray("99999999999") << qint64(2147483647);
}

void TestUpnpText::decimalPrefix()
{
    QFETCH(QByteArray, text);
    QFETCH(qint64, value);
    QCOMPARE(DecimalPrefix(text), value);
}

void TestUpnpText::statusCode_data()
{
    QTest::addColumn<QByteArray>("response");
    QTest::addColumn<int>("expected");
    QTest::newRow("405") << QByteArray("HTTP/1.1 405 Method Not Allowed\r\n") << 405;
    QTest::newRow("1.0 200") << QByteArray("HTTP/1.0 200 OK\r\n") << 200;
    QTest::newRow("eleven characters") << QByteArray("HTTP/1.1 20") << 0;
    QTest::newRow("twelve characters") << QByteArray("HTTP/1.1 500") << 500;
    QTest::newRow("not HTTP/1.") << QByteArray("HTTP/2 200 OK\r\n\r\n") << 0;
    QTest::newRow("lower case") << QByteArray("http/1.1 200 OK\r\n") << 0;
}

void TestUpnpText::statusCode()
{
    QFETCH(QByteArray, response);
    QFETCH(int, expected);
    QCOMPARE(StatusCode(response), expected);
}

void TestUpnpText::completeAnswer_data()
{
    QTest::addColumn<QByteArray>("response");
    QTest::addColumn<bool>("complete");
    QTest::newRow("status line only") << QByteArray("HTTP/1.1 200 OK\r\n") << false;
    QTest::newRow("shorter than a status line") << QByteArray("HTTP/") << false;
    QTest::newRow("body one short")
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n1234") << false;
    QTest::newRow("body whole") << QByteArray("HTTP/1.1 200 OK\r\nCONTENT-LENGTH:5\r\n\r\n12345")
                                << true;
    QTest::newRow("empty body") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n")
                                << true;
    QTest::newRow("no length: wait for the close")
        << QByteArray("HTTP/1.1 200 OK\r\n\r\n<x/>") << false;
    QTest::newRow("length in the body does not count")
        << QByteArray("HTTP/1.1 200 OK\r\n\r\nContent-Length: 0\r\n\r\n") << false;
    QTest::newRow("chunked, last chunk missing")
        << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4\r\n<x/>\r\n")
        << false;
    QTest::newRow("chunked, whole")
        << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4\r\n<x/>\r\n0\r\n\r\n")
        << true;
    QTest::newRow("bad length") << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: x\r\n\r\n")
                                << false;
}

void TestUpnpText::completeAnswer()
{
    QFETCH(QByteArray, response);
    QFETCH(bool, complete);
    QCOMPARE(IsCompleteAnswer(response), complete);
}

void TestUpnpText::lanAddress_data()
{
    QTest::addColumn<QByteArray>("router");
    QTest::addColumn<QByteArrayList>("local");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("router's network")
        << QByteArray("192.168.1.1") << QByteArrayList{"10.0.0.5", "192.168.1.20"}
        << QByteArray("192.168.1.20");
    QTest::newRow("no match: first")
        << QByteArray("192.168.1.1") << QByteArrayList{"10.0.0.5", "172.16.0.3"}
        << QByteArray("10.0.0.5");
    QTest::newRow("last match wins")
        << QByteArray("10.0.0.1") << QByteArrayList{"10.0.0.5", "192.168.1.2", "10.0.0.7"}
        << QByteArray("10.0.0.7");
    QTest::newRow("plain prefix compare")
        << QByteArray("10.0.0.1") << QByteArrayList{"192.168.1.2", "10.0.0.77"}
        << QByteArray("10.0.0.77");
    QTest::newRow("only the first ten")
        << QByteArray("192.168.1.1")
        << QByteArrayList{"10.0.0.1", "10.0.0.2",  "10.0.0.3",    "10.0.0.4",
                          "10.0.0.5", "10.0.0.6",  "10.0.0.7",    "10.0.0.8",
                          "10.0.0.9", "10.0.0.10", "192.168.1.20"}
        << QByteArray("10.0.0.1");
    QTest::newRow("none") << QByteArray("192.168.1.1") << QByteArrayList{} << QByteArray();
}

void TestUpnpText::lanAddress()
{
    QFETCH(QByteArray, router);
    QFETCH(QByteArrayList, local);
    QFETCH(QByteArray, expected);
    QList<QHostAddress> addresses;
    for (const QByteArray& a : local)
        addresses.append(QHostAddress(QString::fromLatin1(a)));
    QCOMPARE(FindLanAddress(router, addresses), expected);
}

void TestUpnpText::searchDatagram()
{
    QCOMPARE(upnp::SearchDatagram(),
             QByteArray("M-SEARCH * HTTP/1.1\r\nHost:239.255.255.250:1900\r\n"
                        "ST:urn:schemas-upnp-org:service:WANIPConnection:1\r\n"
                        "Man:\"ssdp:discover\"\r\nMX:3\r\n\r\n\r\n"));
}

void TestUpnpText::descriptionRequest()
{
    QCOMPARE(upnp::DescriptionRequest("192.168.1.1", 5000, "rootDesc.xml"),
             QByteArray("GET /rootDesc.xml HTTP/1.1\r\n"
                        "Accept: text/xml, application/xml\r\n"
                        "User-Agent: Mozilla/4.0 (compatible; UPnP/1.0; Windows NT/5.1)\r\n"
                        "Host: 192.168.1.1:5000\r\n"
                        "Connection: Keep-Alive\r\n"
                        "Cache-Control: no-cache\r\n"
                        "Pragma: no-cache\r\n\r\n\r\n"));
}

void TestUpnpText::soapRequest_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("mPost");
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<QByteArray>("arguments");

    const QByteArray dt = "xmlns:dt=\"urn:schemas-microsoft-com:datatypes\" dt:dt=";
    const QByteArray remoteHost = "<NewRemoteHost " + dt + "\"string\"></NewRemoteHost>\r\n";
    const QByteArray external = "<NewExternalPort " + dt + "\"ui2\">8410</NewExternalPort>\r\n";
    const QByteArray tcp = "<NewProtocol " + dt + "\"string\">TCP</NewProtocol>\r\n";
    const QByteArray postHead = "POST /upnp/control/WANIPConn1 HTTP/1.1\r\n"
                                "Content-Type: text/xml; charset=\"utf-8\"\r\n"
                                "SOAPAction: \"urn:schemas-upnp-org:service:WANIPConnection:1#";

    QTest::newRow("DeletePortMapping")
        << int(RequestKind::DeletePortMapping) << false << postHead + "DeletePortMapping\"\r\n"
        << remoteHost + external + tcp;
    QTest::newRow("AddPortMapping")
        << int(RequestKind::AddPortMapping) << false << postHead + "AddPortMapping\"\r\n"
        << remoteHost + external + tcp + "<NewInternalPort " + dt +
               "\"ui2\">8410</NewInternalPort>\r\n" + "<NewInternalClient " + dt +
               "\"string\">192.168.1.20</NewInternalClient>\r\n" + "<NewEnabled " + dt +
               "\"boolean\">1</NewEnabled>\r\n" + "<NewPortMappingDescription " + dt +
               "\"string\">Zephlink P2P</NewPortMappingDescription>\r\n" + "<NewLeaseDuration " +
               dt + "\"ui4\">0</NewLeaseDuration>\r\n";
    QTest::newRow("GetSpecificPortMappingEntry")
        << int(RequestKind::GetSpecificPortMappingEntry) << false
        << postHead + "GetSpecificPortMappingEntry\"\r\n"
        << remoteHost + external + tcp;
    QTest::newRow("GetGenericPortMappingEntry")
        << int(RequestKind::GetGenericPortMappingEntry) << false
        << postHead + "GetGenericPortMappingEntry\"\r\n"
        << "<NewPortMappingIndex " + dt + "\"ui2\">3</NewPortMappingIndex>\r\n";
    QTest::newRow("DeletePortMapping, M-POST")
        << int(RequestKind::DeletePortMapping) << true
        << QByteArray("M-POST /upnp/control/WANIPConn1 HTTP/1.1\r\n"
                      "Content-Type: text/xml; charset=\"utf-8\"\r\n"
                      "MAN: \"http://schemas.xmlsoap.org/soap/envelope/\"; ns=01\r\n"
                      "01-SOAPACTION: "
                      "\"urn:schemas-upnp-org:service:WANIPConnection:1#DeletePortMapping\"\r\n")
        << remoteHost + external + tcp;
}

void TestUpnpText::soapRequest()
{
    QFETCH(int, kind);
    QFETCH(bool, mPost);
    QFETCH(QByteArray, head);
    QFETCH(QByteArray, arguments);

    const QByteArray action = QByteArray(QTest::currentDataTag()).split(',').first();
    const QByteArray body =
        "<?xml version=\"1.0\"?>\r\n"
        "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
        "SOAP-ENV:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\">\r\n"
        "<SOAP-ENV:Body>\r\n"
        "<m:" +
        action + " xmlns:m=\"urn:schemas-upnp-org:service:WANIPConnection:1\">\r\n" + arguments +
        "</m:" + action +
        ">\r\n"
        "</SOAP-ENV:Body>\r\n"
        "</SOAP-ENV:Envelope>\r\n";
    const QByteArray expected = head +
                                "User-Agent: Mozilla/4.0 (compatible; UPnP/1.0; Windows 9x)\r\n"
                                "Host: 192.168.1.1:5000\r\n"
                                "Content-Length: " +
                                QByteArray::number(body.size()) +
                                "\r\n"
                                "Connection: Keep-Alive\r\n"
                                "Cache-Control: no-cache\r\n"
                                "Pragma: no-cache\r\n\r\n\r\n" +
                                body;

    upnp::SoapArguments a;
    a.controlPath = "/upnp/control/WANIPConn1";
    a.deviceHost = "192.168.1.1";
    a.devicePort = 5000;
    a.port = 8410;
    a.lanAddress = "192.168.1.20";
    a.description = "Zephlink P2P";
    a.entryIndex = 3;
    QCOMPARE(upnp::SoapRequest(RequestKind(kind), mPost, a), expected);
}

QTEST_GUILESS_MAIN(TestUpnpText)
#include "tst_upnptext.moc"

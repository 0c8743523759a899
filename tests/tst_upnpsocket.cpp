#include "fakegateway.h"
#include "nethelpers/upnpsocket.h"

#include <QTcpServer>
#include <QTest>

namespace {

// The router configuration log as the dialog would show it.
struct LogRecorder : UpnpLog
{
    QStringList lines;
    void upnpStatus(const QString& line, bool clear) override
    {
        if (clear)
            lines.clear();
        lines.append(line);
    }
};

using Mappings = QList<FakeGateway::Mapping>;

FakeGateway::Mapping mapping(quint16 port, const char* client, const char* lease = "0",
                             const char* description = "Zephlink P2P")
{
    FakeGateway::Mapping m;
    m.externalPort = port;
    m.internalPort = port;
    m.client = client;
    m.lease = lease;
    m.description = description;
    return m;
}

// The lines every job starts with once the device has answered the search.
const QStringList Found = {
    QStringLiteral("Starting UPNP Device Search..."),
    QStringLiteral(
        "A Router Device Responded with UPNP URL...\r\nhttp://127.0.0.1:PORT/rootDesc.xml"),
    QStringLiteral("Detected your IP as: 127.0.0.1"),
    QStringLiteral("Requested Device Info (Waiting on Response)..."),
    QStringLiteral("Device Model: FakeGateway 1.0"),
};

enum Job { Map, Unmap, Remap, List };

} // namespace

Q_DECLARE_METATYPE(Mappings)

class TestUpnpSocket : public QObject
{
    Q_OBJECT
private slots:
    void jobs_data();
    void jobs();
    void searchAnswers_data();
    void searchAnswers();
    void newJobAfterFailedConnect();
    void newJobDropsTheRunningOne();

private:
    // A socket searching the gateway, choosing 127.0.0.1 as this computer's address.
    void prepare(CUPNPSocket& socket, LogRecorder& log, const FakeGateway& gateway)
    {
        socket.setLog(&log);
        socket.setSearchTarget(QHostAddress::LocalHost, gateway.ssdpPort());
        socket.setLocalAddressSource([] {
            return QList<QHostAddress>{QHostAddress(QStringLiteral("10.0.0.5")),
                                       QHostAddress(QHostAddress::LocalHost)};
        });
    }
    static QStringList withPort(QStringList lines, quint16 port)
    {
        for (QString& l : lines)
            l.replace(QString::number(port), QStringLiteral("PORT"));
        return lines;
    }
};

void TestUpnpSocket::jobs_data()
{
    QTest::addColumn<int>("job");
    QTest::addColumn<Mappings>("before");
    QTest::addColumn<QStringList>("switches");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QByteArrayList>("actions");
    QTest::addColumn<Mappings>("after");

    const QString askEntry =
        QStringLiteral("Requested Port Mapping Info (Waiting for Response)...");
    const QString noMapping = QStringLiteral("No Existing Port Mappings Found.");
    const QString sentAdd = QStringLiteral("Sent New Port Mapping (Waiting for Response)...");
    const QString complete = QStringLiteral("Device Port Mapping Complete!");
    const QString deleting =
        QStringLiteral("Deleteing Any Exising Mapped Port (Waiting for Response)...");
    const QString deleted = QStringLiteral("Deleted the current port mapping.");
    const QByteArrayList mapActions = {"GET /rootDesc.xml", "POST GetSpecificPortMappingEntry",
                                       "POST AddPortMapping"};
    const QStringList firstMapping = Found + QStringList{askEntry, noMapping, sentAdd, complete};
    const Mappings mapped = {mapping(8410, "127.0.0.1")};

    QTest::newRow("first mapping")
        << int(Map) << Mappings{} << QStringList{} << firstMapping << mapActions << mapped;
    // Pieces of 5 bytes: the first one is shorter than a status line, and
    // an error answer shows its envelope before its error code.
    QTest::newRow("first mapping, answers in pieces")
        << int(Map) << Mappings{} << QStringList{QStringLiteral("pieces")} << firstMapping
        << mapActions << mapped;
    QTest::newRow("first mapping, answers end with the close")
        << int(Map) << Mappings{} << QStringList{QStringLiteral("close-delimited")} << firstMapping
        << mapActions << mapped;
    QTest::newRow("first mapping, WANIPConnection second")
        << int(Map) << Mappings{} << QStringList{QStringLiteral("service-second")} << firstMapping
        << mapActions << mapped;
    QTest::newRow("first mapping, upper-case tags")
        << int(Map) << Mappings{} << QStringList{QStringLiteral("upper-case")} << firstMapping
        << mapActions << mapped;
    QTest::newRow("already mapped")
        << int(Map) << mapped << QStringList{}
        << Found + QStringList{askEntry, QStringLiteral("Your Port is already Mapped.")}
        << QByteArrayList{"GET /rootDesc.xml", "POST GetSpecificPortMappingEntry"} << mapped;
    QTest::newRow("mapped for another address")
        << int(Map) << Mappings{mapping(8410, "10.0.0.9")} << QStringList{}
        << Found + QStringList{askEntry, QStringLiteral("Local IP Changed, ReMapping Port..."),
                               deleting, deleted,
                               sentAdd,  complete}
        << QByteArrayList{"GET /rootDesc.xml", "POST GetSpecificPortMappingEntry",
                          "POST DeletePortMapping", "POST AddPortMapping"}
        << mapped;
    QTest::newRow("device closes before the add answer")
        << int(Map) << Mappings{} << QStringList{QStringLiteral("close-add")}
        << Found + QStringList{askEntry, noMapping, sentAdd, QStringLiteral("Device Closed Port."),
                               askEntry, noMapping, sentAdd, complete}
        << QByteArrayList{"GET /rootDesc.xml", "POST GetSpecificPortMappingEntry",
                          "POST AddPortMapping", "POST GetSpecificPortMappingEntry",
                          "POST AddPortMapping"}
        << mapped;
    // No M-POST repetition for the add: it fails.
    QTest::newRow("405 to POST") << int(Map) << Mappings{} << QStringList{QStringLiteral("405")}
                                 << Found +
                                        QStringList{askEntry, askEntry, noMapping, sentAdd,
                                                    QStringLiteral("Device Port Mapping Failed!")}
                                 << QByteArrayList{"GET /rootDesc.xml",
                                                   "POST GetSpecificPortMappingEntry",
                                                   "M-POST GetSpecificPortMappingEntry",
                                                   "POST AddPortMapping"}
                                 << Mappings{};
    QTest::newRow("unmap") << int(Unmap) << mapped << QStringList{}
                           << Found + QStringList{deleting, deleted}
                           << QByteArrayList{"GET /rootDesc.xml", "POST DeletePortMapping"}
                           << Mappings{};
    QTest::newRow("unmap, 405 to POST")
        << int(Unmap) << mapped << QStringList{QStringLiteral("405")}
        << Found + QStringList{deleting, deleting, deleted}
        << QByteArrayList{"GET /rootDesc.xml", "POST DeletePortMapping", "M-POST DeletePortMapping"}
        << Mappings{};
    QTest::newRow("unmap without a mapping, answers in pieces")
        << int(Unmap) << Mappings{} << QStringList{QStringLiteral("pieces")}
        << Found + QStringList{deleting, noMapping}
        << QByteArrayList{"GET /rootDesc.xml", "POST DeletePortMapping"} << Mappings{};
    QTest::newRow("remap 8410 to 9000")
        << int(Remap) << mapped << QStringList{}
        << Found + QStringList{deleting, deleted, sentAdd, complete}
        << QByteArrayList{"GET /rootDesc.xml", "POST DeletePortMapping", "POST AddPortMapping"}
        << Mappings{mapping(9000, "127.0.0.1")};

    const Mappings two = {mapping(8410, "192.168.1.20"),
                          mapping(6000, "192.168.1.30", "3600", "Game")};
    const QString next = QStringLiteral("Sending Request for Next Port Map Entry...");
    QTest::newRow("list two mappings")
        << int(List) << two << QStringList{}
        << Found +
               QStringList{
                   QStringLiteral(
                       "Requested All Port Mapping Entries (Waiting for Response)...\r\n"),
                   QStringLiteral(
                       "Device Response For Mapping At Index[0]...\r\nClient IP: 192.168.1.20\r\n"
                       "Port: 8410\r\nProtocol: TCP\r\nLease Duration: Forever\r\n"
                       "Description: Zephlink P2P\r\nEnabled: 1\r\n"),
                   next,
                   QStringLiteral(
                       "Device Response For Mapping At Index[1]...\r\nClient IP: 192.168.1.30\r\n"
                       "Port: 6000\r\nProtocol: TCP\r\nLease Duration: 3600\r\n"
                       "Description: Game\r\nEnabled: 1\r\n"),
                   next,
                   QStringLiteral("End of List")}
        << QByteArrayList{"GET /rootDesc.xml", "POST GetGenericPortMappingEntry",
                          "POST GetGenericPortMappingEntry", "POST GetGenericPortMappingEntry"}
        << two;
}

void TestUpnpSocket::jobs()
{
    QFETCH(int, job);
    QFETCH(Mappings, before);
    QFETCH(QStringList, switches);
    QFETCH(QStringList, lines);
    QFETCH(QByteArrayList, actions);
    QFETCH(Mappings, after);

    FakeGateway gateway;
    QVERIFY(gateway.start());
    gateway.mappings = before;
    gateway.answer405ToPost = switches.contains(QStringLiteral("405"));
    gateway.closeDelimited = switches.contains(QStringLiteral("close-delimited"));
    gateway.serviceSecond = switches.contains(QStringLiteral("service-second"));
    gateway.upperCaseTags = switches.contains(QStringLiteral("upper-case"));
    if (switches.contains(QStringLiteral("pieces")))
        gateway.setPieceSize(5);
    if (switches.contains(QStringLiteral("close-add")))
        gateway.closeBeforeAnswer = {"AddPortMapping"};

    LogRecorder log;
    CUPNPSocket socket;
    prepare(socket, log, gateway);
    switch (job) {
    case Map:
        socket.MapPort(8410);
        break;
    case Unmap:
        socket.UnmapPort(8410);
        break;
    case Remap:
        socket.RemapPort(8410, 9000);
        break;
    case List:
        socket.ListMappings();
        break;
    }
    QTRY_COMPARE_WITH_TIMEOUT(withPort(log.lines, gateway.httpPort()).size(), lines.size(), 10000);
    QCOMPARE(withPort(log.lines, gateway.httpPort()), lines);
    QCOMPARE(gateway.actions, actions);
    QCOMPARE(socket.logContents(), log.lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"));

    QCOMPARE(gateway.mappings.size(), after.size());
    for (qsizetype i = 0; i < after.size(); ++i) {
        QCOMPARE(gateway.mappings[i].externalPort, after[i].externalPort);
        QCOMPARE(gateway.mappings[i].client, after[i].client);
        QCOMPARE(gateway.mappings[i].description, after[i].description);
    }
    // Every request named the service the description gave.
    for (const auto& r : gateway.requests().mid(1))
        QCOMPARE(r.path, QByteArray("/ctl/IPConn"));
    if (gateway.answer405ToPost) {
        const auto& repeated = gateway.requests().at(2);
        QCOMPARE(repeated.header("MAN"),
                 QByteArray("\"http://schemas.xmlsoap.org/soap/envelope/\"; ns=01"));
        QVERIFY(repeated.header("01-SOAPACTION")
                    .startsWith("\"urn:schemas-upnp-org:service:WANIPConnection:1#"));
    }
}

void TestUpnpSocket::searchAnswers_data()
{
    QTest::addColumn<QByteArray>("location");
    QTest::addColumn<bool>("otherDevice");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("location without a port")
        << QByteArray("http://127.0.0.1/desc.xml") << false
        << QStringList{
               QStringLiteral("Starting UPNP Device Search..."),
               QStringLiteral(
                   "A Router Device Responded with UPNP URL...\r\nhttp://127.0.0.1/desc.xml"),
               QStringLiteral("Device URL response was not valid.")};
    QTest::newRow("location without a path")
        << QByteArray("http://127.0.0.1:%1/") << false
        << QStringList{QStringLiteral("Starting UPNP Device Search..."),
                       QStringLiteral(
                           "A Router Device Responded with UPNP URL...\r\nhttp://127.0.0.1:PORT/"),
                       QStringLiteral("Device URL response was not valid.")};
    QTest::newRow("location without a URL")
        << QByteArray("ftp://127.0.0.1:21/desc.xml") << false
        << QStringList{QStringLiteral("Starting UPNP Device Search..."),
                       QStringLiteral("Device URL not found.")};
    QTest::newRow("no router in the answer")
        << QByteArray("http://127.0.0.1:%1/rootDesc.xml") << true
        << QStringList{QStringLiteral("Starting UPNP Device Search..."),
                       QStringLiteral("No Router Devices found in UPNP Response.")};
}

void TestUpnpSocket::searchAnswers()
{
    QFETCH(QByteArray, location);
    QFETCH(bool, otherDevice);
    QFETCH(QStringList, lines);

    FakeGateway gateway;
    QVERIFY(gateway.start());
    gateway.location = location;
    gateway.otherDeviceOnly = otherDevice;
    LogRecorder log;
    CUPNPSocket socket;
    prepare(socket, log, gateway);
    socket.MapPort(8410);
    QTRY_COMPARE_WITH_TIMEOUT(log.lines.size(), lines.size(), 10000);
    QCOMPARE(withPort(log.lines, gateway.httpPort()), lines);
    // The search went out exactly once, byte for byte.
    QCOMPARE(gateway.searches,
             QByteArrayList{"M-SEARCH * HTTP/1.1\r\nHost:239.255.255.250:1900\r\n"
                            "ST:urn:schemas-upnp-org:service:WANIPConnection:1\r\n"
                            "Man:\"ssdp:discover\"\r\nMX:3\r\n\r\n\r\n"});
    QVERIFY(gateway.requests().isEmpty());
}

void TestUpnpSocket::newJobAfterFailedConnect()
{
    // A port where nobody listens.
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const quint16 deadPort = closed.serverPort();
    closed.close();

    FakeGateway gateway;
    QVERIFY(gateway.start());
    gateway.location = "http://127.0.0.1:" + QByteArray::number(deadPort) + "/rootDesc.xml";
    LogRecorder log;
    CUPNPSocket socket;
    prepare(socket, log, gateway);
    socket.MapPort(8410);
    QTRY_VERIFY_WITH_TIMEOUT(log.lines.contains(QStringLiteral("Failed Connecting to Device!")),
                             10000);

    // The send that failed with the connection must not hold back the next job.
    gateway.location = "http://127.0.0.1:%1/rootDesc.xml";
    socket.MapPort(8410);
    QTRY_VERIFY_WITH_TIMEOUT(log.lines.contains(QStringLiteral("Device Port Mapping Complete!")),
                             10000);
    QCOMPARE(gateway.mappings.size(), 1);
}

void TestUpnpSocket::newJobDropsTheRunningOne()
{
    FakeGateway gateway;
    QVERIFY(gateway.start());
    gateway.mappings = {mapping(8410, "10.0.0.9")};
    gateway.setPieceSize(3);
    LogRecorder log;
    CUPNPSocket socket;
    prepare(socket, log, gateway);
    socket.UnmapPort(8410);
    QTRY_VERIFY_WITH_TIMEOUT(
        log.lines.contains(QStringLiteral("Requested Device Info (Waiting on Response)...")),
        10000);
    // The listing starts while the unmapping still waits for its description.
    socket.ListMappings();
    QTRY_VERIFY_WITH_TIMEOUT(log.lines.contains(QStringLiteral("End of List")), 10000);
    QCOMPARE(log.lines.first(), QStringLiteral("Starting UPNP Device Search..."));
    QVERIFY(!gateway.actions.contains("POST DeletePortMapping"));
    QCOMPARE(gateway.mappings.size(), 1);
}

QTEST_GUILESS_MAIN(TestUpnpSocket)
#include "tst_upnpsocket.moc"

#include "fakeupdateserver.h"
#include "nethelpers/iphelper.h"

#include <QTcpServer>
#include <QTest>

namespace {

struct IpRecorder : IpHelperUi
{
    QList<IpFacts> shown;
    QStringList internet;
    void ipFactsShown(const IpFacts& facts) override { shown.append(facts); }
    void internetIpShown(const QString& text) override { internet.append(text); }
};

} // namespace

class TestPublicIp : public QObject
{
    Q_OBJECT
private slots:
    void pageMarkers_data();
    void pageMarkers();
    void lanText_data();
    void lanText();
    void lookup_data();
    void lookup();
};

void TestPublicIp::pageMarkers_data()
{
    QTest::addColumn<QByteArray>("page");
    QTest::addColumn<QByteArray>("ip");
    QTest::newRow("html around")
        << QByteArray("<html><b>IP</b><!--BEGINIP-->203.0.113.7<!--ENDIP--></html>")
        << QByteArray("203.0.113.7");
    QTest::newRow("first pair")
        << QByteArray("<!--BEGINIP-->1.1.1.1<!--ENDIP--><!--BEGINIP-->2.2.2.2<!--ENDIP-->")
        << QByteArray("1.1.1.1");
    QTest::newRow("end marker before begin")
        << QByteArray("<!--ENDIP--><!--BEGINIP-->9.9.9.9<!--ENDIP-->") << QByteArray("9.9.9.9");
    QTest::newRow("lower case") << QByteArray("<!--beginip-->203.0.113.7<!--endip-->")
                                << QByteArray();
    QTest::newRow("no end") << QByteArray("<!--BEGINIP-->203.0.113.7") << QByteArray();
}

void TestPublicIp::pageMarkers()
{
    QFETCH(QByteArray, page);
    QFETCH(QByteArray, ip);
    QCOMPARE(PublicIpFromPage(page), ip);
}

void TestPublicIp::lanText_data()
{
    QTest::addColumn<QByteArrayList>("addresses");
    QTest::addColumn<QString>("text");
    QTest::newRow("resolver order")
        << QByteArrayList{"192.168.1.20", "10.0.0.5"} << QStringLiteral("192.168.1.20, 10.0.0.5");
    QTest::newRow("one") << QByteArrayList{"10.0.0.5"} << QStringLiteral("10.0.0.5");
    QTest::newRow("none") << QByteArrayList{} << QString();
    QByteArrayList eleven;
    for (int i = 1; i <= 11; ++i)
        eleven.append("10.0.0." + QByteArray::number(i));
    QTest::newRow("first ten") << eleven
                               << QStringLiteral(
                                      "10.0.0.1, 10.0.0.2, 10.0.0.3, 10.0.0.4, 10.0.0.5, "
                                      "10.0.0.6, 10.0.0.7, 10.0.0.8, 10.0.0.9, 10.0.0.10");
}

void TestPublicIp::lanText()
{
    QFETCH(QByteArrayList, addresses);
    QFETCH(QString, text);
    QList<QHostAddress> list;
    for (const QByteArray& a : addresses)
        list.append(QHostAddress(QString::fromLatin1(a)));
    QCOMPARE(LanAddressText(list), text);
}

void TestPublicIp::lookup_data()
{
    QTest::addColumn<bool>("serverUp");
    QTest::addColumn<bool>("lowerCase");
    QTest::addColumn<QByteArray>("ip");
    QTest::addColumn<QString>("shown");
    QTest::newRow("markers present")
        << true << false << QByteArray("203.0.113.7") << QStringLiteral("203.0.113.7");
    QTest::newRow("lower-case markers")
        << true << true << QByteArray("203.0.113.7") << QStringLiteral("Unable to retrieve IP");
    QTest::newRow("nothing between")
        << true << false << QByteArray() << QStringLiteral("Unable to retrieve IP");
    QTest::newRow("no server") << false << false << QByteArray("203.0.113.7")
                               << QStringLiteral("Unable to retrieve IP");
}

void TestPublicIp::lookup()
{
    QFETCH(bool, serverUp);
    QFETCH(bool, lowerCase);
    QFETCH(QByteArray, ip);
    QFETCH(QString, shown);

    FakeUpdateServer server;
    QVERIFY(server.start());
    server.lowerCaseMarkers = lowerCase;
    server.publicIp = ip;
    QUrl url = server.url();
    if (!serverUp) {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        url.setPort(closed.serverPort());
    }
    url.setPath(QStringLiteral("/myip.php"));

    IpRecorder ui;
    IpHelper helper(&ui);
    helper.setPageUrl(url);
    QVERIFY(helper.open(8410));
    QCOMPARE(ui.shown.size(), 1);
    QCOMPARE(ui.shown[0].internetIp, QStringLiteral("Connecting to the Internet..."));
    QCOMPARE(ui.shown[0].port, QStringLiteral("8410"));
    QCOMPARE(ui.shown[0].localDns, ui.shown[0].localDns.toUpper());
    QTRY_COMPARE_WITH_TIMEOUT(ui.internet.size(), 1, 10000);
    QCOMPARE(ui.internet[0], shown);
    QCOMPARE(helper.facts().internetIp, shown);
    if (serverUp)
        QCOMPARE(server.requests().first().header("User-Agent"), QByteArray("Mozilla/5.0"));
}

QTEST_GUILESS_MAIN(TestPublicIp)
#include "tst_publicip.moc"

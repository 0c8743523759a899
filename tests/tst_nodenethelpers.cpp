// The node's start-up guard and its router, IP and update commands, against
// the loopback router and update server.

#include "fakegateway.h"
#include "fakeupdateserver.h"
#include "nodeprocess.h"
#include "testsupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using testsupport::readAll;

class TestNodeNetHelpers : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void oneNodePerProfile();
    void routerCommands();
    void myip();
    void updateAndRestart();

private:
    QString line(NodeProcess& node, const QString& pattern)
    {
        return node.waitForLine(QRegularExpression(pattern));
    }

    FakeGateway m_gateway;
    FakeUpdateServer m_server;
};

void TestNodeNetHelpers::initTestCase()
{
    QVERIFY(m_gateway.start());
    QVERIFY(m_server.start());
    // Started nodes look here for their router and update server.
    qputenv("ZEPHLINK_SSDP_ADDRESS", "127.0.0.1:" + QByteArray::number(m_gateway.ssdpPort()));
    qputenv("ZEPHLINK_UPDATE_SERVER", m_server.url().toString().toLatin1());
}

void TestNodeNetHelpers::oneNodePerProfile()
{
    QTemporaryDir home;
    QTemporaryDir otherHome;
    NodeProcess first(QStringLiteral(ZEPHLINK_NODE_PATH));
    QVERIFY2(first.start(home.path()), qPrintable(first.errorOutput()));

    NodeProcess second(QStringLiteral(ZEPHLINK_NODE_PATH));
    QVERIFY(!second.start(home.path()));
    QVERIFY(second.waitForExit());
    QCOMPARE(second.exitCode(), 3);
    QVERIFY2(second.errorOutput().contains(
                 QStringLiteral("another Zephlink P2P program is running on the profile")),
             qPrintable(second.errorOutput()));
    QVERIFY(!line(first, QStringLiteral("^restore$")).isEmpty());

    NodeProcess other(QStringLiteral(ZEPHLINK_NODE_PATH));
    QVERIFY2(other.start(otherHome.path()), qPrintable(other.errorOutput()));

    for (NodeProcess* node : {&first, &other}) {
        QCOMPARE(node->command(QStringLiteral("quit")), QStringLiteral("ok"));
        QVERIFY(node->waitForExit());
        QCOMPARE(node->exitCode(), 0);
    }
    // Once the first has ended, the profile is free again.
    NodeProcess again(QStringLiteral(ZEPHLINK_NODE_PATH));
    QVERIFY2(again.start(home.path()), qPrintable(again.errorOutput()));
}

void TestNodeNetHelpers::routerCommands()
{
    m_gateway.mappings.clear();
    QTemporaryDir home;
    NodeProcess node(QStringLiteral(ZEPHLINK_NODE_PATH));
    QVERIFY2(node.start(home.path()), qPrintable(node.errorOutput()));
    const QString port = QString::number(node.port());

    // The start-up step maps the data port.
    QVERIFY(!line(node, QStringLiteral("^router Device Port Mapping Complete!$")).isEmpty());
    QCOMPARE(m_gateway.mappings.size(), 1);
    QCOMPARE(QString::number(m_gateway.mappings[0].externalPort), port);

    QCOMPARE(node.command(QStringLiteral("router map")), QStringLiteral("ok"));
    QVERIFY(!line(node, QStringLiteral("^router Your Port is already Mapped\\.$")).isEmpty());

    QCOMPARE(node.command(QStringLiteral("router list")), QStringLiteral("ok"));
    const QString block =
        line(node, QStringLiteral("^router Device Response For Mapping At Index\\[0\\]"));
    QVERIFY(block.contains(QStringLiteral("\\r\\nPort: ") + port + QStringLiteral("\\r\\n")));
    QVERIFY(block.contains(QStringLiteral("Lease Duration: Forever")));
    QVERIFY(!line(node, QStringLiteral("^router End of List$")).isEmpty());

    QCOMPARE(node.command(QStringLiteral("router remap ") + port + QStringLiteral(" 9000")),
             QStringLiteral("ok"));
    QVERIFY(!line(node, QStringLiteral("^router Device Port Mapping Complete!$")).isEmpty());
    QCOMPARE(m_gateway.mappings.size(), 1);
    QCOMPARE(m_gateway.mappings[0].externalPort, quint16(9000));

    QCOMPARE(node.command(QStringLiteral("router unmap")), QStringLiteral("ok"));
    QVERIFY(!line(node, QStringLiteral("^router No Existing Port Mappings Found\\.$")).isEmpty());

    for (const QString& bad :
         {QStringLiteral("router"), QStringLiteral("router remap 1"),
          QStringLiteral("router remap 1 70000"), QStringLiteral("router map 5")})
        QVERIFY(node.command(bad).startsWith(QStringLiteral("error usage:")));
}

void TestNodeNetHelpers::myip()
{
    QTemporaryDir home;
    NodeProcess node(QStringLiteral(ZEPHLINK_NODE_PATH));
    QVERIFY2(node.start(home.path()), qPrintable(node.errorOutput()));
    QStringList lines;
    QCOMPARE(node.command(QStringLiteral("myip"), &lines, QStringLiteral("myip")),
             QStringLiteral("ok"));
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines[0], QStringLiteral("Internet IP: Connecting to the Internet..."));
    QVERIFY(lines[1].startsWith(QStringLiteral("LAN IP: ")));
    QVERIFY(lines[2].startsWith(QStringLiteral("Local DNS: ")));
    QCOMPARE(lines[3], QStringLiteral("Port: ") + QString::number(node.port()));
    QVERIFY(!line(node, QStringLiteral("^myip Internet IP: 203\\.0\\.113\\.7$")).isEmpty());
}

void TestNodeNetHelpers::updateAndRestart()
{
    // A copy of the node, so the update replaces the copy.
    QTemporaryDir folder;
    QTemporaryDir home;
    const QString program = folder.filePath(QStringLiteral("zephlink-node"));
    QVERIFY(QFile::copy(QStringLiteral(ZEPHLINK_NODE_PATH), program));
    const QByteArray oldBytes = readAll(program);
    // The new program records the arguments it was started with.
    m_server.binary = "#!/bin/sh\necho \"$@\" > \"$0.started\"\n";

    NodeProcess node(program);
    QVERIFY2(node.start(home.path()), qPrintable(node.errorOutput()));
    // A new profile checks for updates at start-up, quietly: the offer shows itself.
    const QString offer =
        QStringLiteral("^update Update: Update to New Version\\?\\\\r\\\\nCurrent Version:");
    QVERIFY(!line(node, offer).isEmpty());
    QCOMPARE(node.command(QStringLiteral("update restart")),
             QStringLiteral("error the button shows Update"));
    // The menu's check finds the same offer.
    QCOMPARE(node.command(QStringLiteral("update check")), QStringLiteral("ok"));
    QVERIFY(!line(node, QStringLiteral("^update OK: Checking for updates\\.\\.\\.$")).isEmpty());
    QVERIFY(!line(node, offer).isEmpty());
    QCOMPARE(node.command(QStringLiteral("update download")), QStringLiteral("ok"));
    QVERIFY(!line(node, QStringLiteral("^update Restart: Click Restart to Start new Version\\."))
                 .isEmpty());
    QCOMPARE(readAll(program + QStringLiteral(".tmp")), m_server.binary);

    QCOMPARE(node.command(QStringLiteral("update restart")), QStringLiteral("ok"));
    QVERIFY(node.waitForExit());
    QCOMPARE(node.exitCode(), 0);
    QCOMPARE(readAll(program), m_server.binary);
    QCOMPARE(readAll(program + QStringLiteral(".old")), oldBytes);
    QCOMPARE(readAll(home.filePath(QStringLiteral("installed-version"))), QByteArray("9.9.9.9\n"));
    QTRY_VERIFY_WITH_TIMEOUT(
        readAll(program + QStringLiteral(".started")).contains(home.path().toUtf8()), 10000);
}

QTEST_GUILESS_MAIN(TestNodeNetHelpers)
#include "tst_nodenethelpers.moc"

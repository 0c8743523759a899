// The router, IP helper and update windows against the loopback router and
// update server.
#undef QT_NO_CAST_FROM_ASCII

#include "nethelpers/updatelogic.h"
#include "shell/ipdlg.h"
#include "shell/progressex.h"
#include "shell/updatedlg.h"
#include "shell/upnpdlg.h"

#include "fakegateway.h"
#include "fakeupdateserver.h"

#include <QHostInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QPushButton* button(QWidget* dialog, const QString& text)
{
    for (QPushButton* b : dialog->findChildren<QPushButton*>()) {
        if (b->text() == text)
            return b;
    }
    return nullptr;
}

FakeGateway::Mapping mapping(quint16 port, const QByteArray& client, const QByteArray& lease)
{
    FakeGateway::Mapping m;
    m.externalPort = m.internalPort = port;
    m.client = client;
    m.description = "Zephlink P2P";
    m.lease = lease;
    return m;
}

} // namespace

class TestHelperDlgs : public QObject
{
    Q_OBJECT
private slots:
    void routerButtons_data();
    void routerButtons();
    void ipHelper_data();
    void ipHelper();
    void severalIpHelpersAtOnce();
    void updateCheck_data();
    void updateCheck();
    void updateDownloadAndRestart();
};

void TestHelperDlgs::routerButtons_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QList<quint16>>("before"); // mapped ports, the first to another computer
    QTest::addColumn<QList<quint16>>("after");
    QTest::addColumn<QString>("lastLine");
    QTest::addColumn<QStringList>("lines"); // further lines the log must hold

    QTest::newRow("auto configure maps the port")
        << "&Auto Configure Router" << QList<quint16>{} << QList<quint16>{8410}
        << "Device Port Mapping Complete!" << QStringList{"No Existing Port Mappings Found."};
    QTest::newRow("auto configure moves another computer's mapping")
        << "&Auto Configure Router" << QList<quint16>{8410} << QList<quint16>{8410}
        << "Device Port Mapping Complete!" << QStringList{"Local IP Changed, ReMapping Port..."};
    QTest::newRow("unconfigure deletes it")
        << "&UnConfigure Router" << QList<quint16>{8410, 7000} << QList<quint16>{7000}
        << "Deleted the current port mapping." << QStringList{"Detected your IP as: 127.0.0.1"};
    QTest::newRow("mappings listed") << "&Get Router Port Mappings" << QList<quint16>{5000, 6000}
                                     << QList<quint16>{5000, 6000} << "End of List"
                                     << QStringList{"Device Response For Mapping At Index[0]...",
                                                    "Port: 5000",
                                                    "Device Response For Mapping At Index[1]...",
                                                    "Port: 6000",
                                                    "Lease Duration: Forever",
                                                    "Lease Duration: 3600"};
}

void TestHelperDlgs::routerButtons()
{
    QFETCH(QString, button);
    QFETCH(QList<quint16>, before);
    QFETCH(QList<quint16>, after);
    QFETCH(QString, lastLine);
    QFETCH(QStringList, lines);

    FakeGateway gateway;
    QVERIFY(gateway.start());
    for (int i = 0; i < before.size(); ++i)
        gateway.mappings.append(
            mapping(before[i], i == 0 ? "10.9.9.9" : "127.0.0.1", i == 0 ? "0" : "3600"));
    CUPNPDlg dlg([] { return 8410; });
    QCOMPARE(dlg.windowTitle(), QStringLiteral("UPNP Router Configuration"));
    dlg.socket().setSearchTarget(QHostAddress::LocalHost, gateway.ssdpPort());
    dlg.socket().setLocalAddressSource([] { return QList<QHostAddress>{QHostAddress::LocalHost}; });
    dlg.show();
    QPushButton* b = ::button(&dlg, button);
    QVERIFY(b);
    b->click();
    QTRY_VERIFY_WITH_TIMEOUT(dlg.log()->toPlainText().endsWith(lastLine), 10000);
    const QString log = dlg.log()->toPlainText();
    QVERIFY2(log.startsWith("Starting UPNP Device Search..."), qPrintable(log));
    for (const QString& line : lines)
        QVERIFY2(log.contains(line), qPrintable(line + " in\n" + log));
    QList<quint16> ports;
    for (const FakeGateway::Mapping& m : std::as_const(gateway.mappings))
        ports << m.externalPort;
    std::sort(ports.begin(), ports.end());
    QCOMPARE(ports, after);
    for (const FakeGateway::Mapping& m : std::as_const(gateway.mappings)) {
        if (m.externalPort == 8410)
            QCOMPARE(m.client, QByteArray("127.0.0.1"));
    }
}

void TestHelperDlgs::ipHelper_data()
{
    QTest::addColumn<bool>("lowerCaseMarkers");
    QTest::addColumn<bool>("serverUp");
    QTest::addColumn<QString>("internet");

    QTest::newRow("address between the markers") << false << true << "203.0.113.7";
    QTest::newRow("markers in lower case") << true << true << "Unable to retrieve IP";
    QTest::newRow("no server") << false << false << "Unable to retrieve IP";
}

void TestHelperDlgs::ipHelper()
{
    QFETCH(bool, lowerCaseMarkers);
    QFETCH(bool, serverUp);
    QFETCH(QString, internet);

    FakeUpdateServer server;
    server.lowerCaseMarkers = lowerCaseMarkers;
    QVERIFY(server.start());
    QUrl page = server.url();
    page.setPath("/myip.php");
    if (!serverUp)
        page.setPort(9); // nobody answers on the discard port
    QPointer<CIPDlg> dlg = CIPDlg::open(nullptr, 8410, page);
    QCOMPARE(dlg->windowTitle(), QStringLiteral("IP Helper"));
    QCOMPARE(dlg->box(0)->text(), QStringLiteral("Connecting to the Internet..."));
    QCOMPARE(dlg->box(2)->text(), QHostInfo::localHostName().toUpper());
    QCOMPARE(dlg->box(3)->text(), QStringLiteral("8410"));
    QVERIFY(!dlg->box(1)->text().endsWith(',') && !dlg->box(1)->text().endsWith(' '));
    for (int i = 0; i < 4; ++i)
        QVERIFY(dlg->box(i)->isReadOnly());
    QTRY_COMPARE_WITH_TIMEOUT(dlg->box(0)->text(), internet, 10000);
    // "&OK" closes the window and frees it.
    QPushButton* ok = button(dlg, "&OK");
    QVERIFY(ok);
    ok->click();
    QTRY_VERIFY(dlg.isNull());
}

void TestHelperDlgs::severalIpHelpersAtOnce()
{
    FakeUpdateServer server;
    QVERIFY(server.start());
    QUrl page = server.url();
    page.setPath("/myip.php");
    QPointer<CIPDlg> first = CIPDlg::open(nullptr, 8410, page);
    QPointer<CIPDlg> second = CIPDlg::open(nullptr, 9000, page);
    QVERIFY(first != second);
    // Closing one leaves the other's lookup running.
    first->close();
    QTRY_VERIFY(first.isNull());
    QTRY_COMPARE_WITH_TIMEOUT(second->box(0)->text(), QStringLiteral("203.0.113.7"), 10000);
    QCOMPARE(second->box(3)->text(), QStringLiteral("9000"));
    delete second;
}

void TestHelperDlgs::updateCheck_data()
{
    QTest::addColumn<QByteArray>("offered");
    QTest::addColumn<bool>("missingTag");
    QTest::addColumn<int>("userCheck");
    QTest::addColumn<QString>("firstLine");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("shown");

    QTest::newRow("newer version, quiet check")
        << QByteArray("9.9.9.9") << false << 0 << "Update to New Version?"
        << "&Update" << true;
    QTest::newRow("older version is offered too")
        << QByteArray("0.0.0.1") << false << 1 << "Update to New Version?"
        << "&Update" << true;
    QTest::newRow("same version, quiet check")
        << QByteArray("2.4.0.7") << false << 0 << "No Updates Found."
        << "&OK" << false;
    QTest::newRow("same version, menu check")
        << QByteArray("2.4.0.7") << false << 1 << "No Updates Found."
        << "&OK" << true;
    QTest::newRow("error page") << QByteArray("2.4.0.7") << true << 1 << "Update file not found."
                                << "&OK" << true;
}

void TestHelperDlgs::updateCheck()
{
    QFETCH(QByteArray, offered);
    QFETCH(bool, missingTag);
    QFETCH(int, userCheck);
    QFETCH(QString, firstLine);
    QFETCH(QString, caption);
    QFETCH(bool, shown);

    FakeUpdateServer server;
    server.version = offered;
    server.missingVersionTag = missingTag;
    QVERIFY(server.start());
    CUpdateDlg dlg;
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Zephlink Update"));
    dlg.logic().setServer(server.url());
    dlg.logic().setCurrentVersion("2.4.0.7", "Dec 1 2026");
    dlg.CheckForUpdates(userCheck);
    QCOMPARE(dlg.messageText()->toPlainText(), QStringLiteral("Checking for updates..."));
    QVERIFY(!dlg.actionButton()->isEnabled());
    QCOMPARE(dlg.isVisible(), userCheck == 1);
    QTRY_VERIFY_WITH_TIMEOUT(dlg.actionButton()->isEnabled(), 10000);
    QCOMPARE(dlg.messageText()->toPlainText().section('\n', 0, 0), firstLine);
    QCOMPARE(dlg.actionButton()->text(), caption);
    QCOMPARE(dlg.isVisible(), shown);
    if (caption == "&Update")
        QVERIFY(dlg.messageText()->toPlainText().contains("New Version:\t\t" + offered));
}

void TestHelperDlgs::updateDownloadAndRestart()
{
    QTemporaryDir folder;
    FakeUpdateServer server;
    server.binary = QByteArray(20000, 'z');
    QVERIFY(server.start());
    CUpdateDlg dlg;
    dlg.logic().setServer(server.url());
    dlg.logic().setCurrentVersion("2.4.0.7", "Dec 1 2026");
    dlg.logic().setProgramPath(folder.filePath("zephlink"));
    QSignalSpy restart(&dlg, &CUpdateDlg::restartRequested);
    dlg.CheckForUpdates(1);
    QTRY_COMPARE_WITH_TIMEOUT(dlg.actionButton()->text(), QStringLiteral("&Update"), 10000);
    dlg.actionButton()->click();
    QCOMPARE(dlg.actionButton()->text(), QStringLiteral("&Cancel"));
    QVERIFY(dlg.messageText()->toPlainText().startsWith("Downloading New Version...\n"));
    QTRY_COMPARE_WITH_TIMEOUT(dlg.actionButton()->text(), QStringLiteral("&Restart"), 10000);
    QCOMPARE(dlg.progressBar()->GetPos(), 100);
    QVERIFY(dlg.messageText()->toPlainText().startsWith("Click Restart to Start new Version.\n"));
    QCOMPARE(QFileInfo(folder.filePath("zephlink.tmp")).size(), 20000);

    dlg.actionButton()->click();
    QCOMPARE(restart.size(), 1);
    QVERIFY(!dlg.isVisible());
    QCOMPARE(pendingUpdatePath(), folder.filePath("zephlink.tmp"));
    QCOMPARE(pendingUpdateVersion(), QStringLiteral("9.9.9.9"));
    pendingUpdatePath().clear();
    pendingUpdateVersion().clear();
}

QTEST_MAIN(TestHelperDlgs)
#include "tst_helperdlgs.moc"

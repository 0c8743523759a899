#include "app/startup.h"
#include "fakeupdateserver.h"
#include "nethelpers/updatelogic.h"
#include "testsupport.h"

#include <QFile>
#include <QFileInfo>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

using testsupport::readAll;
using testsupport::writeAll;

namespace {

// The update window as the logic sees it.
struct UpdateRecorder : UpdateUi
{
    bool visible = false;
    int shows = 0;
    int exits = 0;
    QList<int> progress;
    void updateMessageChanged(const QString&) override {}
    void updateButtonChanged(const QString&, bool) override {}
    void updateProgressChanged(int percent) override { progress.append(percent); }
    void showUpdateWindow() override
    {
        visible = true;
        ++shows;
    }
    void hideUpdateWindow() override { visible = false; }
    void exitRequested() override { ++exits; }
};

const QString Lines = QStringLiteral("Current Version:\t\t2.4.0.7 (Dec 1 2026)\r\n"
                                     "New Version:\t\t%1 (Nov 30 2026)\r\nNote: Faster\r\n");

} // namespace

class TestUpdate : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void description_data();
    void description();
    void check_data();
    void check();
    void download_data();
    void download();
    void cancelDeletesThePartialFile();
    void restartSwapsAfterExit();

private:
    void prepare(UpdateLogic& logic, const QUrl& server)
    {
        logic.setProgramPath(m_program);
        logic.setCurrentVersion(QStringLiteral("2.4.0.7"), QStringLiteral("Dec 1 2026"));
        logic.setServer(server);
    }
    // Checks, finds the offered version and presses "&Update".
    void offerAndDownload(UpdateLogic& logic)
    {
        logic.CheckForUpdates(1);
        QTRY_COMPARE_WITH_TIMEOUT(logic.caption(), UpdateLogic::UpdateCaption, 10000);
        logic.buttonPressed();
        QCOMPARE(logic.caption(), UpdateLogic::CancelCaption);
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_program;
};

void TestUpdate::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_program = m_dir->filePath(QStringLiteral("zephlink"));
    QVERIFY(writeAll(m_program, "old program"));
    pendingUpdatePath().clear();
    pendingUpdateVersion().clear();
}

void TestUpdate::description_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QStringList>("values"); // version, date, note, bin
    QTest::addColumn<int>("size");
    QTest::newRow("all tags")
        << QByteArray("junk [VER]2.4.0.7[/VER]\n[DATE]Dec 1 2026[/DATE][NOTE]Fixes[/NOTE]"
                      "[BIN]https://u.example/z[/BIN][SIZE]1234[/SIZE] junk")
        << QStringList{QStringLiteral("2.4.0.7"), QStringLiteral("Dec 1 2026"),
                       QStringLiteral("Fixes"), QStringLiteral("https://u.example/z")}
        << 1234;
    QTest::newRow("first opening tag, first closing after it")
        << QByteArray("[/VER][VER]1[/VER][VER]2[/VER]")
        << QStringList{QStringLiteral("1"), {}, {}, {}} << 0;
    QTest::newRow("tags match case")
        << QByteArray("[ver]1[/ver][Size]5[/Size]") << QStringList{{}, {}, {}, {}} << 0;
    QTest::newRow("size not a number") << QByteArray("[VER]1[/VER][SIZE]many[/SIZE]")
                                       << QStringList{QStringLiteral("1"), {}, {}, {}} << 0;
    QTest::newRow("size with a unit")
        << QByteArray("[SIZE] 20000 bytes[/SIZE]") << QStringList{{}, {}, {}, {}} << 20000;
    QTest::newRow("no closing tag")
        << QByteArray("[VER]2.4.0.7") << QStringList{{}, {}, {}, {}} << 0;
}

void TestUpdate::description()
{
    QFETCH(QByteArray, text);
    QFETCH(QStringList, values);
    QFETCH(int, size);
    const UpdateDescription d = UpdateDescription::parse(text);
    QCOMPARE((QStringList{d.version, d.date, d.note, d.binUrl}), values);
    QCOMPARE(d.size, size);
}

void TestUpdate::check_data()
{
    QTest::addColumn<QByteArray>("version");
    QTest::addColumn<bool>("missingTag");
    QTest::addColumn<bool>("serverUp");
    QTest::addColumn<int>("userCheck");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("shown");

    const QString none = QStringLiteral("No Updates Found.\r\nYou are using the newest version.\r\n"
                                        "Version: 2.4.0.7 (Dec 1 2026)");
    QTest::newRow("same version, quiet check stays quiet")
        << QByteArray("2.4.0.7") << false << true << 0 << none << UpdateLogic::OkCaption << false;
    QTest::newRow("same version, menu check")
        << QByteArray("2.4.0.7") << false << true << 1 << none << UpdateLogic::OkCaption << true;
    QTest::newRow("newer version offered")
        << QByteArray("2.5.0.0") << false << true << 0
        << QStringLiteral("Update to New Version?\r\n") + Lines.arg(QStringLiteral("2.5.0.0"))
        << UpdateLogic::UpdateCaption << true;
    QTest::newRow("older version offered too")
        << QByteArray("2.4.0.6") << false << true << 0
        << QStringLiteral("Update to New Version?\r\n") + Lines.arg(QStringLiteral("2.4.0.6"))
        << UpdateLogic::UpdateCaption << true;
    QTest::newRow("missing [VER]")
        << QByteArray("2.5.0.0") << true << true << 0 << QStringLiteral("Update file not found.")
        << UpdateLogic::OkCaption << false;
    QTest::newRow("no server") << QByteArray("2.5.0.0") << false << false << 0
                               << QStringLiteral("Could not connect.") << UpdateLogic::OkCaption
                               << false;
}

void TestUpdate::check()
{
    QFETCH(QByteArray, version);
    QFETCH(bool, missingTag);
    QFETCH(bool, serverUp);
    QFETCH(int, userCheck);
    QFETCH(QString, message);
    QFETCH(QString, caption);
    QFETCH(bool, shown);

    FakeUpdateServer server;
    QVERIFY(server.start());
    server.version = version;
    server.date = "Nov 30 2026";
    server.note = "Faster";
    server.missingVersionTag = missingTag;
    QUrl url = server.url();
    if (!serverUp) {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        url.setPort(closed.serverPort());
    }

    UpdateRecorder ui;
    UpdateLogic logic(&ui);
    prepare(logic, url);
    logic.CheckForUpdates(userCheck);
    QCOMPARE(logic.message(), QStringLiteral("Checking for updates..."));
    QVERIFY(!logic.isButtonEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(logic.isButtonEnabled(), 10000);
    QCOMPARE(logic.message(), message);
    QCOMPARE(logic.caption(), caption);
    QCOMPARE(ui.visible, shown);
    if (serverUp)
        QCOMPARE(server.requests().first().path, QByteArray("/downloads/qensoft/zlk6.txt"));
}

void TestUpdate::download_data()
{
    QTest::addColumn<qint64>("sizeDelta");
    QTest::addColumn<bool>("complete");
    QTest::newRow("exact size") << qint64(0) << true;
    QTest::newRow("one byte short") << qint64(-1) << false;
    QTest::newRow("one byte long") << qint64(1) << false;
}

void TestUpdate::download()
{
    QFETCH(qint64, sizeDelta);
    QFETCH(bool, complete);

    FakeUpdateServer server;
    QVERIFY(server.start());
    server.binary = QByteArray(20000, 'n');
    server.sizeDelta = sizeDelta;
    UpdateRecorder ui;
    UpdateLogic logic(&ui);
    prepare(logic, server.url());
    // What stands under the download's name stays untouched by a refused download.
    const QString tmp = m_program + QStringLiteral(".tmp");
    QCOMPARE(logic.tempPath(), tmp);
    QVERIFY(writeAll(tmp, "earlier download"));

    offerAndDownload(logic);
    QTRY_VERIFY_WITH_TIMEOUT(logic.caption() != UpdateLogic::CancelCaption, 10000);
    if (complete) {
        QCOMPARE(logic.caption(), UpdateLogic::RestartCaption);
        QVERIFY(
            logic.message().startsWith(QStringLiteral("Click Restart to Start new Version.\r\n")));
        QCOMPARE(readAll(tmp), server.binary);
        QCOMPARE(ui.progress.last(), 100);
        QVERIFY(std::is_sorted(ui.progress.begin(), ui.progress.end()));
    } else {
        QCOMPARE(logic.caption(), UpdateLogic::OkCaption);
        QCOMPARE(logic.message(), QStringLiteral("Download did not complete."));
        QCOMPARE(readAll(tmp), QByteArray("earlier download"));
    }
    QCOMPARE(readAll(m_program), QByteArray("old program"));
}

void TestUpdate::cancelDeletesThePartialFile()
{
    FakeUpdateServer server;
    QVERIFY(server.start());
    server.binary = QByteArray(50000, 'n');
    server.holdAfter = 1000;
    UpdateRecorder ui;
    UpdateLogic logic(&ui);
    prepare(logic, server.url());
    offerAndDownload(logic);
    QTRY_VERIFY_WITH_TIMEOUT(ui.progress.size() > 1, 10000);
    QVERIFY(QFile::exists(logic.tempPath()));

    logic.buttonPressed();
    QVERIFY(!ui.visible);
    QTRY_COMPARE_WITH_TIMEOUT(logic.caption(), UpdateLogic::OkCaption, 10000);
    QCOMPARE(logic.message(), QStringLiteral("Download did not complete."));
    QVERIFY(!QFile::exists(logic.tempPath()));
    server.releaseBinary();
}

void TestUpdate::restartSwapsAfterExit()
{
    // Each new program marks that it was started.
    FakeUpdateServer server;
    QVERIFY(server.start());
    server.binary = "#!/bin/sh\necho first > \"$0.started\"\n";
    UpdateRecorder ui;
    UpdateLogic logic(&ui);
    prepare(logic, server.url());
    offerAndDownload(logic);
    QTRY_COMPARE_WITH_TIMEOUT(logic.caption(), UpdateLogic::RestartCaption, 10000);
    QCOMPARE(pendingUpdatePath(), QString());

    logic.buttonPressed();
    QCOMPARE(ui.exits, 1);
    QVERIFY(!ui.visible);
    QCOMPARE(pendingUpdatePath(), logic.tempPath());
    QCOMPARE(pendingUpdateVersion(), QStringLiteral("9.9.9.9"));

    const SwapResult first = PerformPendingSwap(m_program, pendingUpdatePath(),
                                                pendingUpdateVersion(), m_dir->path(), {});
    QVERIFY(first.swapped);
    QVERIFY(first.started);
    QCOMPARE(readAll(m_program), server.binary);
    QCOMPARE(readAll(m_program + QStringLiteral(".old")), QByteArray("old program"));
    QVERIFY(!QFile::exists(logic.tempPath()));
    QCOMPARE(readAll(InstalledVersionPath(m_dir->path())), QByteArray("9.9.9.9\n"));
    QTRY_COMPARE_WITH_TIMEOUT(readAll(m_program + QStringLiteral(".started")),
                              QByteArray("first\n"), 10000);

    // A second update replaces the ".old" file.
    const QByteArray firstNew = server.binary;
    const QByteArray second = "#!/bin/sh\necho second > \"$0.started\"\n";
    QVERIFY(writeAll(logic.tempPath(), second));
    QVERIFY(PerformPendingSwap(m_program, logic.tempPath(), QStringLiteral("9.9.9.10"),
                               m_dir->path(), {}, false)
                .swapped);
    QCOMPARE(readAll(m_program), second);
    QCOMPARE(readAll(m_program + QStringLiteral(".old")), firstNew);
    QVERIFY(QFileInfo(m_program).isExecutable());
}

QTEST_GUILESS_MAIN(TestUpdate)
#include "tst_update.moc"

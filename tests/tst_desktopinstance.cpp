// The desktop program as two real processes on one profile: the second
// start hands "restore" to the first and ends at once; a program on another
// data root starts normally.
#undef QT_NO_CAST_FROM_ASCII

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

// The profile exists before the desktop starts, so no first-start question
// waits for an answer.
bool makeProfile(const QString& home)
{
    QProcess node;
    node.start(ZEPHLINK_NODE_PATH,
               {"--home", home, "--port", "0", "--name", "Alice", "--listen", "127.0.0.1"});
    if (!node.waitForStarted())
        return false;
    node.write("quit\n");
    node.closeWriteChannel();
    return node.waitForFinished(30000) && node.exitCode() == 0;
}

std::unique_ptr<QProcess> desktop(const QString& home, const QStringList& extra = {})
{
    auto p = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // The program's own --verbose decides what it says.
    env.remove("QT_LOGGING_RULES");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    // The automatic router and update work talks to nobody.
    env.insert("ZEPHLINK_SSDP_ADDRESS", "127.0.0.1:9");
    env.insert("ZEPHLINK_UPDATE_SERVER", "http://127.0.0.1:9");
    p->setProcessEnvironment(env);
    p->setProcessChannelMode(QProcess::SeparateChannels);
    p->start(ZEPHLINK_DESKTOP_PATH,
             QStringList{"--home", home, "--port", "0", "--listen", "127.0.0.1", "--verbose"} +
                 extra);
    return p;
}

void stop(QProcess& p)
{
    if (p.state() == QProcess::NotRunning)
        return;
    p.terminate();
    if (!p.waitForFinished(10000)) {
        p.kill();
        p.waitForFinished();
    }
}

} // namespace

class TestDesktopInstance : public QObject
{
    Q_OBJECT
private slots:
    void secondStartRestoresTheFirst_data();
    void secondStartRestoresTheFirst();
};

void TestDesktopInstance::secondStartRestoresTheFirst_data()
{
    QTest::addColumn<bool>("sameRoot");
    QTest::newRow("same profile") << true;
    QTest::newRow("another data root") << false;
}

void TestDesktopInstance::secondStartRestoresTheFirst()
{
    QFETCH(bool, sameRoot);

    QTemporaryDir rootA;
    QTemporaryDir rootB;
    QVERIFY(makeProfile(rootA.path()));
    QVERIFY(makeProfile(rootB.path()));

    // The first starts hidden, as the start-with-the-system entry starts it.
    auto first = desktop(rootA.path(), {"-m"});
    QByteArray firstLog;
    connect(first.get(), &QProcess::readyReadStandardError, this,
            [&] { firstLog += first->readAllStandardError(); });
    QTRY_VERIFY_WITH_TIMEOUT(firstLog.contains("zephlink.app: listening on"), 30000);

    auto second = desktop(sameRoot ? rootA.path() : rootB.path());
    QByteArray secondLog;
    connect(second.get(), &QProcess::readyReadStandardError, this,
            [&] { secondLog += second->readAllStandardError(); });
    if (sameRoot) {
        QVERIFY(second->waitForFinished(20000));
        QCOMPARE(second->exitStatus(), QProcess::NormalExit);
        QCOMPARE(second->exitCode(), 0);
        QVERIFY(!secondLog.contains("listening on"));
        QTRY_VERIFY_WITH_TIMEOUT(
            firstLog.contains("zephlink.app: restored: visible true minimized false"), 20000);
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(secondLog.contains("zephlink.app: listening on"), 30000);
        QCOMPARE(second->state(), QProcess::Running);
        QVERIFY(!firstLog.contains("restored"));
    }
    QCOMPARE(first->state(), QProcess::Running);
    stop(*second);
    stop(*first);
}

QTEST_GUILESS_MAIN(TestDesktopInstance)
#include "tst_desktopinstance.moc"

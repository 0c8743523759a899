#include "app/singleinstance.h"

#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class TestSingleInstance : public QObject
{
    Q_OBJECT
private slots:
    void sameProfileHandsOver();
    void otherProfileStarts();
    void freedWhenTheFirstEnds();
    void onlyRestoreRestores_data();
    void onlyRestoreRestores();
};

void TestSingleInstance::sameProfileHandsOver()
{
    QTemporaryDir root;
    SingleInstance first(root.path() + QStringLiteral("/Profiles/alice/"));
    QVERIFY(first.tryBecomePrimary());
    QSignalSpy restore(&first, &SingleInstance::restoreRequested);

    // The same folder written another way is the same profile.
    SingleInstance second(root.path() + QStringLiteral("/Profiles/./alice"));
    QVERIFY(!second.tryBecomePrimary());
    QVERIFY(!second.isPrimary());
    QVERIFY(restore.wait(5000));
    QCOMPARE(restore.size(), 1);
}

void TestSingleInstance::otherProfileStarts()
{
    QTemporaryDir rootA;
    QTemporaryDir rootB;
    SingleInstance a(rootA.path() + QStringLiteral("/Profiles/alice/"));
    SingleInstance b(rootB.path() + QStringLiteral("/Profiles/alice/"));
    QVERIFY(a.tryBecomePrimary());
    QVERIFY(b.tryBecomePrimary());
    QVERIFY(a.isPrimary() && b.isPrimary());
}

void TestSingleInstance::freedWhenTheFirstEnds()
{
    QTemporaryDir root;
    const QString folder = root.path() + QStringLiteral("/Profiles/alice/");
    {
        SingleInstance first(folder);
        QVERIFY(first.tryBecomePrimary());
    }
    SingleInstance next(folder);
    QVERIFY(next.tryBecomePrimary());
}

void TestSingleInstance::onlyRestoreRestores_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::newRow("other word") << QByteArray("quit\n");
    QTest::newRow("no line end") << QByteArray("restore");
    QTest::newRow("long line") << QByteArray(200, 'r');
    QTest::newRow("restore with more") << QByteArray("restore now\n");
}

void TestSingleInstance::onlyRestoreRestores()
{
    QFETCH(QByteArray, request);
    QTemporaryDir root;
    SingleInstance first(root.path());
    QVERIFY(first.tryBecomePrimary());
    QSignalSpy restore(&first, &SingleInstance::restoreRequested);

    QLocalSocket stranger;
    stranger.connectToServer(SingleInstance::serverName(root.path()));
    QVERIFY(stranger.waitForConnected(5000));
    stranger.write(request);
    QVERIFY(stranger.waitForBytesWritten(5000));
    stranger.disconnectFromServer();

    // A real request after it is the only one that counts.
    SingleInstance second(root.path());
    QVERIFY(!second.tryBecomePrimary());
    QVERIFY(restore.wait(5000));
    QCOMPARE(restore.size(), 1);
}

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"

// The helpers the chat and file sessions share: the folder part of a path,
// opening a partial file for writing (with and without truncation), and taking
// a peer's identity payload into a contact.

#include "records/contact.h"
#include "transfers/pathguard.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

class TestSharedHelpers : public QObject
{
    Q_OBJECT
private slots:
    void folderPart_data();
    void folderPart();
    void openForWriting_data();
    void openForWriting();
    void identityPayload_data();
    void identityPayload();
};

void TestSharedHelpers::folderPart_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("folder");
    QTest::newRow("nested") << "a/b/c.txt"
                            << "a/b";
    QTest::newRow("one level") << "a/c.txt"
                               << "a";
    QTest::newRow("no folder") << "c.txt"
                               << "";
    QTest::newRow("below the root") << "/c.txt"
                                    << "/";
    QTest::newRow("absolute") << "/home/u/c.txt"
                              << "/home/u";
    QTest::newRow("empty") << ""
                           << "";
}

void TestSharedHelpers::folderPart()
{
    QFETCH(QString, path);
    QFETCH(QString, folder);
    QCOMPARE(FolderPart(path), folder);
}

void TestSharedHelpers::openForWriting_data()
{
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("truncate");
    QTest::addColumn<QByteArray>("after");
    QTest::newRow("new file") << false << QByteArray() << true << QByteArray();
    QTest::newRow("new file, kept") << false << QByteArray() << false << QByteArray();
    QTest::newRow("empty file") << true << QByteArray() << true << QByteArray();
    QTest::newRow("data truncated") << true << QByteArray("12345") << true << QByteArray();
    QTest::newRow("data kept for resume")
        << true << QByteArray("12345") << false << QByteArray("12345");
}

void TestSharedHelpers::openForWriting()
{
    QFETCH(bool, exists);
    QFETCH(QByteArray, content);
    QFETCH(bool, truncate);
    QFETCH(QByteArray, after);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("f.part"));
    if (exists) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QCOMPARE(f.write(content), content.size());
    }
    const int fd = OpenForWriting(path, truncate);
    QVERIFY(fd >= 0);
    // A second writer is kept out while the first holds the file.
    QCOMPARE(OpenForWriting(path, truncate), -1);
    ::close(fd);
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), after);
}

void TestSharedHelpers::identityPayload_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("taken");
    QTest::newRow("whole image") << Identity::Size << true;
    QTest::newRow("without padding") << Identity::FieldsSize << true;
    QTest::newRow("longer than an image") << Identity::Size + 40 << true;
    QTest::newRow("one byte short") << Identity::FieldsSize - 1 << false;
    QTest::newRow("empty") << 0 << false;
}

void TestSharedHelpers::identityPayload()
{
    QFETCH(int, size);
    QFETCH(bool, taken);
    Identity peer;
    peer.name.setText(QStringLiteral("Bob"));
    QByteArray payload = peer.encode();
    payload.resize(size, '\0');

    Contact contact;
    contact.name.setText(QStringLiteral("old"));
    contact.alias.setText(QStringLiteral("Bobby"));
    QCOMPARE(TakeIdentityPayload(payload, contact), taken);
    QCOMPARE(contact.name.text(), taken ? QStringLiteral("Bob") : QStringLiteral("old"));
    // Our own name for the peer survives either way.
    QCOMPARE(contact.alias.text(), QStringLiteral("Bobby"));
}

QTEST_GUILESS_MAIN(TestSharedHelpers)
#include "tst_sharedhelpers.moc"

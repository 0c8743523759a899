// The folder sender's data path: entry heads sent from memory and the rest
// from the file at any offset, the next entry read ahead while the receiver
// answers and read again when it changed meanwhile, folders of every entry
// size between two real sessions, and the end of a walk ending the sender's
// wait for more entries.

#include "tst_filesession_support.h"

#include "transfers/headcrc.h"
#include "transfers/sessionresult.h"
#include "transport/listenthread.h"

#include <QTemporaryDir>

#include <memory>

using namespace filetest;

namespace {

constexpr char Key[] = "STREAMKEY";
constexpr qsizetype MiB = 1024 * 1024;

// Pattern bytes made quickly, different for every seed.
QByteArray Pattern(qsizetype size, quint32 seed)
{
    QByteArray bytes(size + 4, Qt::Uninitialized);
    QRandomGenerator(seed).fillRange(reinterpret_cast<quint32*>(bytes.data()), bytes.size() / 4);
    bytes.truncate(size);
    return bytes;
}

struct EntryFrame
{
    uint8_t type = 0; // 7 for an entry
    QByteArray path;
    quint64 size = 0;
    quint32 crc = 0;
};

EntryFrame ReadEntry(RawPeer& peer)
{
    const auto [type, plain] = peer.readFrame();
    EntryFrame e;
    e.type = type;
    const qsizetype zero = plain.indexOf('\0');
    if (type != 7 || zero < 0 || plain.size() < zero + 13)
        return e;
    e.path = plain.first(zero);
    e.size = qFromLittleEndian<quint64>(plain.constData() + zero + 1);
    e.crc = qFromLittleEndian<quint32>(plain.constData() + zero + 9);
    return e;
}

// Accepts an entry from offset and reads its data, unscrambled.
QByteArray TakeEntry(RawPeer& peer, quint64 size, quint64 offset = 0)
{
    peer.sendFrame(8, u64(offset) + u32(0));
    peer.restartStream();
    QByteArray data;
    const qint64 want = qint64(size - offset);
    while (data.size() < want) {
        if (!peer.waitFor(1))
            break;
        QByteArray chunk = peer.socket->read(want - data.size());
        peer.stream.XorStream(reinterpret_cast<uint8_t*>(chunk.data()), size_t(chunk.size()));
        data += chunk;
    }
    return data;
}

} // namespace

class TestFolderStream : public QObject, public FileSessionFixture
{
    Q_OBJECT

private:
    // A raw receiver takes A's folder offer into "/r/pack".
    static bool acceptOffer(RawPeer& peer)
    {
        if (!peer.accept() || peer.readFrame().first != 1)
            return false;
        peer.sendFrame(2, makeIdentity("uidR", "Raw", Key).encode());
        if (peer.readFrame().first != 4)
            return false;
        peer.sendFrame(5, QByteArrayLiteral("/r/pack") + '\0' + u64(0));
        return true;
    }

private slots:
    void init()
    {
        QVERIFY(setUpPair(Key, [](FileSessions& sessions) {
            sessions.setLingerTime(200);
            sessions.setProgressInterval(100);
            sessions.setStallTicks(100000);
        }));
    }

    void cleanup()
    {
        QVERIFY(stopSessions());
        tearDownPair();
    }

    void entryFromOffset_data()
    {
        // The first MiB goes out from the bytes read with the checksum, the
        // rest from the file; the receiver may ask from any offset.
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("offset");
        QTest::newRow("small entry") << 5000 << 0;
        QTest::newRow("one whole block") << 65536 << 0;
        QTest::newRow("inside the head") << 2 * int(MiB) + 17 << 1000;
        QTest::newRow("head, at a block edge") << 2 * int(MiB) + 17 << 65536;
        QTest::newRow("at the end of the head") << 2 * int(MiB) + 17 << int(MiB);
        QTest::newRow("beyond the head") << 2 * int(MiB) + 17 << int(MiB) + 5;
        QTest::newRow("entry of exactly the head") << int(MiB) << 300000;
        QTest::newRow("last byte only") << 70000 << 69999;
    }
    void entryFromOffset()
    {
        QFETCH(int, size);
        QFETCH(int, offset);
        const QByteArray content = Pattern(size, quint32(size + offset));
        QVERIFY(makeFile(src + QStringLiteral("/pack/x.bin"), content));
        RawPeer peer(Key);
        offer(folderSend(src + QStringLiteral("/pack")), peer.listen());
        QVERIFY(acceptOffer(peer));

        const EntryFrame e = ReadEntry(peer);
        QCOMPARE(e.type, uint8_t(7));
        QCOMPARE(e.path, QByteArrayLiteral("x.bin"));
        QCOMPARE(e.size, quint64(size));
        QCOMPARE(e.crc, Crc32(content.first(std::min<qsizetype>(size, MiB))));
        QCOMPARE(TakeEntry(peer, e.size, quint64(offset)), content.sliced(offset));
        QCOMPARE(peer.readFrame().first, uint8_t(9));
        peer.socket->disconnectFromHost();
        QVERIFY(ended(*a));
        QCOMPARE(a->host.result(), SessionResult::Complete);
        QCOMPARE(a->host.ended[0].t.bytesDone, quint64(size));
    }

    void nextEntryChangedMeanwhile_data()
    {
        QTest::addColumn<QString>("change"); // to b.bin while a.bin is being sent
        QTest::newRow("unchanged") << QString();
        QTest::newRow("rewritten, same size") << QStringLiteral("rewrite");
        QTest::newRow("grown") << QStringLiteral("grow");
        QTest::newRow("removed") << QStringLiteral("remove");
    }
    void nextEntryChangedMeanwhile()
    {
        QFETCH(QString, change);
        const QString root = src + QStringLiteral("/pack");
        // More than every buffer between the two sides holds, so a.bin is
        // still being sent when b.bin changes.
        const QByteArray first = Pattern(32 * MiB, 1);
        QByteArray second = Pattern(100000, 2);
        const QByteArray third = Pattern(3000, 3);
        QVERIFY(makeFile(root + QStringLiteral("/a.bin"), first));
        QVERIFY(makeFile(root + QStringLiteral("/b.bin"), second));
        QVERIFY(makeFile(root + QStringLiteral("/c.bin"), third));
        RawPeer peer(Key);
        offer(folderSend(root), peer.listen());
        QVERIFY(acceptOffer(peer));
        peer.socket->setReadBufferSize(64 * 1024);

        EntryFrame e = ReadEntry(peer);
        QCOMPARE(e.path, QByteArrayLiteral("a.bin"));
        peer.sendFrame(8, u64(0) + u32(0));
        peer.restartStream();
        // Data flows: the entry after it has been read ahead by now.
        QVERIFY(peer.waitFor(32 * 1024));
        const QString path = root + QStringLiteral("/b.bin");
        if (change == u"rewrite") {
            second = Pattern(second.size(), 22);
            QVERIFY(testsupport::writeAll(path, second));
        } else if (change == u"grow") {
            second += Pattern(5000, 23);
            QVERIFY(testsupport::writeAll(path, second));
        } else if (change == u"remove") {
            QVERIFY(QFile::remove(path));
        }
        if (change == u"rewrite" || change == u"grow") {
            // Whatever the clock's grain, the file shows as changed.
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.setFileTime(f.fileTime(QFileDevice::FileModificationTime).addSecs(10),
                                  QFileDevice::FileModificationTime));
        }
        QByteArray received;
        while (received.size() < first.size()) {
            QVERIFY(peer.waitFor(1));
            QByteArray chunk = peer.socket->read(first.size() - received.size());
            peer.stream.XorStream(reinterpret_cast<uint8_t*>(chunk.data()), size_t(chunk.size()));
            received += chunk;
        }
        QVERIFY(received == first);

        e = ReadEntry(peer);
        if (change != u"remove") {
            QCOMPARE(e.path, QByteArrayLiteral("b.bin"));
            QCOMPARE(e.size, quint64(second.size()));
            QCOMPARE(e.crc, Crc32(second));
            QCOMPARE(TakeEntry(peer, e.size), second);
            e = ReadEntry(peer);
        }
        QCOMPARE(e.path, QByteArrayLiteral("c.bin"));
        QCOMPARE(TakeEntry(peer, e.size), third);
        QCOMPARE(peer.readFrame().first, uint8_t(9));
        peer.socket->disconnectFromHost();
        QVERIFY(ended(*a));
        QCOMPARE(a->host.result(), SessionResult::Complete);
    }

    void entriesOfEverySize_data()
    {
        QTest::addColumn<QString>("waiting"); // what the receiver already has
        QTest::newRow("nothing") << QString();
        QTest::newRow("partial files") << QStringLiteral("partial");
        QTest::newRow("some entries") << QStringLiteral("identical");
    }
    void entriesOfEverySize()
    {
        QFETCH(QString, waiting);
        const QList<qsizetype> sizes{0,           1,       4095,    4096,         65535,
                                     65536,       65537,   MiB - 1, MiB,          MiB + 1,
                                     3 * MiB + 7, 2 * MiB, 1000,    64 * 1024 - 5};
        const QString root = src + QStringLiteral("/pack");
        QMap<QString, QByteArray> files;
        for (qsizetype i = 0; i < sizes.size(); ++i) {
            const QString rel = QStringLiteral("d%1/s%2.bin").arg(i % 3).arg(sizes[i]);
            files.insert(rel, Pattern(sizes[i], quint32(i + 100)));
            QVERIFY(makeFile(root + u'/' + rel, files[rel]));
        }
        const QString target = dst + QStringLiteral("/pack/");
        for (auto it = files.cbegin(); it != files.cend(); ++it) {
            const qsizetype size = it.value().size();
            // Resumed at the end of the head and beyond it.
            if (waiting == u"partial" && size > MiB)
                QVERIFY(makeFile(target + it.key() + QStringLiteral(".part"),
                                 it.value().first(size == MiB + 1 ? MiB : MiB + 10)));
            if (waiting == u"identical" && (size == 4096 || size == MiB || size == 2 * MiB))
                QVERIFY(makeFile(target + it.key(), it.value()));
        }

        const Transfer t = folderSend(root);
        offer(t, portB);
        QVERIFY(ended(*a) && ended(*b));
        QCOMPARE(a->host.result(), SessionResult::Complete);
        QCOMPARE(b->host.result(), SessionResult::Complete);
        QCOMPARE(a->host.ended[0].t.bytesDone, t.totalSize);
        QCOMPARE(b->host.ended[0].t.bytesDone, t.totalSize);
        // Byte for byte, and no partial file left behind.
        const QMap<QString, QByteArray> received = treeOf(dst + QStringLiteral("/pack"));
        QCOMPARE(received.keys(), files.keys());
        for (auto it = files.cbegin(); it != files.cend(); ++it)
            QVERIFY2(received[it.key()] == it.value(), qPrintable(it.key()));
    }

    void walkEndEndsTheWait()
    {
        // A sender that ran out of entries would look again only after this.
        a->sessions->setEntryRetryInterval(10 * 60 * 1000);
        const QString root = src + QStringLiteral("/pack");
        QVERIFY(makeFile(root + QStringLiteral("/one.bin"), Pattern(70000, 5)));
        QVERIFY(makeFile(root + QStringLiteral("/two.bin"), Pattern(10, 6)));
        Transfer t = NewTransfer();
        t.isSend = 1;
        t.isFolder = 1;
        t.sizeUnknown = 1;
        t.senderPath = root;
        t.entries = NewEntryList();
        t.statusText = QStringLiteral("Calculating...");
        const FileSessionId id = offer(t, portB);

        // Accepted, and the sender found the list empty.
        QTRY_VERIFY_WITH_TIMEOUT(!a->host.progressReports.isEmpty(), 10000);
        {
            QMutexLocker locker(&t.entries->lock);
            t.entries->paths = {QStringLiteral("one.bin"), QStringLiteral("two.bin")};
        }
        QVERIFY(a->sessions->postSizeKnown(id, 70010));
        QVERIFY(ended(*a) && ended(*b));
        QCOMPARE(a->host.result(), SessionResult::Complete);
        QCOMPARE(b->host.result(), SessionResult::Complete);
        QCOMPARE(treeOf(dst + QStringLiteral("/pack")), treeOf(root));
    }
};

QTEST_GUILESS_MAIN(TestFolderStream)
#include "tst_folderstream.moc"

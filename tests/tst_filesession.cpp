#include "tst_filesession_support.h"

#include "transfers/fileprogress.h"
#include "transfers/headcrc.h"
#include "transfers/sessionresult.h"
#include "transfers/transferformat.h"
#include "transport/listenthread.h"

#include <QSet>
#include <QTemporaryDir>

#include <memory>

using namespace filetest;

namespace {

constexpr char Key[] = "SAMEKEY42";

} // namespace

class TestFileSession : public QObject, public FileSessionFixture
{
    Q_OBJECT

private:
    Transfer fileSend(const QString& path) const
    {
        Transfer t = NewTransfer();
        t.isSend = 1;
        t.senderPath = path;
        t.totalSize = FileSize(path);
        t.headCrc = HeadCrc(path);
        t.statusText = FormatSize(t.totalSize);
        return t;
    }

    bool bothEnded() { return ended(*a) && ended(*b); }

    // A folder as a peer on another system offers it.
    static Transfer peerFolder(quint64 totalSize)
    {
        Transfer t = NewTransfer();
        t.isSend = 1;
        t.isFolder = 1;
        t.senderPath = QStringLiteral("C:\\stuff\\pack");
        t.totalSize = totalSize;
        return t;
    }

    // A sender spoken by hand connects to B, identifies itself and offers
    // t; true when B accepts it (message 5).
    bool rawOffer(RawPeer& peer, const Transfer& t)
    {
        if (!peer.open(portB))
            return false;
        peer.sendFrame(1, makeIdentity("uidR", "Raw", Key).encode());
        if (peer.readFrame().first != 2)
            return false;
        peer.sendFrame(4, EncodeTransfer(t));
        return peer.readFrame().first == 5;
    }

private slots:
    void init()
    {
        QVERIFY(setUpPair(Key, [](FileSessions& sessions) {
            sessions.setLingerTime(3000);
            sessions.setProgressInterval(100);
            sessions.setStallTicks(100000);
            // Keep-alive bytes fall between frames while a receiver decides.
            sessions.setKeepAliveInterval(10);
            sessions.setEntryRetryInterval(20);
        }));
    }

    void cleanup()
    {
        QVERIFY(stopSessions());
        // Every session reported its end exactly once.
        for (Side* side : {a.get(), b.get()}) {
            QSet<uint32_t> ids;
            for (const RecordingHost::End& e : side->host.ended) {
                if (e.t.sessionThreadId != 0) {
                    QVERIFY(!ids.contains(e.t.sessionThreadId));
                    ids.insert(e.t.sessionThreadId);
                }
            }
        }
        tearDownPair();
    }

    // ---- progress figures ----

    void progressFigures_data()
    {
        QTest::addColumn<QList<quint64>>("ticks"); // bytesDone at each tick, from 0
        QTest::addColumn<quint64>("total");
        QTest::addColumn<bool>("sizeUnknown");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("progress");
        QTest::addColumn<int>("percent");
        QTest::addColumn<QString>("speed");
        QTest::addColumn<int>("stall");

        QTest::newRow("first second")
            << QList<quint64>{1024} << quint64(10240) << false << "0days 0hr 0min 8sec"
            << "1.00 KB of 10.00 KB" << 10 << "1.00 KB/s" << 0;
        // Mean of the last five samples: 2000..6000 bytes.
        QTest::newRow("five samples") << QList<quint64>{1000, 3000, 6000, 10000, 15000, 21000}
                                      << quint64(4021000) << false << "0days 0hr 16min 39sec"
                                      << "20.51 KB of 3.83 MB" << 0 << "3.91 KB/s" << 0;
        QTest::newRow("days") << QList<quint64>{1000} << quint64(90062000) << false
                              << "1days 1hr 1min 0sec"
                              << "1000 bytes of 85.89 MB" << 0 << "1000 B/s" << 0;
        QTest::newRow("nothing moved")
            << QList<quint64>{0, 0, 0} << quint64(100) << false << "Calculating..."
            << "0 bytes of 100 bytes" << 0 << "0 B/s" << 3;
        QTest::newRow("stall count resets")
            << QList<quint64>{0, 0, 10} << quint64(30) << false << "0days 0hr 0min 5sec"
            << "10 bytes of 30 bytes" << 33 << "3 B/s" << 0;
        QTest::newRow("size unknown")
            << QList<quint64>{500} << quint64(0) << true << "Calculating..."
            << "500 bytes of ?" << -1 << "500 B/s" << 0;
        QTest::newRow("complete") << QList<quint64>{100} << quint64(100) << false
                                  << "0days 0hr 0min 0sec"
                                  << "100 bytes" << 100 << "100 B/s" << 0;
    }
    void progressFigures()
    {
        QFETCH(QList<quint64>, ticks);
        QFETCH(quint64, total);
        QFETCH(bool, sizeUnknown);
        ProgressMeter meter;
        meter.start(0);
        ProgressReport r;
        for (quint64 done : ticks)
            r = meter.tick(done, total, sizeUnknown);
        QTEST(r.statusText, "status");
        QTEST(r.progressText, "progress");
        QTEST(int(r.percent), "percent");
        QTEST(r.speedText, "speed");
        QTEST(r.stallTicks, "stall");
    }

    // ---- single files ----

    void singleFile_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("grownBy"); // appended after the offer was made
        QTest::newRow("empty") << 0 << 0;
        QTest::newRow("small") << 1000 << 0;
        QTest::newRow("several MiB") << 5 * 1024 * 1024 + 123 << 0;
        QTest::newRow("grew after the offer") << 300000 << 50000;
    }
    void singleFile()
    {
        QFETCH(int, size);
        QFETCH(int, grownBy);
        const QString path = src + QStringLiteral("/report.bin");
        const QByteArray bytes = randomBytes(size, 7);
        QVERIFY(makeFile(path, bytes));
        const Transfer t = fileSend(path);
        QVERIFY(makeFile(path, bytes + randomBytes(grownBy, 8)));

        const FileSessionId id = offer(t);
        QVERIFY(id != 0);
        QVERIFY(bothEnded());
        QCOMPARE(a->host.result(), SessionResult::Complete);
        QCOMPARE(b->host.result(), SessionResult::Complete);

        const QString saved = dst + QStringLiteral("/report.bin");
        QCOMPARE(testsupport::readAll(saved), bytes);
        QVERIFY(!QFileInfo::exists(saved + PartialSuffix));

        // Reports carry the session's id and the figures of the whole file.
        QCOMPARE(a->host.identified.size(), 1);
        QCOMPARE(a->host.identified[0].sessionThreadId, id);
        QCOMPARE(a->host.identified[0].contactUid, QByteArrayLiteral("uidB"));
        QCOMPARE(a->host.ended[0].t.sessionThreadId, id);
        QCOMPARE(b->host.accepted.size(), 1);
        QCOMPARE(b->host.accepted[0].isSend, 0);
        QCOMPARE(b->host.accepted[0].savedPath, saved);
        QCOMPARE(b->host.accepted[0].contactUid, QByteArrayLiteral("uidA"));
        for (Side* side : {a.get(), b.get()}) {
            QCOMPARE(side->host.ended[0].t.bytesDone, quint64(size));
            QVERIFY(!side->host.progressReports.isEmpty());
            const RecordingHost::Progress& last = side->host.progressReports.last();
            QCOMPARE(last.t.percent, 100);
            QCOMPARE(last.progressText, FormatSize(quint64(size)));
        }
    }

    void existingTarget_data()
    {
        QTest::addColumn<QString>("existing");  // "target", "part", or "both" (other target)
        QTest::addColumn<int>("existingBytes"); // prefix of the file; -1: other bytes
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("savedName");
        QTest::addColumn<int>("offset");
        const int mib = 1024 * 1024;
        QTest::newRow("identical target") << "target" << 3 * mib << 4 << "report.txt" << 0;
        QTest::newRow("different target") << "target" << -1 << 14 << "report_001.txt" << 0;
        QTest::newRow("stale partial") << "part" << -1 << 14 << "report.txt" << 0;
        QTest::newRow("partial below 1 MiB") << "part" << 500 * 1024 << 14 << "report.txt" << 0;
        QTest::newRow("resumable partial") << "part" << 2 * mib << 14 << "report.txt" << 2 * mib;
        QTest::newRow("complete partial") << "part" << 3 * mib << 4 << "report.txt" << 0;
        // The user's own file at the target is kept; the resumed file takes a new name.
        QTest::newRow("resumable partial beside another file")
            << "both" << 2 * mib << 14 << "report_001.txt" << 2 * mib;
    }
    void existingTarget()
    {
        QFETCH(QString, existing);
        QFETCH(int, existingBytes);
        QFETCH(int, result);
        QFETCH(QString, savedName);
        QFETCH(int, offset);
        const QByteArray bytes = randomBytes(3 * 1024 * 1024, 11);
        QVERIFY(makeFile(src + QStringLiteral("/report.txt"), bytes));
        const QByteArray old =
            existingBytes < 0 ? randomBytes(4000, 12) : bytes.left(existingBytes);
        const QString target = dst + QStringLiteral("/report.txt");
        QVERIFY(makeFile(existing == u"target" ? target : target + PartialSuffix, old));
        const QByteArray own = randomBytes(5000, 13);
        if (existing == u"both")
            QVERIFY(makeFile(target, own));

        offer(fileSend(src + QStringLiteral("/report.txt")));
        QVERIFY(bothEnded());
        QCOMPARE(a->host.result(), result);
        QCOMPARE(b->host.result(), result);
        QCOMPARE(testsupport::readAll(dst + u'/' + savedName), bytes);
        if (result == SessionResult::Complete) {
            QCOMPARE(b->host.accepted[0].bytesDone, quint64(offset));
            if (existing == u"target") // the old file stays as it was
                QCOMPARE(testsupport::readAll(target), old);
            if (existing == u"both")
                QCOMPARE(testsupport::readAll(target), own);
            QCOMPARE(b->host.ended[0].t.savedPath, dst + u'/' + savedName);
        } else {
            QVERIFY(b->host.accepted.isEmpty());
        }
        QVERIFY(!QFileInfo::exists(dst + u'/' + savedName + PartialSuffix));
    }

    void resumeAfterInterruption()
    {
        const QString path = src + QStringLiteral("/movie.bin");
        // Large enough that the sender cannot have queued all of it when the
        // connection breaks.
        const QByteArray bytes = randomBytes(12 * 1024 * 1024, 21);
        QVERIFY(makeFile(path, bytes));
        const Transfer t = fileSend(path);

        // The connection breaks halfway.
        Relay relay(portB, 3 * 1024 * 1024, Relay::Mode::Cut);
        offer(t, relay.port());
        QVERIFY(bothEnded());
        QCOMPARE(a->host.result(), SessionResult::SocketClosed);
        QCOMPARE(b->host.result(), SessionResult::SocketClosed);
        const QString saved = dst + QStringLiteral("/movie.bin");
        const qint64 partLength = QFileInfo(saved + PartialSuffix).size();
        QVERIFY(partLength > 2 * 1024 * 1024 && partLength < 3 * 1024 * 1024);
        QCOMPARE(b->host.ended[0].t.bytesDone, quint64(partLength));
        QCOMPARE(testsupport::readAll(saved + PartialSuffix), bytes.left(partLength));

        offer(t);
        QVERIFY(ended(*a, 2) && ended(*b, 2));
        QCOMPARE(a->host.result(), SessionResult::Complete);
        QCOMPARE(b->host.result(), SessionResult::Complete);
        QCOMPARE(b->host.accepted.last().bytesDone, quint64(partLength));
        QCOMPARE(testsupport::readAll(saved), bytes);
    }

    // ---- where the data goes ----

    void offeredSavedPath_data()
    {
        QTest::addColumn<QString>("savedPath"); // relative to the temporary folder
        QTest::addColumn<bool>("listed");       // B lists a receive with this path
        QTest::addColumn<QString>("expected");
        QTest::newRow("own resume") << "mine/a.txt" << true << "mine/a.txt";
        QTest::newRow("not listed") << "elsewhere/a.txt" << false << "inbox/a.txt";
        QTest::newRow("listed but climbs") << "mine/../elsewhere/a.txt" << true << "inbox/a.txt";
        QTest::newRow("relative") << "RELATIVE" << true << "inbox/a.txt";
    }
    void offeredSavedPath()
    {
        QFETCH(QString, savedPath);
        QFETCH(bool, listed);
        QFETCH(QString, expected);
        const QString offered =
            savedPath == u"RELATIVE" ? QStringLiteral("a.txt") : tmp->filePath(savedPath);
        QVERIFY(makeFile(src + QStringLiteral("/a.txt"), QByteArrayLiteral("hello there")));
        Transfer t = fileSend(src + QStringLiteral("/a.txt"));
        t.savedPath = offered;
        if (listed) {
            Transfer row = NewTransfer();
            row.contactUid = QByteArrayLiteral("uidA");
            row.senderPath = t.senderPath.toUpper(); // the peer's path, case ignored
            row.savedPath = offered;
            b->host.ownReceives << row;
        }
        offer(t);
        QVERIFY(bothEnded());
        QCOMPARE(b->host.result(), SessionResult::Complete);
        const QMap<QString, QByteArray> tree = treeOf(tmp->path());
        QCOMPARE(tree.value(expected), QByteArrayLiteral("hello there"));
        QCOMPARE(tree.size(), 2); // the source and the one copy
    }

    void unsafeEntryPaths_data()
    {
        QTest::addColumn<QByteArray>("entry");
        QTest::newRow("parent") << QByteArrayLiteral("..\\evil.txt");
        QTest::newRow("parent with slash") << QByteArrayLiteral("../evil.txt");
        QTest::newRow("climbs back out") << QByteArrayLiteral("sub\\..\\..\\evil.txt");
        QTest::newRow("absolute") << QByteArrayLiteral("ABSOLUTE");
        QTest::newRow("drive letter") << QByteArrayLiteral("C:\\evil.txt");
    }
    void unsafeEntryPaths()
    {
        QFETCH(QByteArray, entry);
        if (entry == "ABSOLUTE")
            entry = tmp->filePath(QStringLiteral("evil.txt")).toUtf8();
        RawPeer peer(Key);
        QVERIFY(rawOffer(peer, peerFolder(8)));

        // The unsafe entry is skipped; a plain one after it still arrives.
        const QByteArray data = QByteArrayLiteral("8 bytes!");
        QList<quint32> dispositions;
        for (const QByteArray& path : {entry, QByteArrayLiteral("ok.txt")}) {
            peer.sendFrame(7, path + '\0' + u64(data.size()) + u32(Crc32(data)));
            const auto [type, reply] = peer.readFrame();
            QCOMPARE(type, uint8_t(8));
            peer.restartStream();
            dispositions << qFromLittleEndian<quint32>(reply.constData() + 8);
            if (dispositions.last() == 0)
                peer.sendRaw(data);
        }
        peer.sendFrame(9, u32(0));
        QVERIFY(ended(*b));
        QCOMPARE(dispositions, (QList<quint32>{1, 0}));
        QCOMPARE(b->host.result(), SessionResult::Complete);
        const QMap<QString, QByteArray> tree = treeOf(tmp->path());
        QCOMPARE(tree.keys(), QStringList{QStringLiteral("inbox/pack/ok.txt")});
        QCOMPARE(tree.first(), data);
    }

    // A received entry takes its name once the reply to the entry after it
    // is out; however the session goes on from there, it is in place whole.
    void finishedEntryIsPutInPlace_data()
    {
        QTest::addColumn<QString>("then");
        QTest::addColumn<quint32>("nextDisposition");
        QTest::newRow("connection lost") << QStringLiteral("abort") << 0u;
        QTest::newRow("sender ends") << QStringLiteral("done") << 0u;
        QTest::newRow("same path again") << QStringLiteral("again") << 2u;
    }
    void finishedEntryIsPutInPlace()
    {
        QFETCH(QString, then);
        RawPeer peer(Key);
        QVERIFY(rawOffer(peer, peerFolder(16)));

        const QByteArray data = QByteArrayLiteral("8 bytes!");
        const auto entry = [&](const QByteArray& path) {
            peer.sendFrame(7, path + '\0' + u64(data.size()) + u32(Crc32(data)));
        };
        entry("a.txt");
        auto [type, reply] = peer.readFrame();
        QCOMPARE(type, uint8_t(8));
        peer.restartStream();
        // The data and the next entry arrive together.
        peer.sendRaw(data);
        entry(then == u"again" ? QByteArrayLiteral("a.txt") : QByteArrayLiteral("b.txt"));
        std::tie(type, reply) = peer.readFrame();
        QCOMPARE(type, uint8_t(8));
        QTEST(qFromLittleEndian<quint32>(reply.constData() + 8), "nextDisposition");
        if (then == u"abort") {
            peer.socket->abort();
        } else {
            if (then == u"done") {
                peer.restartStream();
                peer.sendRaw(data);
            }
            peer.sendFrame(9, u32(0));
        }
        QVERIFY(ended(*b));
        if (then != u"abort")
            QCOMPARE(b->host.result(), SessionResult::Complete);
        const QString folder = tmp->path() + QStringLiteral("/inbox/pack/");
        QCOMPARE(treeOf(folder).value(QStringLiteral("a.txt")), data);
        QVERIFY(!QFileInfo::exists(folder + QStringLiteral("a.txt.part")));
        QVERIFY(!QFileInfo::exists(folder + QStringLiteral("a_001.txt")));
    }

    // The chosen folder gone mid-transfer is an error, not a transfer that
    // completes with nothing written.
    void vanishedFolderIsAnError()
    {
        RawPeer peer(Key);
        QVERIFY(rawOffer(peer, peerFolder(8)));
        QVERIFY(QDir(tmp->path() + QStringLiteral("/inbox/pack")).removeRecursively());

        peer.sendFrame(7, QByteArrayLiteral("a.txt") + '\0' + u64(8) + u32(Crc32("8 bytes!")));
        const auto [type, status] = peer.readFrame();
        QCOMPARE(type, uint8_t(11));
        QCOMPARE(qFromLittleEndian<quint32>(status.constData()),
                 quint32(SessionResult::PeerFolderFailed));
        QVERIFY(ended(*b));
        QVERIFY(b->host.result() != SessionResult::Complete);
    }

    // ---- links and other writers ----

    void linksAtTheTarget_data()
    {
        QTest::addColumn<QString>("link"); // in the autosave folder, to victim.txt
        QTest::newRow("partial file is a link") << "report.bin.part";
        QTest::newRow("target is a link") << "report.bin";
        QTest::newRow("dangling partial link") << "report.bin.part";
    }
    void linksAtTheTarget()
    {
        QFETCH(QString, link);
        const QString victim = tmp->filePath(QStringLiteral("victim.txt"));
        const bool dangling = QString::fromLatin1(QTest::currentDataTag()).startsWith(u"dangling");
        if (!dangling)
            QVERIFY(makeFile(victim, QByteArrayLiteral("precious")));
        QVERIFY(QDir().mkpath(dst));
        QVERIFY(QFile::link(victim, dst + u'/' + link));
        QVERIFY(makeFile(src + QStringLiteral("/report.bin"), randomBytes(70000, 31)));

        offer(fileSend(src + QStringLiteral("/report.bin")));
        QVERIFY(bothEnded());
        QCOMPARE(a->host.result(), SessionResult::PeerCannotWrite);
        QCOMPARE(b->host.result(), SessionResult::PeerCannotWrite);
        if (dangling)
            QVERIFY(!QFileInfo::exists(victim));
        else
            QCOMPARE(testsupport::readAll(victim), QByteArrayLiteral("precious"));
        QVERIFY(QFileInfo(dst + u'/' + link).isSymLink());
    }

    // Links on either side of a folder transfer. Sent: pack/a.txt and
    // pack/sub/b.txt, plus what the row adds; secret/key.txt is outside.
    void linksInFolders_data()
    {
        QTest::addColumn<QString>("link");    // relative to the temporary folder
        QTest::addColumn<QString>("leadsTo"); // relative to the temporary folder
        QTest::addColumn<QStringList>("received");
        const QString a = QStringLiteral("pack/a.txt"), b = QStringLiteral("pack/sub/b.txt");
        QTest::newRow("sender: link to a file outside") << "src/pack/leak.txt"
                                                        << "secret/key.txt" << QStringList{a, b};
        QTest::newRow("sender: link to a file inside")
            << "src/pack/again.txt"
            << "src/pack/a.txt" << QStringList{a, QStringLiteral("pack/again.txt"), b};
        QTest::newRow("receiver: linked folder") << "inbox/pack/sub"
                                                 << "secret" << QStringList{a};
        QTest::newRow("receiver: link at an entry") << "inbox/pack/a.txt"
                                                    << "secret/key.txt" << QStringList{b};
    }
    void linksInFolders()
    {
        QFETCH(QString, link);
        QFETCH(QString, leadsTo);
        QFETCH(QStringList, received);
        const QString root = src + QStringLiteral("/pack");
        QVERIFY(makeFile(root + QStringLiteral("/a.txt"), "alpha"));
        QVERIFY(makeFile(root + QStringLiteral("/sub/b.txt"), "beta"));
        const QString key = tmp->filePath(QStringLiteral("secret/key.txt"));
        QVERIFY(makeFile(key, "the key"));
        QVERIFY(QDir().mkpath(QFileInfo(tmp->filePath(link)).path()));
        QVERIFY(QFile::link(tmp->filePath(leadsTo), tmp->filePath(link)));

        offer(folderSend(root));
        QVERIFY(bothEnded());
        QCOMPARE(b->host.result(), SessionResult::Complete);
        // Real files only: a link itself is not something received.
        QStringList files;
        QDirIterator it(dst, QDir::Files | QDir::Hidden | QDir::NoSymLinks,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            files << QDir(dst).relativeFilePath(it.next());
        files.sort();
        QCOMPARE(files, received);
        QCOMPARE(treeOf(tmp->filePath(QStringLiteral("secret"))).keys(),
                 QStringList{QStringLiteral("key.txt")});
        QCOMPARE(testsupport::readAll(key), QByteArrayLiteral("the key"));
    }

    // A second session that meets a target another one is writing is
    // refused; the first one's file arrives whole.
    void oneWriterPerTarget()
    {
        const QByteArray first = randomBytes(300000, 41);
        RawPeer peer(Key);
        Transfer t = NewTransfer();
        t.isSend = 1;
        t.senderPath = QStringLiteral("C:\\x\\report.bin");
        t.totalSize = quint64(first.size());
        t.headCrc = Crc32(first);
        QVERIFY(rawOffer(peer, t));
        peer.restartStream();

        const QByteArray second = randomBytes(200000, 42);
        QVERIFY(makeFile(src + QStringLiteral("/y/report.bin"), second));
        offer(fileSend(src + QStringLiteral("/y/report.bin")));
        QVERIFY(ended(*a) && ended(*b));
        QCOMPARE(a->host.result(), SessionResult::PeerCannotWrite);
        QCOMPARE(b->host.result(), SessionResult::PeerCannotWrite);

        peer.sendRaw(first);
        QVERIFY(ended(*b, 2));
        QCOMPARE(b->host.result(), SessionResult::Complete);
        QCOMPARE(treeOf(dst), (QMap<QString, QByteArray>{{QStringLiteral("report.bin"), first}}));
    }

    // ---- folders ----

    void folder()
    {
        const QString root = src + QStringLiteral("/pack");
        QVERIFY(makeFile(root + QStringLiteral("/a.txt"), "alpha"));
        QVERIFY(makeFile(root + QStringLiteral("/empty.txt"), QByteArray()));
        QVERIFY(makeFile(root + QStringLiteral("/sub/b.bin"), randomBytes(1500000, 3)));
        QVERIFY(makeFile(root + QStringLiteral("/sub/deeper/c.txt"), "gamma"));
        QVERIFY(makeFile(root + QStringLiteral("/sub/deeper/empty2"), QByteArray()));
        const Transfer t = folderSend(root);

        offer(t);
        QVERIFY(bothEnded());
        QCOMPARE(a->host.result(), SessionResult::Complete);
        QCOMPARE(b->host.result(), SessionResult::Complete);
        QCOMPARE(treeOf(dst + QStringLiteral("/pack")), treeOf(root));
        // A finished folder keeps its full count on both sides.
        QCOMPARE(a->host.ended[0].t.bytesDone, t.totalSize);
        QCOMPARE(b->host.ended[0].t.bytesDone, t.totalSize);
        QVERIFY(t.entries->paths.isEmpty());

        // Sent again, every entry is found identical and counted as done.
        const QDateTime old = QDateTime::currentDateTime().addDays(-3);
        for (const QString& rel : treeOf(root).keys()) {
            QFile f(dst + QStringLiteral("/pack/") + rel);
            QVERIFY(f.open(QIODevice::ReadWrite) &&
                    f.setFileTime(old, QFileDevice::FileModificationTime));
        }
        const Transfer again = folderSend(root);
        offer(again);
        QVERIFY(ended(*a, 2) && ended(*b, 2));
        QCOMPARE(a->host.result(), SessionResult::Complete);
        QCOMPARE(b->host.result(), SessionResult::Complete);
        QCOMPARE(a->host.ended[1].t.bytesDone, again.totalSize);
        QCOMPARE(b->host.ended[1].t.bytesDone, again.totalSize);
        for (const QString& rel : treeOf(root).keys())
            QCOMPARE(QFileInfo(dst + QStringLiteral("/pack/") + rel).lastModified(), old);
    }

    void folderWhileWalking()
    {
        const QString root = src + QStringLiteral("/pack");
        QVERIFY(makeFile(root + QStringLiteral("/first.txt"), "first"));
        QVERIFY(makeFile(root + QStringLiteral("/later/second.txt"), "second"));
        Transfer t = NewTransfer();
        t.isSend = 1;
        t.isFolder = 1;
        t.sizeUnknown = 1;
        t.senderPath = root;
        t.entries = NewEntryList();
        t.statusText = QStringLiteral("Calculating...");
        const FileSessionId id = offer(t);

        // The walk finds one entry; the sender waits for more.
        QTRY_COMPARE_WITH_TIMEOUT(b->host.accepted.size(), 1, 10000);
        appendEntry(t, QStringLiteral("first.txt"));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(dst + QStringLiteral("/pack/first.txt")), 10000);
        appendEntry(t, QStringLiteral("later/second.txt"));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(dst + QStringLiteral("/pack/later/second.txt")),
                                 10000);
        QVERIFY(b->host.ended.isEmpty() && a->host.ended.isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(!b->host.progressReports.isEmpty() &&
                                     b->host.progressReports.last().progressText.endsWith(u" of ?"),
                                 10000);

        // The walk ends: the size goes over, then the end of the folder.
        QVERIFY(a->sessions->postSizeKnown(id, 11));
        QVERIFY(bothEnded());
        QCOMPARE(a->host.result(), SessionResult::Complete);
        QCOMPARE(b->host.result(), SessionResult::Complete);
        QCOMPARE(b->host.ended[0].t.totalSize, quint64(11));
        QCOMPARE(b->host.ended[0].t.bytesDone, quint64(11));
        QCOMPARE(b->host.progressReports.last().progressText, QStringLiteral("11 bytes"));
    }

    void folderResumeAfterInterruption()
    {
        const QString root = src + QStringLiteral("/pack");
        QVERIFY(makeFile(root + QStringLiteral("/1.txt"), randomBytes(100000, 1)));
        QVERIFY(makeFile(root + QStringLiteral("/2.bin"), randomBytes(12000000, 2)));
        QVERIFY(makeFile(root + QStringLiteral("/3.txt"), randomBytes(5000, 3)));
        Transfer t = folderSend(root);

        Relay relay(portB, 2500000, Relay::Mode::Cut);
        offer(t, relay.port());
        QVERIFY(bothEnded());
        QCOMPARE(a->host.result(), SessionResult::SocketClosed);
        // The interrupted entry counts nowhere and is first to go next time.
        QCOMPARE(a->host.ended[0].t.bytesDone, quint64(100000));
        QCOMPARE(b->host.ended[0].t.bytesDone, quint64(100000));
        QCOMPARE(t.entries->paths, (QStringList{QStringLiteral("2.bin"), QStringLiteral("3.txt")}));
        const qint64 partLength = QFileInfo(dst + QStringLiteral("/pack/2.bin.part")).size();
        QVERIFY(partLength > 2000000);

        // The transfers list hands the row's progress to the next session.
        t.bytesDone = a->host.ended[0].t.bytesDone;
        offer(t);
        QVERIFY(ended(*a, 2) && ended(*b, 2));
        QCOMPARE(a->host.result(), SessionResult::Complete);
        QCOMPARE(b->host.result(), SessionResult::Complete);
        QCOMPARE(treeOf(dst + QStringLiteral("/pack")), treeOf(root));
        QCOMPARE(a->host.ended[1].t.bytesDone, t.totalSize);
        QCOMPARE(b->host.ended[1].t.bytesDone, t.totalSize);
        QCOMPARE(b->host.accepted[1].bytesDone, quint64(100000));
    }

    void senderLosesAcceptedEntry_data()
    {
        QTest::addColumn<bool>("removed"); // else cut short
        QTest::newRow("removed") << true;
        QTest::newRow("shrunk") << false;
    }
    void senderLosesAcceptedEntry()
    {
        QFETCH(bool, removed);
        const QString root = src + QStringLiteral("/pack");
        const QString entry = root + QStringLiteral("/x.bin");
        QVERIFY(makeFile(entry, randomBytes(200000, 4)));
        RawPeer peer(Key);
        offer(folderSend(root), peer.listen());
        QVERIFY(peer.accept());
        QCOMPARE(peer.readFrame().first, uint8_t(1));
        peer.sendFrame(2, makeIdentity("uidR", "Raw", Key).encode());
        QCOMPARE(peer.readFrame().first, uint8_t(4));
        peer.sendFrame(5, QByteArrayLiteral("/r/pack") + '\0' + u64(0));
        QCOMPARE(peer.readFrame().first, uint8_t(7));

        // Gone or shorter between the announcement and the data.
        if (removed)
            QVERIFY(QFile::remove(entry));
        else
            QVERIFY(QFile::resize(entry, 1000));
        peer.sendFrame(8, u64(0) + u32(0));
        QVERIFY(ended(*a));
        QCOMPARE(a->host.result(), SessionResult::TransmitError);
    }

    // ---- ending early ----

    void cancel_data()
    {
        QTest::addColumn<bool>("atReceiver");
        QTest::addColumn<int>("senderResult");
        QTest::addColumn<int>("receiverResult");
        QTest::newRow("at the receiver") << true << 13 << 13;
        QTest::newRow("at the sender") << false << 13 << 0;
    }
    void cancel()
    {
        QFETCH(bool, atReceiver);
        const QString path = src + QStringLiteral("/big.bin");
        QVERIFY(makeFile(path, randomBytes(16 * 1024 * 1024, 5)));
        // The data is held back midway, so both sides are in the data phase.
        Relay relay(portB, 1024 * 1024, Relay::Mode::Hold);
        const FileSessionId id = offer(fileSend(path), relay.port());
        QTRY_VERIFY_WITH_TIMEOUT(relay.capped(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!b->host.progressReports.isEmpty(), 10000);
        if (atReceiver)
            QVERIFY(b->sessions->postCancel(b->host.accepted[0].sessionThreadId));
        else
            QVERIFY(a->sessions->postCancel(id));
        QVERIFY(ended(*a));
        relay.release();
        QVERIFY(ended(*b));
        QTEST(a->host.result(), "senderResult");
        QTEST(b->host.result(), "receiverResult");
        QVERIFY(!a->sessions->postCancel(id));
    }

    void stall()
    {
        b->sessions->setStallTicks(3);
        b->sessions->setProgressInterval(20);
        RawPeer peer(Key);
        Transfer t = NewTransfer();
        t.isSend = 1;
        t.senderPath = QStringLiteral("C:\\x.bin");
        t.totalSize = 1000;
        QVERIFY(rawOffer(peer, t));
        peer.restartStream();
        peer.sendRaw(QByteArray(10, 'x'));
        // Then nothing more.
        QVERIFY(ended(*b));
        QCOMPARE(b->host.result(), SessionResult::SocketDied);
        QCOMPARE(b->host.ended[0].t.bytesDone, quint64(10));
        QVERIFY(b->host.progressReports.size() >= 3);
    }

    // ---- the receiving user decides ----

    void prompts_data()
    {
        QTest::addColumn<QString>("existing");   // at the chosen path: "", "same", "other", "part"
        QTest::addColumn<QString>("answerText"); // answers in order, ";" between
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("savedName");
        QTest::addColumn<QString>("resumeTitle");
        QTest::newRow("deny") << ""
                              << "deny" << 1 << ""
                              << "";
        QTest::newRow("accept with path") << ""
                                          << "accept chosen.bin" << 14 << "chosen.bin"
                                          << "";
        QTest::newRow("picker") << ""
                                << "accept;path chosen.bin.part" << 14 << "chosen.bin"
                                << "";
        QTest::newRow("picker canceled") << ""
                                         << "accept;path" << 1 << ""
                                         << "";
        QTest::newRow("identical: resume disabled, overwrite")
            << "same"
            << "accept chosen.bin;resume 1;resume 2" << 14 << "chosen.bin"
            << "File Is Identical";
        QTest::newRow("exists: autorename")
            << "other"
            << "accept chosen.bin;resume 4" << 14 << "chosen_001.bin"
            << "File Already Exist";
        QTest::newRow("partial: resume") << "part"
                                         << "accept chosen.bin;resume 1" << 14 << "chosen.bin"
                                         << "Resume File?";
        QTest::newRow("exists: reselect")
            << "other"
            << "accept chosen.bin;resume 3;path fresh.bin" << 14 << "fresh.bin"
            << "File Already Exist";
        QTest::newRow("exists: cancel") << "other"
                                        << "accept chosen.bin;resume 5" << 1 << ""
                                        << "File Already Exist";
    }
    void prompts()
    {
        QFETCH(QString, existing);
        QFETCH(QString, answerText);
        QStringList answers = answerText.split(u';');
        QFETCH(QString, savedName);
        QFETCH(QString, resumeTitle);
        const bool userAccepts = answers.first().startsWith(u"accept");
        b->host.autosave.clear();
        const QString chosenDir = tmp->filePath(QStringLiteral("chosen"));
        QDir().mkpath(chosenDir);
        const QByteArray bytes = randomBytes(2 * 1024 * 1024, 9);
        QVERIFY(makeFile(src + QStringLiteral("/movie.bin"), bytes));
        const QString chosen = chosenDir + QStringLiteral("/chosen.bin");
        if (existing == u"same")
            QVERIFY(makeFile(chosen, bytes));
        else if (existing == u"other")
            QVERIFY(makeFile(chosen, "something else"));
        else if (existing == u"part")
            QVERIFY(makeFile(chosen + PartialSuffix, bytes.left(1536 * 1024)));

        // Each prompt gets the next answer.
        b->host.onPrompt = [&](const RecordingHost::Prompt& p) {
            if (answers.isEmpty() || p.kind == u"text")
                return;
            const QStringList words = answers.takeFirst().split(u' ');
            const QString arg = words.value(1);
            const QString path = arg.isEmpty() ? QString() : chosenDir + u'/' + arg;
            if (words[0] == u"deny")
                b->sessions->answerDeny(p.session);
            else if (words[0] == u"accept")
                b->sessions->answerAccept(p.session, path);
            else if (words[0] == u"path")
                b->sessions->answerSavePath(p.session, path);
            else
                b->sessions->answerResume(p.session, ResumeChoice(arg.toInt()));
        };
        offer(fileSend(src + QStringLiteral("/movie.bin")));
        QVERIFY(bothEnded());
        QVERIFY(answers.isEmpty());
        QTEST(a->host.result(), "result");
        QTEST(b->host.result(), "result");

        const RecordingHost::Prompt& first = b->host.prompts.first();
        QCOMPARE(first.kind, QStringLiteral("accept"));
        QCOMPARE(first.title, QStringLiteral("Accept File Transfer?"));
        QCOMPARE(first.text,
                 QStringLiteral("Accept File Transfer?\n\nFrom:\t\tPeer uidA "
                                "(127.0.0.1)\nFile Name:\tmovie.bin\nFile Size:\t2.00 MB"));
        for (const RecordingHost::Prompt& p : b->host.prompts) {
            if (p.kind == u"path")
                QCOMPARE(p.proposedName, QStringLiteral("movie.bin"));
            if (p.kind == u"resume")
                QCOMPARE(p.title, resumeTitle);
        }
        QCOMPARE(b->host.promptsClosed.size(), 1);
        // Once the user accepted, the sender showed that a path is being chosen.
        QCOMPARE(a->host.selecting.size(), userAccepts ? 1 : 0);
        if (!savedName.isEmpty())
            QCOMPARE(testsupport::readAll(chosenDir + u'/' + savedName), bytes);
        if (existing == u"part" && !savedName.isEmpty())
            QCOMPARE(b->host.accepted[0].bytesDone, quint64(1536 * 1024));
    }

    // ---- started by a chat session ----

    void requestMode()
    {
        // B has the file; A asks for it again with the path it saved to.
        const QByteArray bytes = randomBytes(400000, 6);
        const QString bSource = tmp->filePath(QStringLiteral("bsrc/doc.pdf"));
        QVERIFY(makeFile(bSource, bytes));
        const QString aSaved = tmp->filePath(QStringLiteral("asaved/doc.pdf"));
        Transfer row = NewTransfer();
        row.contactUid = QByteArrayLiteral("uidB");
        row.senderPath = bSource;
        row.savedPath = aSaved;
        row.totalSize = bytes.size();
        row.headCrc = Crc32(bytes.left(1024 * 1024));
        a->host.ownReceives << row;

        DataSessionRequest request;
        request.kind = DataSessionRequest::Kind::ReceiveFile;
        request.transfer = EncodeTransfer(row);
        request.contact = contactAt(portB);
        request.ownIdentity = a->host.own;
        a->sessions->dataSessionStarter()(request);
        QVERIFY(bothEnded());
        QCOMPARE(a->host.result(), SessionResult::Complete);
        QCOMPARE(b->host.result(), SessionResult::Complete);
        QCOMPARE(testsupport::readAll(aSaved), bytes);
        QCOMPARE(b->host.identified.size(), 1);
        QCOMPARE(b->host.identified[0].isSend, 1);
        QCOMPARE(b->host.identified[0].contactUid, QByteArrayLiteral("uidA"));
        QCOMPARE(a->host.accepted[0].savedPath, aSaved);

        // Browsing is not a file session.
        request.kind = DataSessionRequest::Kind::Browse;
        QCOMPARE(a->sessions->startOutgoing(request), FileSessionId(0));
    }

private:
    static void appendEntry(const Transfer& t, const QString& rel)
    {
        QMutexLocker locker(&t.entries->lock);
        t.entries->paths.append(rel);
    }
};

QTEST_GUILESS_MAIN(TestFileSession)
#include "tst_filesession.moc"

#include "testsupport.h"

#include "transfers/headcrc.h"
#include "transfers/sessionresult.h"
#include "transfers/transfer.h"
#include "transfers/transferformat.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <limits>

using testsupport::hex;

namespace {

// The transfer whose wire image is written out by hand below.
Transfer SampleTransfer()
{
    Transfer t = NewTransfer();
    t.state = TransferState::Transferring;
    t.isSend = 1;
    t.queueTime = 0x01020304;
    t.connectTryTime = 5;
    t.startTime = 6;
    t.stopTime = 7;
    t.contactUid = "abc";
    t.headCrc = 0xCBF43926;
    t.bytesDone = 0x0000000100000002ull;
    t.totalSize = 0x1122334455667788ull;
    t.sessionThreadId = 9;
    t.calcThreadId = 10;
    t.statusText = QStringLiteral("Q");
    t.senderPath = QStringLiteral("/a");
    return t;
}

const char SampleImage[] = "02000000 01000000 00000000 00000000"
                           "04030201 05000000 06000000 07000000"
                           "61626300 00000000 00000000 00000000"
                           "00000000 00000000 00000000 00000000"
                           "ffffffff 2639f4cb 02000000 01000000"
                           "88776655 44332211 09000000 0a000000"
                           "00000000 00000000 00000000"
                           "5100 2f6100 00";

QByteArray PatternBytes(qsizetype size)
{
    QByteArray bytes(size, '\0');
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char(i % 251);
    return bytes;
}

} // namespace

class TestTransfer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void wireImageIsByteExact();
    void decodeReadsHandWrittenImage();
    void decodeRefusesDamagedImages_data();
    void decodeRefusesDamagedImages();
    void copiesShareTheEntryList();
    void newTransferIsBlank();

    void stateTexts_data();
    void stateTexts();
    void nameParts_data();
    void nameParts();

    void formatSize_data();
    void formatSize();
    void formatSpeed_data();
    void formatSpeed();
    void formatDuration_data();
    void formatDuration();
    void formatTimestamp_data();
    void formatTimestamp();

    void crcOfKnownTexts_data();
    void crcOfKnownTexts();
    void headCrcOfFiles_data();
    void headCrcOfFiles();
    void headCrcStopsAfterOneMebibyte();
    void fileSizes();

    void propertiesOfCompletedTransfer();
    void propertiesLines_data();
    void propertiesLines();

    void sessionResults_data();
    void sessionResults();

private:
    QTemporaryDir m_dir;
};

void TestTransfer::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // Timestamps are local time; pin the zone so the texts are known.
    qputenv("TZ", "UTC");
    tzset();
}

void TestTransfer::wireImageIsByteExact()
{
    QCOMPARE(EncodeTransfer(SampleTransfer()).toHex(), hex(SampleImage).toHex());
}

void TestTransfer::decodeReadsHandWrittenImage()
{
    // The handle slots of a foreign image carry the peer's values: ignored.
    QByteArray image = hex(SampleImage);
    image[96] = 'x';
    image[104] = 'y';
    const std::optional<Transfer> t = DecodeTransfer(image);
    QVERIFY(t);
    const Transfer expected = SampleTransfer();
    QCOMPARE(t->state, expected.state);
    QCOMPARE(t->isSend, 1);
    QCOMPARE(t->queueTime, expected.queueTime);
    QCOMPARE(t->connectTryTime, 5);
    QCOMPARE(t->startTime, 6);
    QCOMPARE(t->stopTime, 7);
    QCOMPARE(t->contactUid, QByteArray("abc"));
    QCOMPARE(t->percent, -1);
    QCOMPARE(t->headCrc, expected.headCrc);
    QCOMPARE(t->bytesDone, expected.bytesDone);
    QCOMPARE(t->totalSize, expected.totalSize);
    QCOMPARE(t->sessionThreadId, 9u);
    QCOMPARE(t->calcThreadId, 10u);
    QCOMPARE(t->statusText, QStringLiteral("Q"));
    QCOMPARE(t->senderPath, QStringLiteral("/a"));
    QCOMPARE(t->savedPath, QString());
    QVERIFY(!t->entries);
    QVERIFY(!t->contactBound);
}

void TestTransfer::decodeRefusesDamagedImages_data()
{
    QTest::addColumn<QByteArray>("image");
    QTest::addColumn<bool>("accepted");
    const QByteArray block(108, '\0');
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("107 bytes") << QByteArray(107, '\0') << false;
    QTest::newRow("block without texts") << block << false;
    QTest::newRow("two texts only") << block + QByteArray("a\0b\0", 4) << false;
    QTest::newRow("last text without zero") << block + QByteArray("a\0b\0c", 5) << false;
    QTest::newRow("three empty texts") << block + QByteArray(3, '\0') << true;
    QTest::newRow("bytes after the texts") << block + QByteArray("a\0b\0c\0zz", 8) << true;
    QTest::newRow("text of 65534 bytes")
        << block + QByteArray(65534, 'p') + QByteArray(3, '\0') << true;
    QTest::newRow("text of 65535 bytes")
        << block + QByteArray(2, '\0') + QByteArray(65535, 'p') + QByteArray(1, '\0') << false;
}

void TestTransfer::decodeRefusesDamagedImages()
{
    QFETCH(QByteArray, image);
    QFETCH(bool, accepted);
    QCOMPARE(DecodeTransfer(image).has_value(), accepted);
}

void TestTransfer::copiesShareTheEntryList()
{
    Transfer t = SampleTransfer();
    t.entries = NewEntryList();
    Transfer copy = CopyTransfer(t);
    QCOMPARE(EncodeTransfer(copy), EncodeTransfer(t));
    {
        QMutexLocker locker(&copy.entries->lock);
        copy.entries->paths.append(QStringLiteral("sub/a.txt"));
    }
    QCOMPARE(t.entries.get(), copy.entries.get());
    QCOMPARE(t.entries->paths, QStringList{QStringLiteral("sub/a.txt")});

    // A uid longer than the field keeps 31 bytes and its zero.
    copy.contactUid = QByteArray(40, 'u');
    const std::optional<Transfer> back = DecodeTransfer(EncodeTransfer(copy));
    QVERIFY(back);
    QCOMPARE(back->contactUid, QByteArray(31, 'u'));
}

void TestTransfer::newTransferIsBlank()
{
    QByteArray expected(108, '\0');
    expected[64] = expected[65] = expected[66] = expected[67] = char(0xff);
    expected.append(QByteArray(3, '\0'));
    QCOMPARE(EncodeTransfer(NewTransfer()).toHex(), expected.toHex());
}

void TestTransfer::stateTexts_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << 0 << QStringLiteral("Queued");
    QTest::newRow("1") << 1 << QStringLiteral("Waiting");
    QTest::newRow("2") << 2 << QStringLiteral("Transfering");
    QTest::newRow("3") << 3 << QStringLiteral("Completed");
    QTest::newRow("4") << 4 << QStringLiteral("Failed");
    QTest::newRow("5") << 5 << QStringLiteral("Canceled");
    QTest::newRow("6") << 6 << QStringLiteral("Failed: Manual Retry Required");
    QTest::newRow("7") << 7 << QStringLiteral("Connecting");
    QTest::newRow("8") << 8 << QString();
    QTest::newRow("-1") << -1 << QString();
}

void TestTransfer::stateTexts()
{
    QFETCH(int, state);
    QFETCH(QString, text);
    QCOMPARE(TransferStateText(static_cast<TransferState>(state)), text);
}

void TestTransfer::nameParts_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("name");
    QTest::newRow("peer path") << QStringLiteral("C:\\dir\\file.txt") << QStringLiteral("file.txt");
    QTest::newRow("local path") << QStringLiteral("/home/u/file.txt") << QStringLiteral("file.txt");
    QTest::newRow("mixed, slash last") << QStringLiteral("a\\b/c") << QStringLiteral("c");
    QTest::newRow("mixed, backslash last") << QStringLiteral("a/b\\c") << QStringLiteral("c");
    QTest::newRow("trailing separators")
        << QStringLiteral("/x/folder/\\") << QStringLiteral("folder");
    QTest::newRow("bare name") << QStringLiteral("name") << QStringLiteral("name");
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("root") << QStringLiteral("/") << QString();
}

void TestTransfer::nameParts()
{
    QFETCH(QString, path);
    QFETCH(QString, name);
    QCOMPARE(PathNamePart(path), name);
}

void TestTransfer::formatSize_data()
{
    QTest::addColumn<quint64>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << quint64(0) << QStringLiteral("0 bytes");
    QTest::newRow("1023") << quint64(1023) << QStringLiteral("1023 bytes");
    QTest::newRow("1024") << quint64(1024) << QStringLiteral("1.00 KB");
    QTest::newRow("1536") << quint64(1536) << QStringLiteral("1.50 KB");
    QTest::newRow("just below 1 MiB") << quint64(1048575) << QStringLiteral("1024.00 KB");
    QTest::newRow("1 MiB") << quint64(1048576) << QStringLiteral("1.00 MB");
    QTest::newRow("1 GiB") << (quint64(1) << 30) << QStringLiteral("1.00 GB");
    QTest::newRow("3 TiB") << (quint64(3) << 40) << QStringLiteral("3.00 TB");
    QTest::newRow("1 PiB") << (quint64(1) << 50) << QStringLiteral("1.00 PB");
    QTest::newRow("1 EiB") << (quint64(1) << 60) << QStringLiteral("1.00 EB");
    QTest::newRow("largest") << std::numeric_limits<quint64>::max() << QStringLiteral("16.00 EB");
}

void TestTransfer::formatSize()
{
    QFETCH(quint64, bytes);
    QFETCH(QString, text);
    QCOMPARE(FormatSize(bytes), text);
}

void TestTransfer::formatSpeed_data()
{
    QTest::addColumn<double>("rate");
    QTest::addColumn<QString>("text");
    QTest::newRow("idle sample") << 0.001 << QStringLiteral("0 B/s");
    QTest::newRow("below 1 KB/s") << 1023.4 << QStringLiteral("1023 B/s");
    QTest::newRow("1 KB/s") << 1024.0 << QStringLiteral("1.00 KB/s");
    QTest::newRow("5.5 MB/s") << 5.5 * 1048576 << QStringLiteral("5.50 MB/s");
    QTest::newRow("2 GB/s") << 2.0 * 1073741824 << QStringLiteral("2.00 GB/s");
    QTest::newRow("1 TB/s") << 1099511627776.0 << QStringLiteral("1.00 TB/s");
}

void TestTransfer::formatSpeed()
{
    QFETCH(double, rate);
    QFETCH(QString, text);
    QCOMPARE(FormatSpeed(rate), text);
}

void TestTransfer::formatDuration_data()
{
    QTest::addColumn<qint64>("seconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << qint64(0) << QStringLiteral("days:0 hr:0 min:0 sec:0");
    QTest::newRow("59") << qint64(59) << QStringLiteral("days:0 hr:0 min:0 sec:59");
    QTest::newRow("3600") << qint64(3600) << QStringLiteral("days:0 hr:1 min:0 sec:0");
    QTest::newRow("86399") << qint64(86399) << QStringLiteral("days:0 hr:23 min:59 sec:59");
    QTest::newRow("90061") << qint64(90061) << QStringLiteral("days:1 hr:1 min:1 sec:1");
    QTest::newRow("40 days") << qint64(40 * 86400 + 7)
                             << QStringLiteral("days:40 hr:0 min:0 sec:7");
}

void TestTransfer::formatDuration()
{
    QFETCH(qint64, seconds);
    QFETCH(QString, text);
    QCOMPARE(FormatDuration(seconds), text);
}

void TestTransfer::formatTimestamp_data()
{
    QTest::addColumn<qint64>("time");
    QTest::addColumn<QString>("text");
    QTest::newRow("never") << qint64(0) << QStringLiteral("(empty)");
    QTest::newRow("evening") << qint64(1700000000) << QStringLiteral("Tue 11/14/23 10:13:20 PM");
    QTest::newRow("midnight") << qint64(1700006400) << QStringLiteral("Wed 11/15/23 12:00:00 AM");
    QTest::newRow("noon") << qint64(1700049600) << QStringLiteral("Wed 11/15/23 12:00:00 PM");
    QTest::newRow("before 1970") << qint64(-86400) << QStringLiteral("Wed 12/31/69 12:00:00 AM");
}

void TestTransfer::formatTimestamp()
{
    QFETCH(qint64, time);
    QFETCH(QString, text);
    QCOMPARE(FormatTimestamp(time), text);
}

void TestTransfer::crcOfKnownTexts_data()
{
    // Values as zlib's crc32() gives them.
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<uint>("crc");
    QTest::newRow("check value") << QByteArray("123456789") << 0xCBF43926u;
    QTest::newRow("a") << QByteArray("a") << 0xE8B7BE43u;
    QTest::newRow("fox") << QByteArray("The quick brown fox jumps over the lazy dog")
                         << 0x414FA339u;
    QTest::newRow("nothing") << QByteArray() << 0u;
}

void TestTransfer::crcOfKnownTexts()
{
    QFETCH(QByteArray, data);
    QFETCH(uint, crc);
    QCOMPARE(Crc32(data), crc);
    // Continuing a checksum over a split gives the same value.
    const qsizetype half = data.size() / 2;
    QCOMPARE(Crc32(data.sliced(half), Crc32(data.first(half))), crc);
}

void TestTransfer::headCrcOfFiles_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<uint>("crc");
    QTest::newRow("check value") << QByteArray("123456789") << 0xCBF43926u;
    QTest::newRow("empty file") << QByteArray() << 0u;
    QTest::newRow("5000 bytes") << PatternBytes(5000) << 0xC1607408u;
    QTest::newRow("exactly 1 MiB") << PatternBytes(1048576) << 0xEF0E6054u;
    QTest::newRow("1 MiB and more") << PatternBytes(1048576 + 1000) << 0xEF0E6054u;
    QByteArray lastByteChanged = PatternBytes(1048576);
    lastByteChanged[1048575] = char(lastByteChanged[1048575] ^ 1);
    QTest::newRow("last counted byte changed") << lastByteChanged << 0x980950C2u;
}

void TestTransfer::headCrcOfFiles()
{
    QFETCH(QByteArray, content);
    QFETCH(uint, crc);
    const QString path = m_dir.filePath(QStringLiteral("crc.bin"));
    QVERIFY(testsupport::writeAll(path, content));
    QCOMPARE(HeadCrc(path), crc);
}

void TestTransfer::headCrcStopsAfterOneMebibyte()
{
    const QString a = m_dir.filePath(QStringLiteral("a.bin"));
    const QString b = m_dir.filePath(QStringLiteral("b.bin"));
    QByteArray content = PatternBytes(3 * 1048576);
    QVERIFY(testsupport::writeAll(a, content));
    content[1048576] = char(content[1048576] ^ 0x55);
    content[2 * 1048576] = 'x';
    QVERIFY(testsupport::writeAll(b, content));
    QCOMPARE(HeadCrc(a), HeadCrc(b));
    QCOMPARE(HeadCrc(a), 0xEF0E6054u);

    // What cannot be read as a regular file has no checksum, and a pipe
    // never blocks the caller.
    QCOMPARE(HeadCrc(m_dir.filePath(QStringLiteral("missing"))), 0u);
    QCOMPARE(HeadCrc(m_dir.path()), 0u);
    const QString fifo = m_dir.filePath(QStringLiteral("pipe"));
    QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QCOMPARE(HeadCrc(fifo), 0u);
}

void TestTransfer::fileSizes()
{
    const QString file = m_dir.filePath(QStringLiteral("sized.bin"));
    QVERIFY(testsupport::writeAll(file, QByteArray(5, 'x')));
    QCOMPARE(FileSize(file), 5u);
    QCOMPARE(FileSize(m_dir.filePath(QStringLiteral("nothing"))), 0u);
    QCOMPARE(FileSize(m_dir.path()), 0u);
    const QString link = m_dir.filePath(QStringLiteral("link"));
    QVERIFY(QFile::link(file, link));
    QCOMPARE(FileSize(link), 5u);
    const QString fifo = m_dir.filePath(QStringLiteral("sizepipe"));
    QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QCOMPARE(FileSize(fifo), 0u);
    // Sizes beyond 4 GiB keep all their bits.
    const QString sparse = m_dir.filePath(QStringLiteral("sparse.bin"));
    QFile big(sparse);
    QVERIFY(big.open(QIODevice::WriteOnly));
    QVERIFY(big.resize((qint64(5) << 30) + 3));
    big.close();
    QCOMPARE(FileSize(sparse), (quint64(5) << 30) + 3);
}

void TestTransfer::propertiesOfCompletedTransfer()
{
    Transfer t = NewTransfer();
    t.state = TransferState::Completed;
    t.isSend = 1;
    t.bytesDone = 2048;
    t.totalSize = 4096;
    t.queueTime = 1700000000;
    t.startTime = 1700000000;
    t.stopTime = 1700000002;
    t.senderPath = QStringLiteral("/home/u/a.txt");
    t.savedPath = QStringLiteral("C:\\in\\a.txt");
    const QString expected = QStringLiteral("Transfer Status:\t\tCompleted\n"
                                            "Transfered Data:\t2.00 KB of 4.00 KB\n"
                                            "Current Progress:\t50.00%\n"
                                            "Average Speed:\t\t1.00 KB/s\n"
                                            "File or Folder:\t\tFile\n"
                                            "Contact Name:\t\tBob %1\n"
                                            "Senders Path:\t\t/home/u/a.txt\n"
                                            "Saved Path:\t\tC:\\in\\a.txt\n"
                                            "Queue Time:\t\tTue 11/14/23 10:13:20 PM\n"
                                            "Connect Try Time:\t(empty)\n"
                                            "Transfer Started:\tTue 11/14/23 10:13:20 PM\n"
                                            "Transfer Stopped:\tTue 11/14/23 10:13:22 PM\n"
                                            "Transfer Duration:\tdays:0 hr:0 min:0 sec:2\n");
    // A name with a placeholder-like part is taken as it is.
    QCOMPARE(PropertiesText(t, QStringLiteral("Bob %1"), 1800000000), expected);
}

void TestTransfer::propertiesLines_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<bool>("sizeUnknown");
    QTest::addColumn<quint64>("bytesDone");
    QTest::addColumn<quint64>("totalSize");
    QTest::addColumn<int>("startTime");
    QTest::addColumn<int>("stopTime");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("never started")
        << 0 << false << quint64(0) << quint64(1048576) << 0 << 0
        << QStringList{QStringLiteral("Transfer Status:\t\tQueued"),
                       QStringLiteral("Transfered Data:\t1.00 MB"),
                       QStringLiteral("Current Progress:\t0.00%"),
                       QStringLiteral("Average Speed:\t\t0 KB/s"),
                       QStringLiteral("Transfer Started:\t(empty)"),
                       QStringLiteral("Transfer Duration:\t(transfer has not started)")};
    QTest::newRow("walk running, nothing sent")
        << 1 << true << quint64(0) << quint64(0) << 0 << 0
        << QStringList{QStringLiteral("Transfered Data:\tCalculating..."),
                       QStringLiteral("Current Progress:\tCalculating...")};
    QTest::newRow("walk running, some sent")
        << 2 << true << quint64(3072) << quint64(0) << 0 << 0
        << QStringList{QStringLiteral("Transfer Status:\t\tTransfering"),
                       QStringLiteral("Transfered Data:\t3.00 KB of ?")};
    QTest::newRow("empty file") << 3 << false << quint64(0) << quint64(0) << 0 << 0
                                << QStringList{QStringLiteral("Current Progress:\t100.00%")};
    // Still running: the clock runs to now (1000 s after the start).
    QTest::newRow("running") << 2 << false << quint64(2000 * 1024) << quint64(4000 * 1024) << 1000
                             << 0
                             << QStringList{
                                    QStringLiteral("Average Speed:\t\t2.00 KB/s"),
                                    QStringLiteral("Transfer Duration:\tdays:0 hr:0 min:16 sec:40"),
                                    QStringLiteral("Transfer Stopped:\t(empty)")};
    QTest::newRow("stopped in the same second")
        << 4 << false << quint64(5000) << quint64(9000) << 1000 << 1000
        << QStringList{QStringLiteral("Average Speed:\t\t4.88 KB/s"),
                       QStringLiteral("Current Progress:\t55.56%")};
    QTest::newRow("state out of range") << 9 << false << quint64(0) << quint64(0) << 0 << 0
                                        << QStringList{QStringLiteral("Transfer Status:\t\t")};
}

void TestTransfer::propertiesLines()
{
    QFETCH(int, state);
    QFETCH(bool, sizeUnknown);
    QFETCH(quint64, bytesDone);
    QFETCH(quint64, totalSize);
    QFETCH(int, startTime);
    QFETCH(int, stopTime);
    QFETCH(QStringList, lines);
    Transfer t = NewTransfer();
    t.state = static_cast<TransferState>(state);
    t.sizeUnknown = sizeUnknown;
    t.bytesDone = bytesDone;
    t.totalSize = totalSize;
    t.startTime = startTime;
    t.stopTime = stopTime;
    const QStringList text = PropertiesText(t, QString(), 2000).split(u'\n');
    QCOMPARE(text.size(), 14); // thirteen lines and the empty rest after the last
    for (const QString& line : lines)
        QVERIFY2(text.contains(line), qPrintable(line));
}

void TestTransfer::sessionResults_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("state");
    const int failed = int(TransferState::Failed);
    const int manual = int(TransferState::ManualRetry);
    QTest::newRow("0") << 0 << QStringLiteral("Socket Closed") << failed;
    QTest::newRow("1") << 1 << QStringLiteral("Transfer Denied") << manual;
    QTest::newRow("2") << 2 << QStringLiteral("Peer cannot write to file") << manual;
    QTest::newRow("3") << 3 << QStringLiteral("Transmit Error") << failed;
    QTest::newRow("4") << 4 << QStringLiteral("Peer already has the file") << manual;
    QTest::newRow("5 unlisted") << 5 << QStringLiteral("Socket Closed") << failed;
    QTest::newRow("9") << 9 << QStringLiteral("Peer failed renaming file") << manual;
    QTest::newRow("10") << 10 << QStringLiteral("Peer failed creating directory") << manual;
    QTest::newRow("11") << 11 << QStringLiteral("Error Writing") << manual;
    QTest::newRow("12") << 12 << QStringLiteral("Socket Died") << failed;
    QTest::newRow("13") << 13 << QStringLiteral("Transfer Canceled")
                        << int(TransferState::Canceled);
    QTest::newRow("14") << 14 << QStringLiteral("Transfer Complete")
                        << int(TransferState::Completed);
    QTest::newRow("-1 unlisted") << -1 << QStringLiteral("Socket Closed") << failed;
}

void TestTransfer::sessionResults()
{
    QFETCH(int, code);
    QFETCH(QString, text);
    QFETCH(int, state);
    const SessionOutcome outcome = SessionResultOutcome(code);
    QCOMPARE(outcome.statusText, text);
    QCOMPARE(int(outcome.state), state);
}

QTEST_GUILESS_MAIN(TestTransfer)
#include "tst_transfer.moc"

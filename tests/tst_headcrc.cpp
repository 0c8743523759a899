// The table-sliced CRC-32 against the checksum computed bit by bit, and the
// head checksum that hands back the bytes it read.

#include "testsupport.h"

#include "transfers/headcrc.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

namespace {

// CRC-32 by its definition: reflected polynomial 0xEDB88320, one bit at a time.
uint32_t BitwiseCrc(QByteArrayView data, uint32_t crc = 0)
{
    crc = ~crc;
    for (char ch : data) {
        crc ^= static_cast<unsigned char>(ch);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

QByteArray RandomBytes(qsizetype size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char(generator.generate() & 0xFF);
    return bytes;
}

} // namespace

class TestHeadCrc : public QObject
{
    Q_OBJECT

private slots:
    void matchesBitwise_data();
    void matchesBitwise();
    void continuedOverSplits();
    void headHandedBack_data();
    void headHandedBack();
    void headOfWhatIsNoFile();

private:
    QTemporaryDir m_dir;
};

void TestHeadCrc::matchesBitwise_data()
{
    // Every start offset against the 16-byte slices, lengths around them.
    QTest::addColumn<int>("firstLength");
    QTest::addColumn<int>("lastLength");
    QTest::newRow("short, every alignment") << 0 << 70;
    QTest::newRow("block edges") << 4090 << 4100;
    QTest::newRow("a mebibyte and a tail") << 1048576 << 1048579;
}

void TestHeadCrc::matchesBitwise()
{
    QFETCH(int, firstLength);
    QFETCH(int, lastLength);
    const QByteArray data = RandomBytes(lastLength + 16, 7);
    for (int start = 0; start < 16; ++start) {
        for (int length = firstLength; length <= lastLength; ++length) {
            const QByteArrayView view(data.constData() + start, length);
            if (Crc32(view) != BitwiseCrc(view))
                QFAIL(qPrintable(QStringLiteral("start %1 length %2").arg(start).arg(length)));
        }
    }
}

void TestHeadCrc::continuedOverSplits()
{
    // A checksum carried over any split gives the checksum of the whole.
    const QByteArray data = RandomBytes(300, 11);
    const uint32_t whole = BitwiseCrc(data);
    for (qsizetype split = 0; split <= data.size(); ++split)
        QCOMPARE(Crc32(data.sliced(split), Crc32(data.first(split))), whole);
}

void TestHeadCrc::headHandedBack_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("stated"); // the size the caller gives; -1: the file's
    QTest::newRow("empty") << 0 << -1;
    QTest::newRow("one byte") << 1 << -1;
    QTest::newRow("one block and a bit") << 65536 + 3 << -1;
    QTest::newRow("a mebibyte") << 1048576 << -1;
    QTest::newRow("more than a mebibyte") << 1048576 + 5000 << -1;
    QTest::newRow("grew since it was stated") << 70000 << 4096;
    QTest::newRow("shrank since it was stated") << 100 << 4096;
}

void TestHeadCrc::headHandedBack()
{
    QFETCH(int, size);
    QFETCH(int, stated);
    if (stated < 0)
        stated = size;
    const QString path = m_dir.filePath(QStringLiteral("head.bin"));
    const QByteArray content = RandomBytes(size, quint32(size));
    QVERIFY(testsupport::writeAll(path, content));
    const QByteArray expected = content.first(std::min<qsizetype>({size, stated, 1048576}));

    // A buffer that held a longer head before gives only this one back.
    QByteArray head = RandomBytes(1048576, 3);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(HeadCrcOfOpen(file.handle(), stated, head),
             expected.isEmpty() ? 0u : BitwiseCrc(expected));
    QCOMPARE(head, expected);
    if (stated == size)
        QCOMPARE(HeadCrc(path), BitwiseCrc(expected));
}

void TestHeadCrc::headOfWhatIsNoFile()
{
    QByteArray head("left over");
    QCOMPARE(HeadCrcOfOpen(-1, 100, head), 0u);
    QVERIFY(head.isEmpty());
    head = "left over";
    const int folder = ::open(QFile::encodeName(m_dir.path()).constData(), O_RDONLY);
    QVERIFY(folder >= 0);
    QCOMPARE(HeadCrcOfOpen(folder, 100, head), 0u);
    ::close(folder);
    QVERIFY(head.isEmpty());
    QCOMPARE(HeadCrc(m_dir.path()), 0u);
    QCOMPARE(HeadCrc(m_dir.filePath(QStringLiteral("missing"))), 0u);
}

QTEST_GUILESS_MAIN(TestHeadCrc)
#include "tst_headcrc.moc"

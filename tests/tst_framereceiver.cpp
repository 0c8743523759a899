#include "transport/connectionhello.h"
#include "transport/framereceiver.h"

#include "testsupport.h"

#include <QRandomGenerator>
#include <QTest>

using testsupport::hex;

namespace {

struct Frame
{
    quint8 type;
    QByteArray body;
    bool operator==(const Frame&) const = default;
};

// How the stream is cut before it is fed: 0 = whole, n > 0 = pieces of n,
// -1 = random piece sizes.
QList<QByteArray> split(const QByteArray& stream, int piece)
{
    QList<QByteArray> pieces;
    QRandomGenerator random(42);
    for (qsizetype at = 0; at < stream.size();) {
        qsizetype n = piece == 0 ? stream.size() : piece;
        if (piece < 0)
            n = random.bounded(1, 12);
        pieces.append(stream.mid(at, n));
        at += n;
    }
    return pieces;
}

// Feeds every piece completely, collecting frames; false on error.
bool feedAll(FrameReceiver& receiver, const QList<QByteArray>& pieces, QList<Frame>& frames)
{
    for (const QByteArray& piece : pieces) {
        qsizetype at = 0;
        while (at < piece.size()) {
            const auto result = receiver.feed(piece.constData() + at, piece.size() - at);
            at += result.consumed;
            if (result.status == FrameReceiver::Status::Error)
                return false;
            if (result.status == FrameReceiver::Status::Frame)
                frames.append({receiver.frameType(), receiver.takeBody()});
            else if (at != piece.size())
                return false; // NeedMore must have taken everything
        }
    }
    return true;
}

} // namespace

class tst_FrameReceiver : public QObject
{
    Q_OBJECT

private slots:
    void framesFromAnySplit_data();
    void framesFromAnySplit();
    void stopsRightAfterEachFrame();
    void lengthLimit_data();
    void lengthLimit();
    void announcedLengthIsNotAllocatedUpFront();
    void hello_data();
    void hello();
    void helloEncoding();
};

void tst_FrameReceiver::framesFromAnySplit_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QList<Frame>>("expected");

    QTest::newRow("one frame") << hex("07 06 00 00 00 61 62 63 64 65 66")
                               << QList<Frame>{{7, "abcdef"}};
    QTest::newRow("keep-alive bytes around and between")
        << hex("00 00 01 05 00 00 00 41 42 43 44 45 00 00 00 02 05 00 00 00 31 32 33 34 35 00")
        << QList<Frame>{{1, "ABCDE"}, {2, "12345"}};
    QTest::newRow("unknown types are read whole")
        << hex("FF 07 00 00 00 01 02 03 04 05 06 07 C8 05 00 00 00 00 00 00 00 00")
        << QList<Frame>{{255, hex("01 02 03 04 05 06 07")}, {200, hex("00 00 00 00 00")}};
    QTest::newRow("length 0 waits for a length")
        << hex("03 00 00 00 00 00 00 00 00 05 00 00 00 68 65 6C 6C 6F")
        << QList<Frame>{{3, "hello"}};
    QTest::newRow("sealed payloads of 4 bytes or fewer are dropped")
        << hex("01 04 00 00 00 AA BB CC DD"
               "02 01 00 00 00 EE"
               "03 05 00 00 00 01 02 03 04 05"
               "04 03 00 00 00 01 02 03")
        << QList<Frame>{{3, hex("01 02 03 04 05")}};
    QTest::newRow("length bytes in little-endian order")
        << hex("09 06 01 00 00") + QByteArray(0x106, 'z') + hex("0A 05 00 00 00 71 71 71 71 71")
        << QList<Frame>{{9, QByteArray(0x106, 'z')}, {10, "qqqqq"}};
    QTest::newRow("nothing but keep-alive") << hex("00 00 00 00") << QList<Frame>{};
}

void tst_FrameReceiver::framesFromAnySplit()
{
    QFETCH(QByteArray, stream);
    QFETCH(QList<Frame>, expected);

    for (int piece : {0, 1, 2, 3, 5, 7, -1}) {
        FrameReceiver receiver;
        QList<Frame> frames;
        QVERIFY2(feedAll(receiver, split(stream, piece), frames),
                 qPrintable(QStringLiteral("piece %1").arg(piece)));
        QVERIFY2(frames == expected, qPrintable(QStringLiteral("piece %1").arg(piece)));
        QVERIFY(receiver.isBetweenFrames());
        QVERIFY(!receiver.hasFailed());
    }
}

void tst_FrameReceiver::stopsRightAfterEachFrame()
{
    // What follows a frame may be raw data; the receiver must not take it.
    const QByteArray stream = hex("05 05 00 00 00 01 02 03 04 05 DE AD BE EF");
    FrameReceiver receiver;
    const auto result = receiver.feed(stream.constData(), stream.size());
    QCOMPARE(result.status, FrameReceiver::Status::Frame);
    QCOMPARE(result.consumed, 10);
    QCOMPARE(receiver.frameType(), quint8(5));
    QCOMPARE(receiver.takeBody(), hex("01 02 03 04 05"));
    QVERIFY(receiver.isBetweenFrames());

    // Keep-alive bytes before the frame are consumed with it, none after.
    const QByteArray second = hex("00 00 06 05 00 00 00 01 02 03 04 05 00");
    FrameReceiver other;
    const auto r2 = other.feed(second.constData(), second.size());
    QCOMPARE(r2.status, FrameReceiver::Status::Frame);
    QCOMPARE(r2.consumed, 12);
}

void tst_FrameReceiver::lengthLimit_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("64 MiB") << hex("01 00 00 00 04") << true;
    QTest::newRow("64 MiB + 1") << hex("01 01 00 00 04") << false;
    QTest::newRow("4 GiB - 1") << hex("01 FF FF FF FF") << false;
    QTest::newRow("after a zero length") << hex("01 00 00 00 00 00 00 00 80") << false;
}

void tst_FrameReceiver::lengthLimit()
{
    QFETCH(QByteArray, header);
    QFETCH(bool, accepted);

    const QByteArray stream = header + QByteArray(16, 'x');
    FrameReceiver receiver;
    const auto result = receiver.feed(stream.constData(), stream.size());
    if (accepted) {
        QCOMPARE(result.status, FrameReceiver::Status::NeedMore);
        QCOMPARE(result.consumed, stream.size());
        QVERIFY(!receiver.hasFailed());
        return;
    }
    QCOMPARE(result.status, FrameReceiver::Status::Error);
    QCOMPARE(result.consumed, header.size()); // up to the offending length
    QVERIFY(receiver.hasFailed());
    QVERIFY(receiver.rejectedLength() > FrameReceiver::MaxFrameLength);
    // An unusable stream stays unusable.
    const QByteArray good = hex("01 05 00 00 00 01 02 03 04 05");
    QCOMPARE(receiver.feed(good.constData(), good.size()).status, FrameReceiver::Status::Error);
}

void tst_FrameReceiver::announcedLengthIsNotAllocatedUpFront()
{
    FrameReceiver receiver;
    const QByteArray header = hex("01 00 00 00 04 61 62 63 64 65");
    QCOMPARE(receiver.feed(header.constData(), header.size()).status,
             FrameReceiver::Status::NeedMore);
    QVERIFY(receiver.bodyCapacity() <= FrameReceiver::InitialReserve);

    // The body still arrives whole, however large.
    const qsizetype total = FrameReceiver::MaxFrameLength;
    const QByteArray chunk(1024 * 1024 - 5, 'q');
    qsizetype sent = 5;
    FrameReceiver::Result last{FrameReceiver::Status::NeedMore, 0};
    while (sent < total) {
        const qsizetype n = std::min<qsizetype>(chunk.size(), total - sent);
        last = receiver.feed(chunk.constData(), n);
        QCOMPARE(last.consumed, n);
        sent += n;
        if (sent < total)
            QVERIFY(receiver.bodyCapacity() <= std::max<qsizetype>(2 * sent, 1024 * 1024));
    }
    QCOMPARE(last.status, FrameReceiver::Status::Frame);
    const QByteArray body = receiver.takeBody();
    QCOMPARE(body.size(), total);
    QCOMPARE(body.left(5), QByteArrayLiteral("abcde"));
    QCOMPARE(body.at(total - 1), 'q');
}

void tst_FrameReceiver::hello_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QList<int>>("pieces");
    QTest::addColumn<int>("status"); // HelloReader::Status
    QTest::addColumn<int>("consumed");
    QTest::addColumn<int>("kind");

    const QByteArray chat = hex("5A 4C 4B 36 30 30 30 1B 00 00");
    const int valid = int(HelloReader::Status::Valid);
    const int invalid = int(HelloReader::Status::Invalid);
    const int needMore = int(HelloReader::Status::NeedMore);

    QTest::newRow("chat") << chat << QList<int>{10} << valid << 10 << 0;
    QTest::newRow("file") << hex("5A 4C 4B 36 30 30 30 1B 00 01") << QList<int>{10} << valid << 10
                          << 1;
    QTest::newRow("browse in 3 pieces")
        << hex("5A 4C 4B 36 30 30 30 1B 00 02") << QList<int>{4, 3, 3} << valid << 10 << 2;
    QTest::newRow("one byte at a time")
        << chat << QList<int>{1, 1, 1, 1, 1, 1, 1, 1, 1, 1} << valid << 10 << 0;
    QTest::newRow("session bytes behind it stay")
        << chat + "more" << QList<int>{14} << valid << 10 << 0;
    QTest::newRow("kind 3") << hex("5A 4C 4B 36 30 30 30 1B 00 03") << QList<int>{10} << invalid
                            << 10 << 3;
    QTest::newRow("kind 255") << hex("5A 4C 4B 36 30 30 30 1B 00 FF") << QList<int>{10} << invalid
                              << 10 << 255;
    QTest::newRow("0x1C at offset 7")
        << hex("5A 4C 4B 36 30 30 30 1C 00 00") << QList<int>{10} << invalid << 8 << 0;
    QTest::newRow("other version")
        << hex("5A 4C 4B 35 30 30 30 1B 00 00") << QList<int>{10} << invalid << 4 << 0;
    QTest::newRow("non-zero at offset 8")
        << hex("5A 4C 4B 36 30 30 30 1B 01 00") << QList<int>{10} << invalid << 9 << 0;
    QTest::newRow("lower case") << QByteArray("zlk6000\x1B\x00\x00", 10) << QList<int>{10}
                                << invalid << 1 << 0;
    QTest::newRow("short") << chat.left(9) << QList<int>{9} << needMore << 9 << 0;
}

void tst_FrameReceiver::hello()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QList<int>, pieces);
    QFETCH(int, status);
    QFETCH(int, consumed);
    QFETCH(int, kind);

    HelloReader reader;
    qsizetype at = 0;
    qsizetype used = 0;
    for (int n : pieces) {
        used += reader.feed(bytes.constData() + at, n);
        at += n;
    }
    QCOMPARE(int(reader.status()), status);
    QCOMPARE(used, consumed);
    if (reader.status() == HelloReader::Status::Valid) {
        QCOMPARE(int(reader.kind()), kind);
        QCOMPARE(reader.missing(), 0);
    }
    if (reader.status() == HelloReader::Status::NeedMore)
        QCOMPARE(reader.missing(), ConnectionHello::Size - consumed);
}

void tst_FrameReceiver::helloEncoding()
{
    QCOMPARE(ConnectionHello::encodeHello(ConnectionHello::Chat),
             hex("5A 4C 4B 36 30 30 30 1B 00 00"));
    QCOMPARE(ConnectionHello::encodeHello(ConnectionHello::Browse),
             hex("5A 4C 4B 36 30 30 30 1B 00 02"));
}

QTEST_GUILESS_MAIN(tst_FrameReceiver)
#include "tst_framereceiver.moc"

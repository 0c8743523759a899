#include "profile/binaryio.h"
#include "testsupport.h"

#include <QTest>

using testsupport::hex;

using ByteList = QList<QByteArray>;

class TestProfileBinaryIo : public QObject
{
    Q_OBJECT

private slots:
    void writeBlocks_data();
    void writeBlocks();
    void readCountedString_data();
    void readCountedString();
    void readStringList_data();
    void readStringList();
    void readStringListAppends();
    void shortWordsKeepPresets();
    void failureStopsReading();
    void partialBlock();
    void rectangles();
};

void TestProfileBinaryIo::writeBlocks_data()
{
    QTest::addColumn<QByteArray>("written");
    QTest::addColumn<QByteArray>("expected");

    auto counted = [](const QByteArray& s) {
        QByteArray out;
        AppendCountedString(out, s);
        return out;
    };
    auto list = [](const ByteList& l) {
        QByteArray out;
        AppendStringList(out, l);
        return out;
    };
    QTest::newRow("version word") << [] {
        QByteArray out;
        AppendUInt32(out, FORMAT_VERSION);
        return out;
    }() << hex("70 17 00 00");
    QTest::newRow("negative word") << [] {
        QByteArray out;
        AppendInt32(out, -2);
        return out;
    }() << hex("fe ff ff ff");
    QTest::newRow("counted empty") << counted(QByteArray()) << hex("01 00 00 00 00");
    QTest::newRow("counted text") << counted("ab") << hex("03 00 00 00 61 62 00");
    QTest::newRow("list a, bc") << list({"a", "bc"}) << hex("05 00 00 00 61 00 62 63 00");
    QTest::newRow("list empty") << list({}) << hex("00 00 00 00");
    QTest::newRow("list with empty string") << list({""}) << hex("01 00 00 00 00");
    QTest::newRow("rect") << [] {
        QByteArray out;
        AppendRect(out, {1, -1, 256, 0x01020304});
        return out;
    }() << hex("01000000 ffffffff 00010000 04030201");
}

void TestProfileBinaryIo::writeBlocks()
{
    QFETCH(QByteArray, written);
    QFETCH(QByteArray, expected);
    QCOMPARE(written.toHex(' '), expected.toHex(' '));
}

void TestProfileBinaryIo::readCountedString_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("failed");
    QTest::addColumn<bool>("reachedEnd");
    QTest::addColumn<qsizetype>("position");

    QTest::newRow("text") << hex("03 00 00 00 61 62 00") << QByteArray("ab") << false << false
                          << qsizetype(7);
    QTest::newRow("length 0") << hex("00 00 00 00 61") << QByteArray() << false << false
                              << qsizetype(4);
    QTest::newRow("no zero") << hex("02 00 00 00 61 62") << QByteArray("ab") << false << false
                             << qsizetype(6);
    QTest::newRow("zero inside") << hex("04 00 00 00 61 00 62 00") << QByteArray("a") << false
                                 << false << qsizetype(8);
    QTest::newRow("ends early") << hex("08 00 00 00 61 62") << QByteArray("ab") << false << true
                                << qsizetype(6);
    QTest::newRow("no length word")
        << hex("08 00") << QByteArray("preset") << false << true << qsizetype(2);
    QTest::newRow("at bound") << hex("ff ff 00 00") + QByteArray(65535, 'x') + "tail"
                              << QByteArray(65535, 'x') << false << false << qsizetype(65539);
    QTest::newRow("over bound") << hex("00 00 01 00") + QByteArray(65536, 'x')
                                << QByteArray("preset") << true << false << qsizetype(4);
    QTest::newRow("huge length") << hex("ff ff ff ff 61") << QByteArray("preset") << true << false
                                 << qsizetype(4);
}

void TestProfileBinaryIo::readCountedString()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, text);
    QFETCH(bool, failed);
    QFETCH(bool, reachedEnd);
    QFETCH(qsizetype, position);

    BinaryReader r(bytes);
    QByteArray got("preset");
    r.readCountedString(got);
    QCOMPARE(got, text);
    QCOMPARE(r.failed(), failed);
    QCOMPARE(r.reachedEnd(), reachedEnd);
    QCOMPARE(r.position(), position);
}

void TestProfileBinaryIo::readStringList_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<uint>("bound");
    QTest::addColumn<ByteList>("strings");
    QTest::addColumn<bool>("failed");

    QTest::newRow("a, bc") << hex("05 00 00 00 61 00 62 63 00") << uint(MaxStringListBytes)
                           << ByteList{"a", "bc"} << false;
    QTest::newRow("empty") << hex("00 00 00 00") << uint(MaxStringListBytes) << ByteList{} << false;
    QTest::newRow("final piece without zero")
        << hex("04 00 00 00 61 00 62 63") << uint(MaxStringListBytes) << ByteList{"a", "bc"}
        << false;
    QTest::newRow("empty piece kept")
        << hex("03 00 00 00 61 00 00") << uint(MaxStringListBytes) << ByteList{"a", ""} << false;
    QTest::newRow("ends early") << hex("09 00 00 00 61 00 62") << uint(MaxStringListBytes)
                                << ByteList{"a", "b"} << false;
    QTest::newRow("over default bound")
        << hex("01 00 50 00 61") << uint(MaxStringListBytes) << ByteList{} << true;
    QTest::newRow("at default bound")
        << hex("00 00 50 00") + QByteArray(5242880, 'p') << uint(MaxStringListBytes)
        << ByteList{QByteArray(5242880, 'p')} << false;
    QTest::newRow("caller's larger bound")
        << hex("01 00 50 00 61") << uint(104857600) << ByteList{"a"} << false;
}

void TestProfileBinaryIo::readStringList()
{
    QFETCH(QByteArray, bytes);
    QFETCH(uint, bound);
    QFETCH(ByteList, strings);
    QFETCH(bool, failed);

    BinaryReader r(bytes);
    ByteList got;
    r.readStringList(got, bound);
    QCOMPARE(got, strings);
    QCOMPARE(r.failed(), failed);
}

void TestProfileBinaryIo::readStringListAppends()
{
    BinaryReader r(hex("02 00 00 00 62 00"));
    ByteList got{"a"};
    QVERIFY(r.readStringList(got));
    QCOMPARE(got, (ByteList{"a", "b"}));
}

void TestProfileBinaryIo::shortWordsKeepPresets()
{
    BinaryReader r(hex("70 17 00 00 03 00"));
    uint32_t version = 0;
    uint32_t count = 42;
    int32_t more = -5;
    QVERIFY(r.readUInt32(version));
    QCOMPARE(version, FORMAT_VERSION);
    QVERIFY(!r.reachedEnd());
    QVERIFY(!r.readUInt32(count));
    QCOMPARE(count, 42u);
    QVERIFY(!r.readInt32(more));
    QCOMPARE(more, -5);
    QVERIFY(r.reachedEnd());
    QVERIFY(!r.failed());
}

void TestProfileBinaryIo::failureStopsReading()
{
    BinaryReader r(hex("ff ff 01 00 07 00 00 00"));
    QByteArray text("keep");
    QVERIFY(!r.readCountedString(text));
    QVERIFY(r.failed());
    uint32_t word = 9;
    QVERIFY(!r.readUInt32(word));
    QCOMPARE(word, 9u);
    QCOMPARE(text, QByteArray("keep"));
}

void TestProfileBinaryIo::partialBlock()
{
    BinaryReader r(hex("01 02 03"));
    QByteArray block = hex("aa bb cc dd ee");
    QVERIFY(!r.readBlock(block.data(), block.size()));
    QCOMPARE(block, hex("01 02 03 dd ee"));
    QVERIFY(r.reachedEnd());
}

void TestProfileBinaryIo::rectangles()
{
    BinaryReader r(hex("0a000000 14000000 1e000000 28000000 05000000"));
    StoredRect rect;
    QVERIFY(r.readRect(rect));
    QCOMPARE(rect, (StoredRect{10, 20, 30, 40}));
    QCOMPARE(rect.toQRect(), QRect(10, 20, 20, 20));
    QCOMPARE(StoredRect::fromQRect(QRect(10, 20, 20, 20)), rect);

    // A rectangle cut by the end keeps the words it does not reach.
    StoredRect partial{1, 2, 3, 4};
    QVERIFY(!r.readRect(partial));
    QCOMPARE(partial, (StoredRect{5, 2, 3, 4}));

    // Extreme corners from a damaged file give a clamped size, not an overflow.
    const StoredRect wide{INT32_MIN, 0, INT32_MAX, 1};
    QCOMPARE(wide.toQRect().width(), INT32_MAX);
}

QTEST_GUILESS_MAIN(TestProfileBinaryIo)
#include "tst_profilebinaryio.moc"

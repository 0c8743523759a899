#include "testsupport.h"
#include "transport/cipherfast.h"
#include "transport/packetcipher.h"

#include <QRandomGenerator>
#include <QTest>
#include <QtEndian>

#include <vector>

using testsupport::hex;

namespace {

// The clock value is halved into the seed, so 2 gives seed 1.
uint32_t clockForSeedOne()
{
    return 2;
}

const char DefaultKey[] = "QRT482LMN";

QByteArray randomBytes(QRandomGenerator& random, qsizetype n)
{
    QByteArray bytes(n, Qt::Uninitialized);
    for (char& b : bytes)
        b = static_cast<char>(random.bounded(256));
    return bytes;
}

uint8_t* bytesOf(QByteArray& bytes)
{
    return reinterpret_cast<uint8_t*>(bytes.data());
}

// Sealing done step by step with the plain loops.
QByteArray referenceSeal(uint32_t seed, const QByteArray& key, const QByteArray& payload)
{
    QByteArray sealed(4, '\0');
    qToLittleEndian<uint32_t>(seed, sealed.data());
    sealed += payload;
    uint32_t generator = seed;
    PacketCipher::XorStreamReference(generator, bytesOf(sealed) + 4, size_t(payload.size()));
    PacketCipher::XorKeyReference(reinterpret_cast<const uint8_t*>(key.constData()),
                                  size_t(key.size()), bytesOf(sealed), size_t(sealed.size()));
    return sealed;
}

} // namespace

class TestPacketCipher : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        PacketCipher::SetClockSourceForTest(nullptr);
        PacketCipher::SetVectorPathForTest(nullptr);
    }

    void generatorFromSeedOne()
    {
        PacketCipher cipher;
        cipher.Seed(1);
        QList<uint32_t> outputs;
        for (int i = 0; i < 5; ++i)
            outputs.append(cipher.NextRandom());
        QCOMPARE(outputs, (QList<uint32_t>{41, 18467, 6334, 26500, 19169}));
    }

    void sealKnownBytes_data()
    {
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QByteArray>("sealed");
        // Stream bytes for seed 1: 29 23 BE 84 E1; key bytes are XORed with 0x30.
        QTest::newRow("three-char key, zero payload")
            << QByteArrayLiteral("abc") << QByteArray(5, '\0') << hex("50 52 53 51 7B 70 EF D6 B2");
        QTest::newRow("one-char key") << QByteArrayLiteral("A") << QByteArrayLiteral("HELLO")
                                      << hex("70 71 71 71 10 17 83 B9 DF");
        QTest::newRow("empty payload is the keyed seed")
            << QByteArray(DefaultKey) << QByteArray() << hex("60 62 64 04");
        QTest::newRow("key restarts at the seed")
            << QByteArray(DefaultKey) << QByteArrayLiteral("Hi there")
            << hex("60 62 64 04 69 48 E2 8D F7 68 C6 AF");
    }

    void sealKnownBytes()
    {
        QFETCH(QByteArray, key);
        QFETCH(QByteArray, payload);
        QFETCH(QByteArray, sealed);
        PacketCipher::SetClockSourceForTest(&clockForSeedOne);
        PacketCipher cipher;
        cipher.SetKey(key);
        QByteArray buffer = payload;
        QVERIFY(cipher.Seal(buffer));
        QCOMPARE(buffer, sealed);
        QCOMPARE(cipher.CurrentSeed(), 1u);
    }

    void roundTrip_data()
    {
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<int>("size");
        QTest::newRow("default key, 1 byte") << QByteArray(DefaultKey) << 1;
        QTest::newRow("default key, 4 KiB chunk") << QByteArray(DefaultKey) << 4096;
        QTest::newRow("one-char key") << QByteArrayLiteral("z") << 333;
        QTest::newRow("259-char key") << QByteArray(259, 'k') << 70001;
        QTest::newRow("binary key bytes") << hex("FF 80 01 7F 30 31 C3 A9 0A") << 1000;
    }

    void roundTrip()
    {
        QFETCH(QByteArray, key);
        QFETCH(int, size);
        QRandomGenerator random(size);
        const QByteArray payload = randomBytes(random, size);
        PacketCipher sender;
        PacketCipher receiver;
        sender.SetKey(key);
        receiver.SetKey(key);
        QByteArray buffer = payload;
        QVERIFY(sender.Seal(buffer));
        QCOMPARE(buffer.size(), size + 4);
        QVERIFY(buffer.mid(4) != payload);
        QVERIFY(receiver.Open(buffer));
        QCOMPARE(buffer, payload);
        QCOMPARE(receiver.CurrentSeed(), sender.CurrentSeed());
    }

    void longKeyIsCut()
    {
        QRandomGenerator random(300);
        const QByteArray longKey = randomBytes(random, 300).replace('\0', 'x');
        PacketCipher cipher;
        cipher.SetKey(longKey);
        QCOMPARE(cipher.Key(), longKey.left(259));
        cipher.SetKey(longKey.constData());
        QCOMPARE(cipher.Key(), longKey.left(259));

        // The cut key is the whole key: a peer holding only the first 259
        // bytes reads the frames, one holding 258 does not.
        PacketCipher cut;
        cut.SetKey(longKey.left(259));
        PacketCipher shorter;
        shorter.SetKey(longKey.left(258));
        const QByteArray payload(300, 'p');
        QByteArray frame = payload;
        QVERIFY(cipher.Seal(frame));
        QByteArray copy = frame;
        QVERIFY(cut.Open(frame));
        QCOMPARE(frame, payload);
        QVERIFY(shorter.Open(copy));
        QVERIFY(copy != payload);
    }

    void wrongKeyGivesGarbage()
    {
        PacketCipher sender;
        PacketCipher receiver;
        sender.SetKey(DefaultKey);
        receiver.SetKey("XRT482LMN");
        const QByteArray payload(64, 'a');
        QByteArray buffer = payload;
        QVERIFY(sender.Seal(buffer));
        QVERIFY(receiver.Open(buffer));
        QCOMPARE(buffer.size(), payload.size());
        QVERIFY(buffer != payload);
        QVERIFY(receiver.CurrentSeed() != sender.CurrentSeed());
    }

    void openTooShort_data()
    {
        QTest::addColumn<QByteArray>("sealed");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("1 byte") << hex("60");
        QTest::newRow("seed only") << hex("60 62 64 04");
    }

    void openTooShort()
    {
        QFETCH(QByteArray, sealed);
        PacketCipher cipher;
        cipher.SetKey(DefaultKey);
        cipher.Seed(77);
        QByteArray buffer = sealed;
        QVERIFY(!cipher.Open(buffer));
        QCOMPARE(buffer, sealed);
        QCOMPARE(cipher.CurrentSeed(), 77u);
    }

    void emptyKeyRefusesFrames()
    {
        PacketCipher cipher;
        cipher.SetKey("");
        QVERIFY(!cipher.HasKey());
        QVERIFY(cipher.CurrentSeed() != 0); // keying takes a seed even when empty
        QByteArray buffer = QByteArrayLiteral("payload");
        QVERIFY(!cipher.Seal(buffer));
        QCOMPARE(buffer, QByteArrayLiteral("payload"));
        QVERIFY(!cipher.Open(buffer));
        QCOMPARE(buffer, QByteArrayLiteral("payload"));
        cipher.XorKey(bytesOf(buffer), size_t(buffer.size()));
        QCOMPARE(buffer, QByteArrayLiteral("payload"));

        PacketCipher unkeyed;
        QVERIFY(!unkeyed.Seal(buffer));
        QCOMPARE(buffer, QByteArrayLiteral("payload"));
    }

    void vectorPathSelection()
    {
        const QByteArrayList paths = PacketCipher::SupportedVectorPaths();
        QVERIFY(!paths.isEmpty());
        QCOMPARE(paths.last(), QByteArrayLiteral("portable"));
        QCOMPARE(QByteArray(PacketCipher::VectorPath()), paths.first());
        QVERIFY(PacketCipher::SetVectorPathForTest("portable"));
        QCOMPARE(QByteArray(PacketCipher::VectorPath()), QByteArrayLiteral("portable"));
        QVERIFY(!PacketCipher::SetVectorPathForTest("sse9"));
        QCOMPARE(QByteArray(PacketCipher::VectorPath()), QByteArrayLiteral("portable"));
        QVERIFY(PacketCipher::SetVectorPathForTest(nullptr));
        QCOMPARE(QByteArray(PacketCipher::VectorPath()), paths.first());
    }

    // Every wide loop must give the plain loop's bytes, for any generator
    // state, length and start address, and leave the same generator state.
    void streamMatchesReference_data()
    {
        QTest::addColumn<QByteArray>("path");
        for (const QByteArray& path : PacketCipher::SupportedVectorPaths())
            QTest::newRow(path.constData()) << path;
    }

    void streamMatchesReference()
    {
        QFETCH(QByteArray, path);
        QVERIFY(PacketCipher::SetVectorPathForTest(path.constData()));
        QRandomGenerator random(42);
        const QByteArray data = randomBytes(random, 9000);
        std::vector<int> lengths;
        for (int n = 0; n <= 300; ++n)
            lengths.push_back(n);
        for (int n : {511, 512, 513, 1023, 4095, 4096, 4097, 8191})
            lengths.push_back(n);
        for (int n : lengths) {
            const int offset = random.bounded(64);
            const uint32_t seed = random.generate();
            QByteArray fast = data.left(offset + n);
            QByteArray plain = fast;
            uint32_t fastGenerator = seed;
            uint32_t plainGenerator = seed;
            cipherfast::xorStream(fastGenerator, bytesOf(fast) + offset, size_t(n));
            PacketCipher::XorStreamReference(plainGenerator, bytesOf(plain) + offset, size_t(n));
            if (fast != plain || fastGenerator != plainGenerator)
                QFAIL(qPrintable(QStringLiteral("length %1 offset %2 seed %3 differs")
                                     .arg(n)
                                     .arg(offset)
                                     .arg(seed)));
        }
    }

    void chunkedStreamEqualsOneCall_data() { streamMatchesReference_data(); }

    void chunkedStreamEqualsOneCall()
    {
        QFETCH(QByteArray, path);
        QVERIFY(PacketCipher::SetVectorPathForTest(path.constData()));
        QRandomGenerator random(7);
        const QByteArray data = randomBytes(random, 50000);
        for (int round = 0; round < 20; ++round) {
            const uint32_t seed = random.generate();
            QByteArray whole = data;
            uint32_t generator = seed;
            PacketCipher::XorStreamReference(generator, bytesOf(whole), size_t(whole.size()));

            PacketCipher cipher;
            cipher.Seed(seed);
            QByteArray pieces = data;
            qsizetype done = 0;
            while (done < pieces.size()) {
                const qsizetype limit = random.bounded(3) == 0 ? 5000 : 200;
                const qsizetype n = qMin(pieces.size() - done, random.bounded(limit + 1));
                cipher.XorStream(bytesOf(pieces) + done, size_t(n));
                done += n;
            }
            QCOMPARE(pieces, whole);
            // The generator went on across the chunks exactly as one call.
            QCOMPARE(cipher.NextRandom(), ((generator * 214013u + 2531011u) >> 16) & 0x7FFFu);
        }
    }

    void keyLayerMatchesReference_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<int>("keyLength");
        for (const QByteArray& path : PacketCipher::SupportedVectorPaths()) {
            for (int length : {1, 2, 9, 63, 64, 65, 127, 128, 129, 255, 256, 257, 259}) {
                QTest::addRow("%s, key %d", path.constData(), length) << path << length;
            }
        }
    }

    void keyLayerMatchesReference()
    {
        QFETCH(QByteArray, path);
        QFETCH(int, keyLength);
        QVERIFY(PacketCipher::SetVectorPathForTest(path.constData()));
        QRandomGenerator random(keyLength);
        QByteArray key = randomBytes(random, keyLength);
        key.replace('\0', '0');
        PacketCipher cipher;
        cipher.SetKey(key);
        const QByteArray data = randomBytes(random, 3100);
        for (int n : {0, 1, 7, 63, 64, 65, 255, 256, 257, 300, 1000, 2999}) {
            const int offset = random.bounded(64);
            QByteArray fast = data.left(offset + n);
            QByteArray plain = fast;
            cipher.XorKey(bytesOf(fast) + offset, size_t(n));
            PacketCipher::XorKeyReference(reinterpret_cast<const uint8_t*>(key.constData()),
                                          size_t(keyLength), bytesOf(plain) + offset, size_t(n));
            QVERIFY2(fast == plain, qPrintable(QStringLiteral("length %1").arg(n)));
        }
    }

    void sealMatchesReference_data() { streamMatchesReference_data(); }

    void sealMatchesReference()
    {
        QFETCH(QByteArray, path);
        QVERIFY(PacketCipher::SetVectorPathForTest(path.constData()));
        PacketCipher::SetClockSourceForTest(&clockForSeedOne);
        QRandomGenerator random(99);
        PacketCipher cipher;
        cipher.SetKey(DefaultKey);
        for (int n : {5, 100, 4096, 65536 + 17}) {
            const QByteArray payload = randomBytes(random, n);
            QByteArray buffer = payload;
            QVERIFY(cipher.Seal(buffer));
            QCOMPARE(buffer, referenceSeal(1, DefaultKey, payload));
        }
    }

    void streamModeRestores()
    {
        PacketCipher sender;
        PacketCipher receiver;
        sender.SetKey(DefaultKey);
        receiver.SetKey(DefaultKey);
        QByteArray frame = QByteArrayLiteral("resume at 0");
        QVERIFY(sender.Seal(frame));
        QVERIFY(receiver.Open(frame));
        sender.Seed(sender.CurrentSeed());
        receiver.Seed(receiver.CurrentSeed());

        QRandomGenerator random(5);
        const QByteArray file = randomBytes(random, 3 * 4096 + 123);
        QByteArray wire = file;
        // The sender scrambles in 4096-byte chunks, the receiver unscrambles
        // whatever pieces arrive.
        for (qsizetype at = 0; at < wire.size(); at += 4096)
            sender.XorStream(bytesOf(wire) + at, size_t(qMin<qsizetype>(4096, wire.size() - at)));
        QVERIFY(wire != file);
        for (qsizetype at = 0, n = 0; at < wire.size(); at += n) {
            n = qMin<qsizetype>(1 + random.bounded(1500), wire.size() - at);
            receiver.XorStream(bytesOf(wire) + at, size_t(n));
        }
        QCOMPARE(wire, file);
    }
};

QTEST_GUILESS_MAIN(TestPacketCipher)
#include "tst_packetcipher.moc"

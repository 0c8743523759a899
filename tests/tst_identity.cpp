#include "records/contact.h"
#include "records/identity.h"
#include "testsupport.h"

#include <QSet>
#include <QTest>

#include <cstring>

namespace {

void put(QByteArray& image, int offset, const char* text)
{
    memcpy(image.data() + offset, text, strlen(text));
}

void putWord(QByteArray& image, int offset, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        image[offset + i] = char((v >> (8 * i)) & 0xFF);
}

// A peer's identity image laid out by hand.
QByteArray peerImage()
{
    QByteArray image(1600, '\0');
    putWord(image, 0, 2);
    putWord(image, 4, 8411);
    put(image, 8, "uid-Peer");
    put(image, 38, "Peer Name");
    put(image, 298, "10.0.0.7");
    put(image, 558, "peer.example");
    put(image, 818, "secret");
    put(image, 1078, "KEY123456");
    put(image, 1338, "back soon");
    return image;
}

} // namespace

class TestIdentity : public QObject
{
    Q_OBJECT

private slots:
    void identityImage();
    void identityShortImageKeepsTail();
    void fixedTextCut_data();
    void fixedTextCut();
    void contactImage();
    void contactShortImage();
    void defaults();
    void copyIdentityKeepsLocalFields();
    void copyContactLists();
    void statusText_data();
    void statusText();
    void displayName();
    void uidsCompareExactly();
    void base36_data();
    void base36();
    void makeUid();
};

void TestIdentity::identityImage()
{
    Identity id;
    id.decode(peerImage());
    QCOMPARE(id.status, 2);
    QCOMPARE(id.port, 8411);
    QCOMPARE(id.uid.bytes(), QByteArray("uid-Peer"));
    QCOMPARE(id.name.bytes(), QByteArray("Peer Name"));
    QCOMPARE(id.ip.bytes(), QByteArray("10.0.0.7"));
    QCOMPARE(id.dns.bytes(), QByteArray("peer.example"));
    QCOMPARE(id.password.bytes(), QByteArray("secret"));
    QCOMPARE(id.key.bytes(), QByteArray("KEY123456"));
    QCOMPARE(id.awayMessage.bytes(), QByteArray("back soon"));
    QCOMPARE(id.encode(), peerImage());

    // Bytes after a field's zero are not part of it; padding is written as zero.
    QByteArray noisy = peerImage();
    put(noisy, 38 + 20, "junk");
    noisy[1598] = 'x';
    noisy[1599] = 'y';
    Identity fromNoisy;
    fromNoisy.decode(noisy);
    QCOMPARE(fromNoisy, id);
    QCOMPARE(fromNoisy.encode(), peerImage());
}

void TestIdentity::identityShortImageKeepsTail()
{
    Identity id = DefaultIdentity();
    const QByteArray before = id.encode();
    // The image ends inside the name: the name takes the bytes that are there
    // over its old image, everything after keeps its value.
    QByteArray part = peerImage().left(42);
    id.decode(part);
    QCOMPARE(id.status, 2);
    QCOMPARE(id.port, 8411);
    QCOMPARE(id.uid.bytes(), QByteArray("uid-Peer"));
    QCOMPARE(id.name.bytes(), QByteArray("Peer Name").left(4) + QByteArray("ult Name"));
    QCOMPARE(id.key.bytes(), QByteArray("QRT482LMN"));
    QCOMPARE(id.encode().mid(1078), before.mid(1078));

    Identity untouched = DefaultIdentity();
    const Identity copy = untouched;
    untouched.decode(QByteArray());
    QCOMPARE(untouched, copy);
}

void TestIdentity::fixedTextCut_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("stored");

    QTest::newRow("fits") << QByteArray(29, 'a') << QByteArray(29, 'a');
    QTest::newRow("one over") << QByteArray(30, 'a') << QByteArray(29, 'a');
    QTest::newRow("stops at zero") << QByteArray("ab\0cd", 5) << QByteArray("ab");
    // 28 ASCII bytes then a two-byte character: only 29 fit, so it goes whole.
    QTest::newRow("two-byte char cut") << QByteArray(28, 'a') + "\xc3\xa9" << QByteArray(28, 'a');
    QTest::newRow("two-byte char fits")
        << QByteArray(27, 'a') + "\xc3\xa9" << QByteArray(27, 'a') + "\xc3\xa9";
    QTest::newRow("four-byte char cut")
        << QByteArray(26, 'a') + "\xf0\x9f\x98\x80" << QByteArray(26, 'a');
    // Bytes that are not UTF-8 are kept as they are and cut by count.
    QTest::newRow("stray continuation bytes") << QByteArray(40, '\x80') << QByteArray(29, '\x80');
}

void TestIdentity::fixedTextCut()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, stored);
    Identity id;
    id.uid = input;
    QCOMPARE(id.uid.bytes(), stored);
    const QByteArray image = id.encode();
    QCOMPARE(image.mid(8, stored.size()), stored);
    QVERIFY(image.mid(8 + stored.size(), 30 - stored.size()).count('\0') == 30 - stored.size());
}

void TestIdentity::contactImage()
{
    QByteArray image = peerImage().left(1598);
    image.resize(2136, '\0');
    put(image, 1598, "My Alias");
    put(image, 1858, "/data/in");
    putWord(image, 2120, 1);
    putWord(image, 2124, 1);
    putWord(image, 2128, 0x5F000000u);
    putWord(image, 2132, 0x5F000010u);

    Contact c = NewContact();
    c.decodePersistent(image);
    QCOMPARE(c.name.bytes(), QByteArray("Peer Name"));
    QCOMPARE(c.alias.bytes(), QByteArray("My Alias"));
    QCOMPARE(c.autosavePath.bytes(), QByteArray("/data/in"));
    QCOMPARE(c.autosave, 1);
    QCOMPARE(c.blocked, 1);
    QCOMPARE(c.connectTime, 0x5F000000u);
    QCOMPARE(c.disconnectTime, 0x5F000010u);
    QCOMPARE(c.encodePersistent(), image);
}

void TestIdentity::contactShortImage()
{
    Contact c = NewContact();
    // Only the identity part is there: the local fields keep NewContact values.
    c.decodePersistent(peerImage().left(1598));
    QCOMPARE(c.name.bytes(), QByteArray("Peer Name"));
    QCOMPARE(c.autosavePath.bytes(), QByteArray("%autosavedir%\\%contactname%"));
    QVERIFY(c.alias.isEmpty());
}

void TestIdentity::defaults()
{
    const Contact c = NewContact();
    const QByteArray image = c.encodePersistent();
    QByteArray expected(2136, '\0');
    putWord(expected, 0, 3);
    putWord(expected, 4, 8410);
    put(expected, 1078, "QRT482LMN");
    put(expected, 1858, "%autosavedir%\\%contactname%");
    QCOMPARE(image, expected);
    QCOMPARE(c.sessionThread, SessionId(0));
    QVERIFY(c.queue.isEmpty() && c.shares.isEmpty());

    const Identity own = DefaultIdentity();
    QCOMPARE(own.status, 0);
    QCOMPARE(own.port, 8410);
    QCOMPARE(own.name.bytes(), QByteArray("Default Name"));
    QCOMPARE(own.key.bytes(), QByteArray("QRT482LMN"));
    QVERIFY(!own.uid.isEmpty());
    QVERIFY(own.ip.isEmpty() && own.dns.isEmpty() && own.password.isEmpty());
}

void TestIdentity::copyIdentityKeepsLocalFields()
{
    Contact c = NewContact();
    c.alias = "Alias";
    c.autosavePath = "/saves";
    c.autosave = 1;
    c.blocked = 1;
    c.connectTime = 11;
    c.disconnectTime = 12;
    c.chatWindowRect = {1, 2, 3, 4};
    c.typing = 1;
    c.sessionThread = 77;
    c.peerShares = 1;
    c.queue = "queued";
    c.shares = {"/a"};
    const Contact before = c;

    Identity peer;
    peer.decode(peerImage());
    CopyIdentity(peer, c);

    QCOMPARE(static_cast<const Identity&>(c), peer);
    QCOMPARE(c.encodePersistent().left(1598), peerImage().left(1598));
    QCOMPARE(c.encodePersistent().mid(1598), before.encodePersistent().mid(1598));
    QCOMPARE(c.chatWindowRect, before.chatWindowRect);
    QCOMPARE(c.sessionThread, before.sessionThread);
    QCOMPARE(c.typing, 1);
    QCOMPARE(c.peerShares, 1);
    QCOMPARE(c.queue, before.queue);
    QCOMPARE(c.shares, before.shares);
}

void TestIdentity::copyContactLists()
{
    Contact c = NewContact();
    c.queue = "q";
    c.shares = {"/x", "/y"};
    c.sessionThread = 5;
    const Contact with = CopyContact(c, true);
    QCOMPARE(with, c);
    const Contact without = CopyContact(c, false);
    QVERIFY(without.queue.isEmpty());
    QVERIFY(without.shares.isEmpty());
    QCOMPARE(without.sessionThread, SessionId(5));
    QCOMPARE(without.encodePersistent(), c.encodePersistent());
}

void TestIdentity::statusText_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("text");

    QTest::newRow("online") << 0 << QString() << QStringLiteral("Online");
    QTest::newRow("away") << 1 << QStringLiteral("ignored") << QStringLiteral("Away");
    QTest::newRow("away, empty message") << 2 << QString() << QStringLiteral("Away");
    QTest::newRow("away with message")
        << 2 << QStringLiteral("at lunch") << QStringLiteral("\"at lunch\"");
    QTest::newRow("away with non-ASCII message")
        << 2 << QStringLiteral("caf\u00e9") << QStringLiteral("\"caf\u00e9\"");
    QTest::newRow("offline") << 3 << QString() << QStringLiteral("Offline");
    QTest::newRow("blocked") << 4 << QString() << QString();
    QTest::newRow("unknown") << 9 << QString() << QString();
}

void TestIdentity::statusText()
{
    QFETCH(int, status);
    QFETCH(QString, message);
    QFETCH(QString, text);
    Identity id;
    id.status = status;
    id.awayMessage = message;
    QCOMPARE(StatusText(id), text);
}

void TestIdentity::displayName()
{
    Contact c = NewContact();
    c.name = QStringLiteral("Screen");
    QCOMPARE(DisplayName(c), QStringLiteral("Screen"));
    c.alias = QStringLiteral("J\u00fcrgen");
    QCOMPARE(DisplayName(c), QStringLiteral("J\u00fcrgen"));
}

void TestIdentity::uidsCompareExactly()
{
    Identity a;
    Identity b;
    a.uid = "abc123";
    b.uid = "ABC123";
    QVERIFY(a.uid != b.uid);
    QVERIFY(a != b);
    b.uid = "abc123";
    QVERIFY(a.uid == b.uid);
}

void TestIdentity::base36_data()
{
    QTest::addColumn<quint64>("value");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("zero") << quint64(0) << QByteArray("0");
    QTest::newRow("35") << quint64(35) << QByteArray("z");
    QTest::newRow("36") << quint64(36) << QByteArray("10");
    QTest::newRow("max 32-bit") << quint64(0xFFFFFFFFu) << QByteArray("1z141z3");
}

void TestIdentity::base36()
{
    QFETCH(quint64, value);
    QFETCH(QByteArray, text);
    QCOMPARE(ToBase36(value), text);
}

void TestIdentity::makeUid()
{
    const quint32 before = quint32(time(nullptr));
    const QByteArray uid = MakeUid();
    const quint32 after = quint32(time(nullptr));
    QVERIFY(!uid.isEmpty());
    QVERIFY(uid.size() <= 21);
    for (char c : uid)
        QVERIFY2((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z'), uid.constData());
    // The calendar seconds follow the filesystem id.
    bool hasSeconds = false;
    for (quint32 t = before; t <= after; ++t)
        hasSeconds = hasSeconds || uid.contains(ToBase36(t));
    QVERIFY2(hasSeconds, uid.constData());

    // Profiles created side by side never share a uid.
    QSet<QByteArray> seen;
    for (int i = 0; i < 200; ++i)
        seen.insert(MakeUid());
    QCOMPARE(seen.size(), 200);
}

QTEST_GUILESS_MAIN(TestIdentity)
#include "tst_identity.moc"

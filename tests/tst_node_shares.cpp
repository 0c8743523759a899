// The node's share and browse commands between two node processes on
// 127.0.0.1, on a real temporary folder.

#include "nodeprocess.h"
#include "testsupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class TestNodeShares : public QObject
{
    Q_OBJECT
private slots:
    void browseFromTheConsole();
};

void TestNodeShares::browseFromTheConsole()
{
    QTemporaryDir dir;
    const QString root = QDir(dir.path()).canonicalPath();
    const QString share = root + u"/share"_s;
    QVERIFY(QDir().mkpath(share + u"/sub"_s));
    QVERIFY(testsupport::writeAll(share + u"/a.txt"_s, "abc"));
    QVERIFY(testsupport::writeAll(share + u"/sub/b7.txt"_s, "b"));
    QVERIFY(testsupport::writeAll(share + u"/.hidden7"_s, "h"));

    NodeProcess alice(QStringLiteral(ZEPHLINK_NODE_PATH)), bob(QStringLiteral(ZEPHLINK_NODE_PATH));
    QVERIFY(alice.start(root + u"/alice"_s, {u"--name"_s, u"Alice"_s}));
    QVERIFY(bob.start(root + u"/bob"_s, {u"--name"_s, u"Bob"_s}));
    QCOMPARE(bob.command(u"add 127.0.0.1 %1"_s.arg(alice.port())), u"ok"_s);
    QVERIFY(!alice.waitForLine(u"^event New Contact Bob "_s).isEmpty());
    QVERIFY(!bob.waitForLine(u"^event New Contact Alice "_s).isEmpty());

    // Shared with Bob alone: Bob hears the flag and lists Alice as a peer.
    QCOMPARE(alice.command(u"share Bob "_s + share), u"ok"_s);
    QStringList out;
    QCOMPARE(alice.command(u"shares Bob"_s, &out, u"share"_s), u"ok"_s);
    QCOMPARE(out, QStringList{share});
    QTRY_VERIFY_WITH_TIMEOUT((bob.command(u"peers"_s, &(out = {}), u"peer"_s),
                              out == QStringList{u"Alice (127.0.0.1)"_s}),
                             10000);

    QCOMPARE(bob.command(u"browse Alice"_s), u"ok"_s);
    QCOMPARE(bob.waitForLine(u"^browse "_s), u"browse Alice (127.0.0.1)"_s);
    QCOMPARE(bob.waitForLine(u"^end "_s), u"end 1 HOME"_s);
    QVERIFY(!alice.waitForLine(u"^popup Bob: Is Browsing$"_s).isEmpty());
    QCOMPARE(alice.command(u"browsing"_s, &out, u"browsing"_s), u"ok"_s);
    QCOMPARE(out, QStringList{u"1 Bob (127.0.0.1)"_s});

    QCOMPARE(bob.command(u"ls "_s + share), u"ok"_s);
    QCOMPARE(bob.waitForLine(u"^end "_s), u"end 2 "_s + share);
    QCOMPARE(bob.command(u"search 7 sub"_s), u"ok"_s);
    QCOMPARE(bob.waitForLine(u"^end "_s), u"end 1 "_s + share);
    const QStringList found = bob.linesMatching(QRegularExpression(u"^entry F "_s));
    QVERIFY(found.last().endsWith(u" "_s + share + u"/sub/b7.txt"_s));
    QVERIFY(found.filter(u"hidden"_s).isEmpty());
    QCOMPARE(bob.command(u"search a:b"_s).left(5), u"error"_s);

    QCOMPARE(bob.command(u"get /etc/hostname"_s), u"ok"_s);
    QCOMPARE(bob.waitForLine(u"^result "_s), u"result -2 Transfer was Refused."_s);
    QCOMPARE(bob.command(u"get "_s + share + u"/a.txt"_s), u"ok"_s);
    QCOMPARE(bob.waitForLine(u"^result "_s), u"result 50 Transfer was Queued."_s);

    QCOMPARE(alice.command(u"kick 1"_s), u"ok"_s);
    QCOMPARE(bob.waitForLine(u"^closed "_s), u"closed Alice (127.0.0.1)"_s);
    QTRY_VERIFY_WITH_TIMEOUT(
        (alice.command(u"browsing"_s, &(out = {}), u"browsing"_s), out.isEmpty()), 10000);
    QCOMPARE(bob.command(u"ls"_s), u"error no browser open"_s);

    for (NodeProcess* n : {&alice, &bob}) {
        n->send(u"quit"_s);
        QVERIFY(n->waitForExit());
    }
}

QTEST_GUILESS_MAIN(TestNodeShares)
#include "tst_node_shares.moc"

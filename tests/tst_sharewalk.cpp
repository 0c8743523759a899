// The owner's listing and search engine over real temporary folders with
// real symbolic links, and the remote browser's logic.

#include "shares/headcrccache.h"
#include "shares/remotebrowser.h"
#include "shares/sharescope.h"
#include "shares/sharewalk.h"
#include "testsupport.h"
#include "transfers/headcrc.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// A tree below one temporary folder:
//   share/a.txt share/B7.TXT share/.hidden share/.hdir/x7.txt
//   share/sub/c7.txt share/sub/deep/d77.bin
//   share/out-file -> ../outside/secret.txt   share/out-dir -> ../outside
//   share/in-link -> sub/c7.txt               share/loop -> .
//   outside/secret.txt outside/s7.txt
struct Tree
{
    QTemporaryDir dir;
    QByteArray root;

    Tree()
    {
        root = QFile::encodeName(QDir(dir.path()).canonicalPath());
        for (const char* f :
             {"share/a.txt", "share/B7.TXT", "share/.hidden", "share/.hdir/x7.txt",
              "share/sub/c7.txt", "share/sub/deep/d77.bin", "outside/secret.txt", "outside/s7.txt"})
            file(f, QByteArray(f) + " contents");
        link("../outside/secret.txt", "share/out-file");
        link("../outside", "share/out-dir");
        link("sub/c7.txt", "share/in-link");
        link(".", "share/loop");
    }
    QByteArray path(const char* relative) const { return root + '/' + relative; }
    void file(const char* relative, const QByteArray& bytes) const
    {
        const QString p = QFile::decodeName(path(relative));
        QDir().mkpath(QFileInfo(p).path());
        QVERIFY(testsupport::writeAll(p, bytes));
    }
    void link(const char* target, const char* relative) const
    {
        QVERIFY(::symlink(target, path(relative).constData()) == 0);
    }
    // The paths below root, sorted, of everything the walk gives.
    QStringList walk(ShareWalk w) const
    {
        QStringList out;
        ShareEntry e;
        while (w.next(e))
            out.append((e.folder ? QStringLiteral("D ") : QStringLiteral("F ")) +
                       QFile::decodeName(e.path.mid(root.size() + 1)));
        out.sort();
        return out;
    }
};

} // namespace

class TestShareWalk : public QObject
{
    Q_OBJECT
private slots:
    void wildcards_data();
    void wildcards();
    void scope_data();
    void scope();
    void effectiveAndFlag();
    void folderListing_data();
    void folderListing();
    void search_data();
    void search();
    void stopEndsWalk();
    void entryWire();
    void crcFollowsChanges();

    void browserHistory();
    void browserHome_data();
    void browserHome();
    void browserSearch_data();
    void browserSearch();
    void browserTexts_data();
    void browserTexts();
};

void TestShareWalk::wildcards_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("match");
    QTest::newRow("star anywhere") << u"*7*"_s << u"b77.txt"_s << true;
    QTest::newRow("star, no digit") << u"*7*"_s << u"abc.txt"_s << false;
    QTest::newRow("case ignored") << u"*.TXT"_s << u"a.txt"_s << true;
    QTest::newRow("non-ascii case") << u"ÄB*"_s << u"äbc"_s << true;
    QTest::newRow("question one char") << u"a?c"_s << u"abc"_s << true;
    QTest::newRow("question not empty") << u"a?c"_s << u"ac"_s << false;
    QTest::newRow("exact") << u"abc"_s << u"abc"_s << true;
    QTest::newRow("exact is whole name") << u"abc"_s << u"abcd"_s << false;
    QTest::newRow("backtracking") << u"*ab*ab"_s << u"xxabyab"_s << true;
    QTest::newRow("trailing stars") << u"a**"_s << u"a"_s << true;
    QTest::newRow("brackets are plain") << u"[a]*"_s << u"[a]b"_s << true;
}

void TestShareWalk::wildcards()
{
    QFETCH(QString, pattern);
    QFETCH(QString, name);
    QFETCH(bool, match);
    QCOMPARE(WildcardMatch(pattern, name), match);
}

void TestShareWalk::scope_data()
{
    QTest::addColumn<QByteArray>("relative"); // below the temporary folder
    QTest::addColumn<bool>("allowed");
    QTest::newRow("the root") << QByteArray("share") << true;
    QTest::newRow("the root, trailing slash") << QByteArray("share/") << true;
    QTest::newRow("below") << QByteArray("share/sub/deep") << true;
    QTest::newRow("file below") << QByteArray("share/sub/c7.txt") << true;
    QTest::newRow("link leading inside") << QByteArray("share/in-link") << true;
    QTest::newRow("outside") << QByteArray("outside") << false;
    QTest::newRow("dot-dot back inside") << QByteArray("share/sub/../a.txt") << false;
    QTest::newRow("dot-dot out") << QByteArray("share/../outside/secret.txt") << false;
    QTest::newRow("link to outside folder") << QByteArray("share/out-dir") << false;
    QTest::newRow("through link to outside") << QByteArray("share/out-dir/s7.txt") << false;
    QTest::newRow("link to outside file") << QByteArray("share/out-file") << false;
    QTest::newRow("hidden file") << QByteArray("share/.hidden") << false;
    QTest::newRow("inside hidden folder") << QByteArray("share/.hdir/x7.txt") << false;
    QTest::newRow("name sharing the root's prefix") << QByteArray("share2") << false;
}

void TestShareWalk::scope()
{
    QFETCH(QByteArray, relative);
    QFETCH(bool, allowed);
    Tree t;
    const ShareScope scope({t.path("share")});
    QCOMPARE(scope.allows(t.path(relative.constData())), allowed);
    // A relative name is never taken from wherever the program runs.
    QVERIFY(!scope.allows(relative));
    QVERIFY(!ShareScope().allows(t.path(relative.constData())));
}

void TestShareWalk::effectiveAndFlag()
{
    const QList<QByteArray> own{"/own", "/both"};
    const QList<QByteArray> general{"/both", "/all"};
    QCOMPARE(EffectiveSharedPaths(&own, general),
             (QList<QByteArray>{"/own", "/both", "/both", "/all"}));
    QCOMPARE(EffectiveSharedPaths(nullptr, general), QList<QByteArray>());
    struct Case
    {
        bool on;
        QList<QByteArray> own, general;
        int flag;
    };
    const Case cases[] = {{true, {"/x"}, {}, 1},
                          {true, {}, {"/x"}, 1},
                          {true, {}, {}, 0},
                          {false, {"/x"}, {"/y"}, 0}};
    for (const Case& c : cases)
        QCOMPARE(SharesFlag(c.on, c.own, c.general), c.flag);
}

void TestShareWalk::folderListing_data()
{
    QTest::addColumn<QByteArray>("folder");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("share") << QByteArray("share")
                           << QStringList{u"D share/loop"_s, u"D share/sub"_s, u"F share/B7.TXT"_s,
                                          u"F share/a.txt"_s, u"F share/in-link"_s};
    QTest::newRow("sub") << QByteArray("share/sub")
                         << QStringList{u"D share/sub/deep"_s, u"F share/sub/c7.txt"_s};
    QTest::newRow("outside") << QByteArray("outside") << QStringList{};
    QTest::newRow("through a link out") << QByteArray("share/out-dir") << QStringList{};
    QTest::newRow("hidden folder") << QByteArray("share/.hdir") << QStringList{};
    QTest::newRow("dot-dot") << QByteArray("share/sub/..") << QStringList{};
    QTest::newRow("missing") << QByteArray("share/none") << QStringList{};
}

void TestShareWalk::folderListing()
{
    QFETCH(QByteArray, folder);
    QFETCH(QStringList, expected);
    Tree t;
    const ShareScope scope({t.path("share")});
    QCOMPARE(t.walk(ShareWalk::folder(t.path(folder.constData()), scope)), expected);
}

void TestShareWalk::search_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<bool>("sub");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("*7* here") << u"*7*"_s << false << QStringList{u"F share/B7.TXT"_s};
    QTest::newRow("*7* below") << u"*7*"_s << true
                               << QStringList{u"F share/B7.TXT"_s, u"F share/sub/c7.txt"_s,
                                              u"F share/sub/deep/d77.bin"_s};
    QTest::newRow("? one char") << u"?7.txt"_s << true
                                << QStringList{u"F share/B7.TXT"_s, u"F share/sub/c7.txt"_s};
    QTest::newRow("exact name") << u"deep"_s << true << QStringList{u"D share/sub/deep"_s};
    QTest::newRow("exact, other case") << u"A.TXT"_s << false << QStringList{u"F share/a.txt"_s};
    QTest::newRow("a link inside matches")
        << u"in-*"_s << true << QStringList{u"F share/in-link"_s};
    QTest::newRow("links out never match") << u"*out*"_s << true << QStringList{};
    QTest::newRow("hidden never match") << u"*hid*"_s << true << QStringList{};
}

void TestShareWalk::search()
{
    QFETCH(QString, pattern);
    QFETCH(bool, sub);
    QFETCH(QStringList, expected);
    Tree t;
    const ShareScope scope({t.path("share")});
    QCOMPARE(t.walk(ShareWalk::search(pattern, {t.path("share")}, sub, scope)), expected);
    // A start outside the shares finds nothing.
    QCOMPARE(t.walk(ShareWalk::search(pattern, {t.path("outside")}, sub, scope)), QStringList{});
}

void TestShareWalk::stopEndsWalk()
{
    Tree t;
    for (int i = 0; i < 50; ++i)
        t.file(QByteArray("share/many/f7-" + QByteArray::number(i)).constData(), "x");
    const ShareScope scope({t.path("share")});
    ShareWalk w = ShareWalk::search(QStringLiteral("*7*"), {t.path("share")}, true, scope);
    ShareEntry e;
    QVERIFY(w.next(e));
    w.stop();
    QVERIFY(!w.next(e));
    QVERIFY(w.isDone());
}

void TestShareWalk::entryWire()
{
    ShareEntry e{"/s/a", false, 0x11223344u, 0x0102030405060708LL, 0x1112131415161718ULL};
    const QByteArray wire = e.encode();
    QCOMPARE(wire, testsupport::hex("2f 73 2f 61 00  00 00 00 00  44 33 22 11"
                                    " 08 07 06 05 04 03 02 01  18 17 16 15 14 13 12 11"));
    QCOMPARE(ShareEntry::decode(wire), std::optional<ShareEntry>(e));
    QVERIFY(!ShareEntry::decode(wire.first(wire.size() - 1)));
    QVERIFY(!ShareEntry::decode(QByteArray("no nul")));
    const QByteArray search = ShareSearchPayload("*a*", "HOME", true);
    const auto r = DecodeShareSearch(search);
    QVERIFY(r && r->pattern == "*a*" && r->path == "HOME" && r->subFolders);
    QVERIFY(!DecodeShareSearch(search.first(search.size() - 1)));
}

void TestShareWalk::crcFollowsChanges()
{
    Tree t;
    const ShareScope scope({t.path("share")});
    HeadCrcCache::instance().clear();
    const auto crcOf = [&] {
        ShareEntry e;
        DescribeSharePath(t.path("share/a.txt"), e);
        return e.crc;
    };
    QCOMPARE(crcOf(), HeadCrc(QFile::decodeName(t.path("share/a.txt"))));
    // Same size, new contents and time: the listing carries the new checksum.
    t.file("share/a.txt", "different!!!!!!!!!!!!!!");
    QCOMPARE(crcOf(), HeadCrc(QFile::decodeName(t.path("share/a.txt"))));
}

// ---- the browser ----

namespace {

struct Requests : BrowseRequests
{
    QStringList sent;
    void stop() override { sent.append(QStringLiteral("4")); }
    void listRoots() override { sent.append(QStringLiteral("5")); }
    void listFolder(const QByteArray& path) override
    {
        sent.append(u"6 "_s + QString::fromUtf8(path));
    }
    void search(const QByteArray& pattern, const QByteArray& path, bool sub) override
    {
        sent.append(QStringLiteral("7 %1 %2 %3")
                        .arg(QString::fromUtf8(pattern), QString::fromUtf8(path))
                        .arg(sub));
    }
    void sendRequest(const QByteArray& path) override
    {
        sent.append(u"8 "_s + QString::fromUtf8(path));
    }
};

ShareEntry folderEntry(const QByteArray& path)
{
    return ShareEntry{path, true, 0, 0, 0};
}

// Lists `path` with one folder row below it and ends the listing.
void answer(RemoteBrowser& b, const QByteArray& path)
{
    b.addEntries({folderEntry(path + "/f")});
    b.endOfList();
}

QStringList paths(const RemoteBrowser& b)
{
    QStringList out;
    for (const ShareEntry& e : b.rows())
        out.append(QString::fromUtf8(e.path));
    return out;
}

} // namespace

void TestShareWalk::browserHistory()
{
    Requests r;
    RemoteBrowser b(QStringLiteral("Bob (127.0.0.1)"), r);
    b.start();
    answer(b, "/r");
    b.openFolder(0); // /r/f
    answer(b, "/r/f");
    QCOMPARE(r.sent, (QStringList{u"5"_s, u"6 /r/f"_s}));
    QVERIFY(b.canGoBack() && !b.canGoForward());
    b.back();
    QCOMPARE(b.currentPath(), QByteArray("HOME"));
    QCOMPARE(paths(b), QStringList{u"/r/f"_s});
    QVERIFY(!b.canGoBack() && b.canGoForward());
    b.forward();
    QCOMPARE(b.currentPath(), QByteArray("/r/f"));
    QCOMPARE(paths(b), QStringList{u"/r/f/f"_s});
    // Back and forward ask nothing of the owner; refresh asks again and
    // keeps the history.
    b.refresh();
    QCOMPARE(r.sent, (QStringList{u"5"_s, u"6 /r/f"_s, u"6 /r/f"_s}));
    QVERIFY(b.isBusy() && b.rows().isEmpty());
    answer(b, "/r/f");
    QCOMPARE(b.backDepth(), 1);
    QCOMPARE(b.statusText(), QStringLiteral(" Items: 1  Directory: /r/f"));
    // A new folder clears the forward stack.
    b.back();
    b.openFolder(0);
    QCOMPARE(b.forwardDepth(), 0);
}

void TestShareWalk::browserHome_data()
{
    QTest::addColumn<int>("depth");
    QTest::addColumn<QStringList>("requestsAfterHome");
    QTest::newRow("no history: asks for the roots") << 0 << QStringList{u"5"_s};
    QTest::newRow("three deep: restored from memory") << 3 << QStringList{};
}

void TestShareWalk::browserHome()
{
    QFETCH(int, depth);
    QFETCH(QStringList, requestsAfterHome);
    Requests r;
    RemoteBrowser b(QStringLiteral("t"), r);
    b.start();
    answer(b, "/r");
    QByteArray path = "/r";
    for (int i = 0; i < depth; ++i) {
        path += "/f";
        b.openFolder(0);
        answer(b, path);
    }
    r.sent.clear();
    b.home();
    QCOMPARE(r.sent, requestsAfterHome);
    QVERIFY(!b.canGoBack() && !b.canGoForward());
    QCOMPARE(b.currentPath(), QByteArray("HOME"));
    if (depth > 0)
        QCOMPARE(paths(b), QStringList{u"/r/f"_s});
    else
        QVERIFY(b.isBusy());
}

void TestShareWalk::browserSearch_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("exact");
    QTest::addColumn<QString>("request"); // empty: refused
    QTest::newRow("wrapped") << u"abc"_s << false << u"7 *abc* /r/f 1"_s;
    QTest::newRow("exact") << u"abc"_s << true << u"7 abc /r/f 1"_s;
    QTest::newRow("own star kept") << u"a*c"_s << false << u"7 *a*c* /r/f 1"_s;
    for (const char* bad : {"a:b", "a?b", "a\\b", "a/b", "a\"b", "a<b", "a>b", "a|b"})
        QTest::newRow(bad) << QString::fromUtf8(bad) << false << QString();
}

void TestShareWalk::browserSearch()
{
    QFETCH(QString, text);
    QFETCH(bool, exact);
    QFETCH(QString, request);
    Requests r;
    RemoteBrowser b(QStringLiteral("t"), r);
    b.start();
    answer(b, "/r");
    b.openFolder(0);
    answer(b, "/r");
    r.sent.clear();
    b.setMatchExactly(exact);
    b.search(text);
    if (request.isEmpty()) {
        QVERIFY(r.sent.isEmpty());
        QCOMPARE(b.statusText(),
                 QStringLiteral(" Search string contains an invalid character: \\ / : ? \" < > |"));
        QVERIFY(b.isResultTextShown());
        b.resultTextExpired();
        QCOMPARE(b.statusText(), QStringLiteral(" Items: 1  Directory: /r/f"));
        return;
    }
    QCOMPARE(r.sent, QStringList{request});
    QVERIFY(b.isBusy() && b.rows().isEmpty());
    b.endOfList();
    // The view before the search comes back with its own search text.
    b.back();
    QCOMPARE(b.searchText(), QString());
    b.forward();
    QCOMPARE(b.searchText(), text);
}

void TestShareWalk::browserTexts_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::newRow("50") << 50 << u" Transfer was Queued."_s;
    QTest::newRow("51") << 51 << u" Transfer is already is waiting for your acceptance."_s;
    QTest::newRow("53") << 53 << u" Transfer ReQueue Attempted, previous state was: Completed"_s;
    QTest::newRow("56")
        << 56 << u" Transfer ReQueue Attempted, previous state was: Manual Retry Required"_s;
    QTest::newRow("57") << 57 << u" Transfer is already trying to connect."_s;
    QTest::newRow("offline") << -1 << u""_s;
}

void TestShareWalk::browserTexts()
{
    QFETCH(int, code);
    QFETCH(QString, text);
    Requests r;
    RemoteBrowser b(QStringLiteral("t"), r);
    b.start();
    answer(b, "/r");
    b.download(0);
    QCOMPARE(r.sent.last(), QStringLiteral("8 /r/f"));
    b.sendResult(code);
    QCOMPARE(b.statusText(), text);
    QVERIFY(b.isResultTextShown());
    b.resultTextExpired();
    QCOMPARE(b.statusText(), QStringLiteral(" Items: 1  Directory: HOME"));
    // Column texts.
    QCOMPARE(b.nameText(0), QStringLiteral("f"));
    b.setViewFullPaths(true);
    QCOMPARE(b.nameText(0), QStringLiteral("/r/f"));
    QCOMPARE(RemoteBrowser::nameText(folderEntry("C:\\"), false), QStringLiteral("C:"));
    QCOMPARE(RemoteBrowser::dateText(folderEntry("/x")), QString());
    QCOMPARE(RemoteBrowser::sizeText(folderEntry("/x")), QString());
}

QTEST_GUILESS_MAIN(TestShareWalk)
#include "tst_sharewalk.moc"

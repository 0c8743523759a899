// Browse sessions between two real programs (controller, transfer manager
// and shares) over 127.0.0.1, on real temporary folders with real links.

#include "messenger/messengercontroller.h"
#include "profile/profilestore.h"
#include "quietui.h"
#include "shares/browsethread.h"
#include "shares/sharebrowsing.h"
#include "shell/clientdlg.h"
#include "shell/listctrlex.h"
#include "testsupport.h"
#include "transferpeer.h"
#include "transfers/transfermanager.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QHostAddress>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

class Ui : public QuietUi, public ShareBrowsingUi, public BrowserView
{
public:
    // The browsers opened (titles), the current browser, its listings.
    QStringList opened;
    int closed = 0;
    RemoteBrowser* browser = nullptr;
    int ended = 0;
    QList<int> results;

    BrowserView* browserOpened(BrowseId, RemoteBrowser& b) override
    {
        opened.append(b.title());
        browser = &b;
        return this;
    }
    void browserClosing(BrowseId, RemoteBrowser& b) override
    {
        ++closed;
        if (browser == &b)
            browser = nullptr;
    }
    void rowsReset() override {}
    void rowsAppended(int) override {}
    void statusChanged(const QString&) override {}
    void stateChanged() override {}
    void listEnded() override { ++ended; }
    void sendResult(int code) override { results.append(code); }
    // The browsing-contacts window follows the rows, as the desktop's does.
    std::function<void()> rowsChanged;
    void browsingRowsChanged() override
    {
        if (rowsChanged)
            rowsChanged();
    }
};

Settings settings(const QString& inbox)
{
    Settings s = Settings::defaults();
    s.connectAllOnStartup = 0;
    s.dynamicIp = 0;
    s.autoAcceptAll = 1;
    s.autosaveSubfolders = 0;
    s.autosaveDir = inbox.toUtf8();
    s.sharingEnabled = 1;
    s.animateBrowse = 1;
    return s;
}

// One program with its shares, listening on 127.0.0.1.
struct Core
{
    QTemporaryDir dir;
    QByteArray root;
    QByteArray uid;
    Ui ui;
    ThreadRegistry registry;
    std::unique_ptr<MessengerController> c;
    std::unique_ptr<TransferManager> m;
    std::unique_ptr<ShareBrowsing> s;

    quint16 port() const { return c->listenPort(); }

    Core(const QString& name, const QByteArray& id) : uid(id)
    {
        root = QFile::encodeName(QDir(dir.path()).canonicalPath());
        ui.name = name;
        const QString folder = QFile::decodeName(root) + u"/Profiles/u/"_s;
        QDir().mkpath(folder);
        ProfileStore store(folder, nullptr);
        store.writeSettings(settings(QFile::decodeName(path("inbox"))));
        Identity own = DefaultIdentity();
        own.name.setText(name);
        own.uid.set(uid);
        store.writeMyInfo(own);
        c = std::make_unique<MessengerController>(&ui, &ui, registry);
        c->setProfileFolder(folder);
        c->setListenAddress(QHostAddress::LocalHost);
        c->setPortOverride(0);
        m = std::make_unique<TransferManager>(*c, &ui);
        m->setSchedulerPeriod(0);
        m->attach();
        s = std::make_unique<ShareBrowsing>(*c, *m, &ui);
        s->attach();
    }
    ~Core()
    {
        transfertest::ExitController(c.get());
        s.reset();
        m.reset();
        c.reset();
    }
    bool start()
    {
        c->start();
        return QTest::qWaitFor([this] { return c->listenPort() != 0; }, 10000);
    }
    QByteArray path(const char* relative) const { return root + '/' + relative; }
    void file(const char* relative, int size = 100) const
    {
        const QString p = QFile::decodeName(path(relative));
        QDir().mkpath(QFileInfo(p).path());
        QVERIFY(testsupport::writeAll(p, QByteArray(size, 'z')));
    }
    Contact& contact(const QByteArray& id) const { return *c->findContact(id); }
    // The browser's rows as "D name" / "F name".
    QStringList rows() const
    {
        QStringList out;
        for (const ShareEntry& e : ui.browser->rows())
            out.append((e.folder ? u"D "_s : u"F "_s) + QFile::decodeName(e.path.mid(0)));
        return out;
    }
    // Runs one request on the open browser and waits for its end of list.
    bool listed(const std::function<void(RemoteBrowser&)>& request)
    {
        const int before = ui.ended;
        request(*ui.browser);
        return QTest::qWaitFor([&] { return ui.ended > before; }, 15000);
    }
};

using transfertest::connectPair;

// Owner o shares a tree: one general share and one share for the viewer.
void shareTree(Core& o, const QByteArray& viewer)
{
    for (const char* f : {"gen/g1.txt", "mine/a.txt", "mine/.hidden", "mine/.hdir/h7.txt",
                          "mine/sub/b7.txt", "mine/sub/deep/c77.txt", "outside/s7.txt"})
        o.file(f);
    QVERIFY(::symlink("../outside", o.path("mine/out").constData()) == 0);
    QVERIFY(::symlink("../outside/s7.txt", o.path("mine/s7-link").constData()) == 0);
    o.c->SetGeneralSharing(true, {o.path("gen")});
    o.c->SetContactShares(o.contact(viewer), {o.path("mine"), o.path("gen")});
}

// The viewer v browses o; opened says who opened the chat session.
bool openBrowser(Core& v, Core& o)
{
    if (!QTest::qWaitFor([&] { return v.contact(o.uid).peerShares == 1; }, 10000))
        return false;
    if (!v.c->ViewRemoteShares(o.uid))
        return false;
    return QTest::qWaitFor([&] { return v.ui.browser && v.ui.ended == 1; }, 15000);
}

QStringList names(const QStringList& rows, const QByteArray& root)
{
    QStringList out;
    for (QString r : rows)
        out.append(r.replace(QFile::decodeName(root) + u'/', QString()));
    out.sort();
    return out;
}

} // namespace

class TestShareSession : public QObject
{
    Q_OBJECT
private slots:
    void browseBothWays_data();
    void browseBothWays();
    void escapesRefused_data();
    void escapesRefused();
    void sendRequest();
    void stopDuringSearch();
    void unknownViewer();
    void kick();
    void kickFromWindow();
};

void TestShareSession::browseBothWays_data()
{
    QTest::addColumn<bool>("viewerOpenedChat");
    QTest::newRow("direct: the viewer opened the chat") << true;
    QTest::newRow("reverse: the owner opened the chat (type 9)") << false;
}

void TestShareSession::browseBothWays()
{
    QFETCH(bool, viewerOpenedChat);
    Core v(u"Viewer"_s, "uid-v"), o(u"Owner"_s, "uid-o");
    QVERIFY(v.start() && o.start());
    QVERIFY(viewerOpenedChat ? connectPair(v, o) : connectPair(o, v));
    shareTree(o, v.uid);
    QVERIFY(openBrowser(v, o));
    QCOMPARE(v.ui.opened, QStringList{u"Owner (127.0.0.1)"_s});
    QCOMPARE(v.ui.status, u"Connected to \"Owner (127.0.0.1)\" shares"_s);
    // Roots: the viewer's own shares first, then the general one; the
    // duplicate stays.
    QCOMPARE(v.rows(), (QStringList{u"D "_s + QFile::decodeName(o.path("mine")),
                                    u"D "_s + QFile::decodeName(o.path("gen")),
                                    u"D "_s + QFile::decodeName(o.path("gen"))}));
    QTRY_COMPARE_WITH_TIMEOUT(o.c->browsingRows().size(), qsizetype(1), 10000);
    QCOMPARE(o.c->browsingRows()[0].text, u"Viewer (127.0.0.1)"_s);
    QCOMPARE(o.ui.popups.filter(u"Is Browsing"_s), QStringList{u"Viewer|Is Browsing"_s});

    // A folder without its hidden entries and without the link leading out.
    QVERIFY(v.listed([](RemoteBrowser& b) { b.openFolder(0); }));
    QCOMPARE(names(v.rows(), o.root), (QStringList{u"D mine/sub"_s, u"F mine/a.txt"_s}));

    // Searches, with and without sub-folders.
    struct Search
    {
        QString text;
        bool sub;
        bool exact;
        QStringList found;
    };
    const Search searches[] = {
        {u"7"_s, true, false, {u"F mine/sub/b7.txt"_s, u"F mine/sub/deep/c77.txt"_s}},
        {u"7"_s, false, false, {}},
        {u"A.TXT"_s, false, true, {u"F mine/a.txt"_s}},
        {u"*.txt"_s,
         true,
         true,
         {u"F mine/a.txt"_s, u"F mine/sub/b7.txt"_s, u"F mine/sub/deep/c77.txt"_s}},
    };
    for (const Search& s : searches) {
        v.ui.browser->setSearchSubDirs(s.sub);
        v.ui.browser->setMatchExactly(s.exact);
        QVERIFY(v.listed([&](RemoteBrowser& b) { b.search(s.text); }));
        QCOMPARE(names(v.rows(), o.root), s.found);
        v.ui.browser->back();
    }
    // Searching all roots from HOME finds the general share's file twice.
    v.ui.browser->home();
    v.ui.browser->setMatchExactly(false);
    v.ui.browser->setSearchSubDirs(true);
    QVERIFY(v.listed([](RemoteBrowser& b) { b.search(u"g1"_s); }));
    QCOMPARE(names(v.rows(), o.root), (QStringList{u"F gen/g1.txt"_s, u"F gen/g1.txt"_s}));
}

void TestShareSession::escapesRefused_data()
{
    QTest::addColumn<QByteArray>("path"); // below the owner's temporary folder
    QTest::newRow("outside the shares") << QByteArray("outside");
    QTest::newRow("with ..") << QByteArray("mine/../outside");
    QTest::newRow("through a link out") << QByteArray("mine/out");
    QTest::newRow("hidden folder") << QByteArray("mine/.hdir");
}

void TestShareSession::escapesRefused()
{
    QFETCH(QByteArray, path);
    Core v(u"Viewer"_s, "uid-v"), o(u"Owner"_s, "uid-o");
    QVERIFY(v.start() && o.start());
    QVERIFY(connectPair(v, o));
    shareTree(o, v.uid);
    QVERIFY(openBrowser(v, o));
    const QByteArray target = o.path(path.constData());
    QVERIFY(v.listed([&](RemoteBrowser& b) { b.openFolder(target); }));
    QCOMPARE(v.rows(), QStringList{});
    v.ui.browser->setMatchExactly(false);
    v.ui.browser->setSearchSubDirs(true);
    QVERIFY(v.listed([](RemoteBrowser& b) { b.search(u"7"_s); }));
    QCOMPARE(v.rows(), QStringList{});
    // Nor is anything below it sent.
    v.ui.browser->download(target + "/s7.txt");
    v.ui.browser->download(target);
    QTRY_COMPARE_WITH_TIMEOUT(v.ui.results, (QList<int>{SendRefused, SendRefused}), 10000);
    QCOMPARE(o.m->rowCount(), 0);
    QCOMPARE(v.ui.browser->statusText(), u" Transfer was Refused."_s);
}

void TestShareSession::sendRequest()
{
    Core v(u"Viewer"_s, "uid-v"), o(u"Owner"_s, "uid-o");
    QVERIFY(v.start() && o.start());
    QVERIFY(connectPair(v, o));
    shareTree(o, v.uid);
    QVERIFY(openBrowser(v, o));
    const QByteArray file = o.path("mine/sub/b7.txt");
    v.ui.browser->download(file);
    QTRY_COMPARE_WITH_TIMEOUT(v.ui.results, QList<int>{50}, 10000);
    QCOMPARE(v.ui.browser->statusText(), u" Transfer was Queued."_s);
    QCOMPARE(o.m->rowCount(), 1);
    // The owner starts it; the file arrives at the viewer.
    o.m->ScheduleTick();
    const QString arrived = QFile::decodeName(v.path("inbox/b7.txt"));
    QTRY_VERIFY_WITH_TIMEOUT(o.m->row(0).transfer.state == TransferState::Completed, 15000);
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(arrived), 15000);
    QCOMPARE(testsupport::readAll(arrived), QByteArray(100, 'z'));
    // Asking again reports the previous state and re-queues.
    v.ui.browser->download(file);
    QTRY_COMPARE_WITH_TIMEOUT(v.ui.results, (QList<int>{50, 53}), 10000);
    QCOMPARE(v.ui.browser->statusText(),
             u" Transfer ReQueue Attempted, previous state was: Completed"_s);
    QCOMPARE(o.m->rowCount(), 1);
    QCOMPARE(o.m->row(0).transfer.state, TransferState::Queued);
    v.ui.browser->download(file);
    QTRY_COMPARE_WITH_TIMEOUT(v.ui.results, (QList<int>{50, 53, 50}), 10000);
}

void TestShareSession::stopDuringSearch()
{
    Core v(u"Viewer"_s, "uid-v"), o(u"Owner"_s, "uid-o");
    QVERIFY(v.start() && o.start());
    QVERIFY(connectPair(v, o));
    constexpr int Files = 5000;
    for (int i = 0; i < Files; ++i)
        o.file(
            QByteArray("big/d" + QByteArray(1, char('a' + i % 26)) + "/f7-" + QByteArray::number(i))
                .constData(),
            1);
    o.c->SetContactShares(o.contact(v.uid), {o.path("big")});
    QVERIFY(openBrowser(v, o));
    v.ui.browser->setSearchSubDirs(true);
    QVERIFY(v.listed([](RemoteBrowser& b) {
        b.search(u"7"_s);
        b.stop();
    }));
    QVERIFY(v.ui.browser->rows().size() < Files);
    QVERIFY(!v.ui.browser->isBusy());
    // The session goes on: a full search still finds everything.
    v.ui.browser->back();
    QVERIFY(v.listed([](RemoteBrowser& b) { b.search(u"7"_s); }));
    QCOMPARE(v.ui.browser->rows().size(), qsizetype(Files));
}

void TestShareSession::unknownViewer()
{
    // The stranger's key matches, but it is not in the owner's list.
    Core stranger(u"Stranger"_s, "uid-s"), o(u"Owner"_s, "uid-o");
    QVERIFY(stranger.start() && o.start());
    o.file("gen/g.txt");
    o.c->SetGeneralSharing(true, {o.path("gen")});
    DataSessionRequest r;
    r.kind = DataSessionRequest::Kind::Browse;
    r.ownIdentity = stranger.c->myIdentity();
    r.contact = NewContact();
    r.contact.ip.set("127.0.0.1");
    r.contact.port = o.c->listenPort();
    QVERIFY(stranger.s->sessions().startOutgoing(r) != 0);
    QTRY_VERIFY_WITH_TIMEOUT(stranger.ui.browser && stranger.ui.ended == 1, 15000);
    QCOMPARE(stranger.rows(), QStringList{});
    QVERIFY(stranger.listed([&](RemoteBrowser& b) { b.openFolder(o.path("gen")); }));
    QCOMPARE(stranger.rows(), QStringList{});
    stranger.ui.browser->download(o.path("gen/g.txt"));
    QTRY_COMPARE_WITH_TIMEOUT(stranger.ui.results, QList<int>{SendRefused}, 10000);
    QCOMPARE(o.m->rowCount(), 0);
    QVERIFY(o.c->browsingRows().isEmpty());
    QVERIFY(o.ui.popups.filter(u"Is Browsing"_s).isEmpty());
}

void TestShareSession::kick()
{
    Core v(u"Viewer"_s, "uid-v"), o(u"Owner"_s, "uid-o");
    QVERIFY(v.start() && o.start());
    QVERIFY(connectPair(v, o));
    shareTree(o, v.uid);
    QVERIFY(openBrowser(v, o));
    QTRY_COMPARE_WITH_TIMEOUT(o.c->browsingRows().size(), qsizetype(1), 10000);
    o.c->KickUser(0);
    QTRY_VERIFY_WITH_TIMEOUT(o.c->browsingRows().isEmpty(), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(v.ui.closed, 1, 10000);
    QVERIFY(!v.ui.browser);
    QTRY_COMPARE_WITH_TIMEOUT(v.s->sessions().count() + o.s->sessions().count(), 0, 10000);
}

void TestShareSession::kickFromWindow()
{
    Core v(u"Viewer"_s, "uid-v"), o(u"Owner"_s, "uid-o");
    QVERIFY(v.start() && o.start());
    CClientDlg window(*o.c);
    o.ui.rowsChanged = [&] { window.refresh(); };
    QVERIFY(connectPair(v, o));
    shareTree(o, v.uid);
    QVERIFY(openBrowser(v, o));
    QTRY_COMPARE_WITH_TIMEOUT(window.list()->topLevelItemCount(), 1, 10000);
    QCOMPARE(window.windowTitle(), u"Contacts Browsing Our Shares..."_s);
    QCOMPARE(window.list()->topLevelItem(0)->text(0), u"Viewer (127.0.0.1)"_s);
    window.KickUser(0);
    QTRY_COMPARE_WITH_TIMEOUT(window.list()->topLevelItemCount(), 0, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(v.ui.closed, 1, 10000);
    o.ui.rowsChanged = nullptr;
}

QTEST_MAIN(TestShareSession)
#include "tst_sharesession.moc"

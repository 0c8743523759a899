// The share browser window over the browser logic: what the user clicks
// reaches the owner as requests (recorded at the session's request
// interface), and what the owner answers shows in the list and status line.

#include "shell/browsedlg.h"
#include "shell/listctrlex.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// The requests as the owner would receive them, one text each.
struct Requests : BrowseRequests
{
    QStringList sent;
    void stop() override { sent << u"stop"_s; }
    void listRoots() override { sent << u"roots"_s; }
    void listFolder(const QByteArray& path) override
    {
        sent << u"list "_s + QString::fromUtf8(path);
    }
    void search(const QByteArray& pattern, const QByteArray& path, bool sub) override
    {
        sent << u"search %1 %2 %3"_s.arg(QString::fromUtf8(pattern), QString::fromUtf8(path))
                    .arg(sub ? 1 : 0);
    }
    void sendRequest(const QByteArray& path) override
    {
        sent << u"send "_s + QString::fromUtf8(path);
    }
};

ShareEntry folder(const QByteArray& path)
{
    ShareEntry e;
    e.path = path;
    e.folder = true;
    return e;
}

ShareEntry file(const QByteArray& path, quint64 size = 10, qint64 modified = 0)
{
    ShareEntry e;
    e.path = path;
    e.size = size;
    e.modified = modified;
    return e;
}

// The owner's answer to the request last sent: the entries, then the end.
// Each folder holds one sub-folder "<path>/d" and one file "<path>/f.txt".
void answer(RemoteBrowser& b, const QByteArray& path)
{
    b.addEntries({folder(path + "/d"), file(path + "/f.txt")});
    b.endOfList();
}

struct Window
{
    Requests requests;
    RemoteBrowser browser{u"Owner (127.0.0.1)"_s, requests};
    int closes = 0;
    CBrowseDlg dlg{browser, [this] { ++closes; }};

    Window()
    {
        browser.start();
        browser.addEntries({folder("/r1"), folder("/r2")});
        browser.endOfList();
    }
    QStringList column(int c) const
    {
        QStringList out;
        for (int i = 0; i < dlg.list()->topLevelItemCount(); ++i)
            out << dlg.list()->topLevelItem(i)->text(c);
        return out;
    }
    // Double-clicks the row with this name in column 0.
    void open(const QString& name)
    {
        const auto items = dlg.list()->findItems(name, Qt::MatchExactly, 0);
        QVERIFY(!items.isEmpty());
        dlg.activateRow(dlg.list()->indexOfTopLevelItem(items.first()));
    }
};

} // namespace

class TestBrowseDlg : public QObject
{
    Q_OBJECT
private slots:
    void startsAtHome();
    void history_data();
    void history();
    void search_data();
    void search();
    void fullPaths_data();
    void fullPaths();
    void rowsAndMenus();
    void closeEndsSession();
};

void TestBrowseDlg::startsAtHome()
{
    Window w;
    QCOMPARE(w.dlg.windowTitle(), u"Shared Folders of: Owner (127.0.0.1)"_s);
    QCOMPARE(w.requests.sent, QStringList{u"roots"_s});
    QCOMPARE(w.column(0), (QStringList{u"r1"_s, u"r2"_s}));
    QCOMPARE(w.dlg.statusLine()->text(), u" Items: 2  Directory: HOME"_s);
    QVERIFY(w.dlg.minimumWidth() == 400 && w.dlg.minimumHeight() == 210);
    QVERIFY(w.dlg.subDirsCheck()->isChecked());
    QVERIFY(!w.dlg.stopButton()->isEnabled());
    QVERIFY(!w.dlg.backButton()->isEnabled() && !w.dlg.forwardButton()->isEnabled());
}

void TestBrowseDlg::history_data()
{
    // Steps: "open NAME" (double click, answered by the owner), "back",
    // "forward", "home", "refresh" (answered). The requests after start.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("requests");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("status");
    QTest::addColumn<bool>("backEnabled");
    QTest::addColumn<bool>("forwardEnabled");

    QTest::newRow("open, back: the roots from memory")
        << QStringList{u"open r1"_s, u"back"_s} << QStringList{u"list /r1"_s}
        << QStringList{u"r1"_s, u"r2"_s} << u" Items: 2  Directory: HOME"_s << false << true;
    QTest::newRow("open, back, forward: the folder again without a request")
        << QStringList{u"open r1"_s, u"back"_s, u"forward"_s} << QStringList{u"list /r1"_s}
        << QStringList{u"d"_s, u"f.txt"_s} << u" Items: 2  Directory: /r1"_s << true << false;
    QTest::newRow("three deep, Home: the first view from memory")
        << QStringList{u"open r1"_s, u"open d"_s, u"open d"_s, u"home"_s}
        << QStringList{u"list /r1"_s, u"list /r1/d"_s, u"list /r1/d/d"_s}
        << QStringList{u"r1"_s, u"r2"_s} << u" Items: 2  Directory: HOME"_s << false << false;
    QTest::newRow("Home without history asks for the roots")
        << QStringList{u"home"_s} << QStringList{u"roots"_s} << QStringList{}
        << u" Items: 0  Directory: HOME"_s << false << false;
    QTest::newRow("refresh re-asks for the folder, history kept")
        << QStringList{u"open r2"_s, u"refresh"_s} << QStringList{u"list /r2"_s, u"list /r2"_s}
        << QStringList{u"d"_s, u"f.txt"_s} << u" Items: 2  Directory: /r2"_s << true << false;
    QTest::newRow("a new folder after back clears forward")
        << QStringList{u"open r1"_s, u"back"_s, u"open r2"_s}
        << QStringList{u"list /r1"_s, u"list /r2"_s} << QStringList{u"d"_s, u"f.txt"_s}
        << u" Items: 2  Directory: /r2"_s << true << false;
}

void TestBrowseDlg::history()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, requests);
    QFETCH(QStringList, names);
    QFETCH(QString, status);
    QFETCH(bool, backEnabled);
    QFETCH(bool, forwardEnabled);

    Window w;
    w.requests.sent.clear();
    for (const QString& step : steps) {
        if (step.startsWith(u"open "_s)) {
            w.open(step.mid(5));
            QVERIFY(w.browser.isBusy());
            QVERIFY(!w.dlg.list()->isEnabled() && w.dlg.stopButton()->isEnabled());
            QVERIFY(!w.dlg.homeButton()->isEnabled() && !w.dlg.backButton()->isEnabled());
            answer(w.browser, w.browser.currentPath());
        } else if (step == u"back") {
            QTest::mouseClick(w.dlg.backButton(), Qt::LeftButton);
        } else if (step == u"forward") {
            QTest::mouseClick(w.dlg.forwardButton(), Qt::LeftButton);
        } else if (step == u"home") {
            QTest::mouseClick(w.dlg.homeButton(), Qt::LeftButton);
        } else if (step == u"refresh") {
            QTest::mouseClick(w.dlg.refreshButton(), Qt::LeftButton);
            QCOMPARE(w.column(0), QStringList{});
            answer(w.browser, w.browser.currentPath());
        }
    }
    QCOMPARE(w.requests.sent, requests);
    QCOMPARE(w.column(0), names);
    QCOMPARE(w.dlg.statusLine()->text(), status);
    QCOMPARE(w.dlg.backButton()->isEnabled(), backEnabled);
    QCOMPARE(w.dlg.forwardButton()->isEnabled(), forwardEnabled);
}

void TestBrowseDlg::search_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("exact");
    QTest::addColumn<bool>("subDirs");
    QTest::addColumn<QString>("request");

    const QString refused;
    for (const char* bad : {"a:b", "c\\d", "e/f", "g?", "\"h\"", "<i", "j>", "k|l"})
        QTest::addRow("refused %s", bad) << QString::fromUtf8(bad) << false << true << refused;
    QTest::newRow("an asterisk travels inside the added ones")
        << u"a*b"_s << false << true << u"search *a*b* HOME 1"_s;
    QTest::newRow("exact, without sub-folders")
        << u"x.txt"_s << true << false << u"search x.txt HOME 0"_s;
}

void TestBrowseDlg::search()
{
    QFETCH(QString, text);
    QFETCH(bool, exact);
    QFETCH(bool, subDirs);
    QFETCH(QString, request);

    Window w;
    w.requests.sent.clear();
    w.dlg.exactCheck()->setChecked(exact);
    w.dlg.subDirsCheck()->setChecked(subDirs);
    QTest::keyClicks(w.dlg.searchEdit(), text);
    QTest::mouseClick(w.dlg.searchButton(), Qt::LeftButton);
    if (request.isEmpty()) {
        QCOMPARE(w.requests.sent, QStringList{});
        QCOMPARE(w.dlg.statusLine()->text(),
                 u" Search string contains an invalid character: \\ / : ? \" < > |"_s);
        // Nothing else changed: the roots are still listed and usable.
        QVERIFY(w.dlg.list()->isEnabled());
        QCOMPARE(w.column(0), (QStringList{u"r1"_s, u"r2"_s}));
        // The message gives way to the listing's status after its 7 seconds.
        w.browser.resultTextExpired();
        QCOMPARE(w.dlg.statusLine()->text(), u" Items: 2  Directory: HOME"_s);
        return;
    }
    QCOMPARE(w.requests.sent, QStringList{request});
    QVERIFY(w.dlg.stopButton()->isEnabled() && !w.dlg.searchButton()->isEnabled());
    answer(w.browser, "/r1");
    // Back returns to the roots with the search text and checks of then.
    QTest::mouseClick(w.dlg.backButton(), Qt::LeftButton);
    QCOMPARE(w.column(0), (QStringList{u"r1"_s, u"r2"_s}));
    QCOMPARE(w.dlg.exactCheck()->isChecked(), exact);
    QCOMPARE(w.dlg.subDirsCheck()->isChecked(), subDirs);
    QTest::mouseClick(w.dlg.forwardButton(), Qt::LeftButton);
    QCOMPARE(w.dlg.searchEdit()->text(), text);
    QCOMPARE(w.requests.sent.size(), 1);
}

void TestBrowseDlg::fullPaths_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QString>("shortName");
    QTest::addColumn<QString>("fullName");

    QTest::newRow("posix folder") << "/srv/share/music"_ba << u"music"_s << u"/srv/share/music"_s;
    QTest::newRow("trailing slash") << "/srv/share/"_ba << u"share"_s << u"/srv/share/"_s;
    QTest::newRow("drive root") << "C:\\"_ba << u"C:"_s << u"C:\\"_s;
    QTest::newRow("backslash path") << "D:\\a\\b.txt"_ba << u"b.txt"_s << u"D:\\a\\b.txt"_s;
    QTest::newRow("filesystem root") << "/"_ba << u"/"_s << u"/"_s;
}

void TestBrowseDlg::fullPaths()
{
    QFETCH(QByteArray, path);
    QFETCH(QString, shortName);
    QFETCH(QString, fullName);

    Window w;
    w.open(u"r1"_s);
    w.browser.addEntries({folder(path), file(path + "-x")});
    w.browser.endOfList();
    const QString other = QString::fromUtf8(path + "-x");
    QCOMPARE(w.column(0).first(), shortName);
    QTest::mouseClick(w.dlg.fullPathsCheck(), Qt::LeftButton);
    QCOMPARE(w.column(0), (QStringList{fullName, other}));
    // A view restored later follows the setting in force then.
    QTest::mouseClick(w.dlg.backButton(), Qt::LeftButton);
    QCOMPARE(w.column(0), (QStringList{u"/r1"_s, u"/r2"_s}));
    QTest::mouseClick(w.dlg.fullPathsCheck(), Qt::LeftButton);
    QTest::mouseClick(w.dlg.forwardButton(), Qt::LeftButton);
    QCOMPARE(w.column(0).first(), shortName);
    QVERIFY(w.dlg.fullPathsCheck()->isEnabled() && !w.dlg.fullPathsCheck()->isChecked());
}

void TestBrowseDlg::rowsAndMenus()
{
    Window w;
    w.open(u"r1"_s);
    // 1,500,000 bytes, and a time in the past; a folder has neither.
    w.browser.addEntries(
        {folder("/r1/sub"), file("/r1/a.bin", 1500000, 1700000000), file("/r1/b.bin", 0, 0)});
    w.browser.endOfList();
    QCOMPARE(w.column(1), (QStringList{QString(), RemoteBrowser::sizeText(file("", 1500000)),
                                       RemoteBrowser::sizeText(file("", 0))}));
    QVERIFY(!w.column(2)[1].isEmpty());
    QCOMPARE(w.column(2)[0], QString());
    QCOMPARE(w.column(2)[2], QString());
    QCOMPARE(CBrowseDlg::menuItems(w.browser.rows()[0]),
             (QStringList{u"Open this Folder"_s, u"Download this Folder"_s}));
    QCOMPARE(CBrowseDlg::menuItems(w.browser.rows()[1]), QStringList{u"Download this File"_s});
    // Double click on a file asks for it and changes nothing else.
    w.requests.sent.clear();
    w.open(u"a.bin"_s);
    QCOMPARE(w.requests.sent, QStringList{u"send /r1/a.bin"_s});
    QVERIFY(!w.browser.isBusy());
    w.browser.sendResult(50);
    QCOMPARE(w.dlg.statusLine()->text(), u" Transfer was Queued."_s);
    // Stop goes out even while busy.
    QTest::mouseClick(w.dlg.refreshButton(), Qt::LeftButton);
    QTest::mouseClick(w.dlg.stopButton(), Qt::LeftButton);
    QCOMPARE(w.requests.sent.mid(1), (QStringList{u"list /r1"_s, u"stop"_s}));
}

void TestBrowseDlg::closeEndsSession()
{
    Window w;
    w.dlg.show();
    QTest::keyClick(&w.dlg, Qt::Key_Escape);
    QVERIFY(w.dlg.isVisible());
    QCOMPARE(w.closes, 0);
    w.dlg.close();
    QCOMPARE(w.closes, 1);
    // Once the session is gone the window no longer reaches for it.
    w.dlg.detach();
    w.dlg.close();
    QCOMPARE(w.closes, 1);
}

QTEST_MAIN(TestBrowseDlg)
#include "tst_browsedlg.moc"

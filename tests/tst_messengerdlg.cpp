// The tables below use plain string literals.
#undef QT_NO_CAST_FROM_ASCII

#include "messenger/messengercontroller.h"
#include "profile/profilestore.h"
#include "shell/contactlabels.h"
#include "shell/editdlg.h"
#include "shell/listctrlex.h"
#include "shell/messengerdlg.h"
#include "shell/shellfiles.h"
#include "shell/shellui.h"
#include "shell/splitters.h"
#include "shelltestsupport.h"

#include "shell/msgrichedit2.h"
#include "shell/staticcolor.h"

#include <QClipboard>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QtTest>

#include <deque>
#include <memory>

namespace {

Contact makeContact(const QString& name, int status, const QString& alias = QString(),
                    const QString& ip = QStringLiteral("10.0.0.7"))
{
    Contact c = NewContact();
    c.name.setText(name);
    c.alias.setText(alias);
    c.ip.setText(ip);
    c.status = status;
    return c;
}

// Types text into the next modal input dialog and presses OK.
void answerNextPrompt(const QString& text)
{
    QTimer::singleShot(0, [text] {
        auto* dlg = qobject_cast<CEditDlg*>(QApplication::activeModalWidget());
        QVERIFY(dlg);
        dlg->edit()->setText(text);
        dlg->accept();
    });
}

} // namespace

class TestMessengerDlg : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void labels_data();
    void labels();
    void listGroupsByStatusThenLabel_data();
    void listGroupsByStatusThenLabel();
    void contactLine_data();
    void contactLine();
    void letterSearch_data();
    void letterSearch();
    void prompts_data();
    void prompts();
    void contextMenu_data();
    void contextMenu();
    void copyAddress_data();
    void copyAddress();
    void autosavePath_data();
    void autosavePath();
    void drops_data();
    void drops();
    void properties();

    void minimumSize_data();
    void minimumSize();
    void barsKeepTwoHundredPixels();
    void splitterRange_data();
    void splitterRange();
    void dragMovesTheBarAndItsNeighbours_data();
    void dragMovesTheBarAndItsNeighbours();
    void geometryRoundTripThroughWindowPos();
    void viewToggleWritesSettingsAtOnce();
    void startHiddenUntilRestored();
    void closeBoxAndEscapeKeepTheWindow();

private:
    void addRows(const QList<Contact>& contacts);
    QStringList rowNames() const;

    struct Box
    {
        QString caption;
        QString text;
    };
    QList<Box> m_boxes;
    QuietProfileUi m_profileUi;
    std::unique_ptr<ShellUi> m_ui;
    std::unique_ptr<MessengerController> m_controller;
    std::deque<Contact> m_contacts;
    CMessengerDlg* m_window = nullptr;
};

void TestMessengerDlg::init()
{
    m_boxes.clear();
    SetMessageBoxHook(
        [this](QWidget*, QMessageBox::Icon, const QString& caption, const QString& text) {
            m_boxes.append({caption, text});
        });
    m_ui = std::make_unique<ShellUi>();
    m_controller = std::make_unique<MessengerController>(m_ui.get(), &m_profileUi);
    m_ui->attach(*m_controller, nullptr);
    m_window = m_ui->mainWindow();
}

void TestMessengerDlg::cleanup()
{
    m_ui.reset();
    m_controller.reset();
    m_contacts.clear();
    SetMessageBoxHook({});
}

void TestMessengerDlg::addRows(const QList<Contact>& contacts)
{
    for (const Contact& c : contacts) {
        m_contacts.push_back(c);
        m_window->addContactRow(m_contacts.back());
    }
}

QStringList TestMessengerDlg::rowNames() const
{
    QStringList out;
    CListCtrlEx* list = m_window->contactList();
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        out << list->topLevelItem(i)->text(0);
    return out;
}

void TestMessengerDlg::labels_data()
{
    QTest::addColumn<QString>("alias");
    QTest::addColumn<QString>("dns");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("away");
    QTest::addColumn<QString>("withAddress");
    QTest::addColumn<QString>("withoutAddress");

    QTest::newRow("alias, away with message") << "Bob"
                                              << "" << 2 << "lunch"
                                              << "Bob (10.0.0.7) - lunch"
                                              << "Bob - lunch";
    QTest::newRow("away with an empty message has no suffix") << "Bob"
                                                              << "" << 2 << ""
                                                              << "Bob (10.0.0.7)"
                                                              << "Bob";
    QTest::newRow("away") << ""
                          << "" << 1 << "ignored"
                          << "robert (10.0.0.7) - Away"
                          << "robert - Away";
    QTest::newRow("DNS name before the IP") << ""
                                            << "bob.example.org" << 0 << ""
                                            << "robert (bob.example.org)"
                                            << "robert";
    QTest::newRow("offline") << "Bob"
                             << "" << 3 << "x"
                             << "Bob (10.0.0.7)"
                             << "Bob";
    QTest::newRow("blocked") << ""
                             << "" << 4 << "x"
                             << "robert (10.0.0.7)"
                             << "robert";
}

void TestMessengerDlg::labels()
{
    QFETCH(QString, alias);
    QFETCH(QString, dns);
    QFETCH(int, status);
    QFETCH(QString, away);
    QFETCH(QString, withAddress);
    QFETCH(QString, withoutAddress);
    Contact c = makeContact(QStringLiteral("robert"), status, alias);
    c.dns.setText(dns);
    c.awayMessage.setText(away);
    QCOMPARE(ContactText::label(c, true), withAddress);
    QCOMPARE(ContactText::label(c, false), withoutAddress);
}

void TestMessengerDlg::listGroupsByStatusThenLabel_data()
{
    QTest::addColumn<QList<Contact>>("contacts");
    QTest::addColumn<QStringList>("rows");

    QTest::newRow("Online first, Blocked last, each group by label")
        << QList<Contact>{makeContact("zed", 4), makeContact("yan", 3), makeContact("Bea", 0),
                          makeContact("abe", 1), makeContact("cat", 0), makeContact("dan", 3),
                          makeContact("Ann", 4)}
        << QStringList{"Bea", "cat", "abe - Away", "dan", "yan", "Ann", "zed"};
    QTest::newRow("away with message between Away and Offline")
        << QList<Contact>{makeContact("x", 3), makeContact("y", 2), makeContact("z", 1)}
        << QStringList{"z - Away", "y", "x"};
}

void TestMessengerDlg::listGroupsByStatusThenLabel()
{
    QFETCH(QList<Contact>, contacts);
    QFETCH(QStringList, rows);
    addRows(contacts);
    QCOMPARE(rowNames(), rows);
}

void TestMessengerDlg::contactLine_data()
{
    QTest::addColumn<QString>("dns");
    QTest::addColumn<QString>("line");
    QTest::newRow("without DNS") << ""
                                 << "Bobby (10.0.0.7:8410)";
    QTest::newRow("with DNS") << "bob.example.org"
                              << "Bobby (bob.example.org,10.0.0.7:8410)";
}

void TestMessengerDlg::contactLine()
{
    QFETCH(QString, dns);
    QFETCH(QString, line);
    Contact c = makeContact(QStringLiteral("bob"), 0, QStringLiteral("Bobby"));
    c.dns.setText(dns);
    addRows({c});
    m_window->selectOnly(m_contacts.back());
    QCOMPARE(m_window->contactLine()->text(), line);
}

void TestMessengerDlg::letterSearch_data()
{
    QTest::addColumn<int>("markRow");
    QTest::addColumn<QString>("key");
    QTest::addColumn<int>("found"); // -1: nothing selected

    // Rows in list order (by alias): Ann, bob, Bert, carl, Ben.
    QTest::newRow("next match after the mark") << 1 << "b" << 2;
    QTest::newRow("upper case key") << 0 << "B" << 1;
    QTest::newRow("wraps to the top") << 4 << "a" << 0;
    QTest::newRow("the marked row itself after a full wrap") << 3 << "c" << 3;
    QTest::newRow("no match leaves nothing selected") << 0 << "z" << -1;
    QTest::newRow("no row selected starts at the top") << -1 << "b" << 1;
    QTest::newRow("digit") << 0 << "7" << -1;
}

void TestMessengerDlg::letterSearch()
{
    QFETCH(int, markRow);
    QFETCH(QString, key);
    QFETCH(int, found);
    // All Online: the labels keep this order.
    addRows({makeContact("Ann", 0), makeContact("bob", 0, "bob1"), makeContact("Bert", 0, "bob2"),
             makeContact("carl", 0, "bob3"), makeContact("Ben", 0, "bob4")});
    CListCtrlEx* list = m_window->contactList();
    if (markRow >= 0)
        list->setCurrentItem(list->topLevelItem(markRow));
    else
        list->setCurrentItem(nullptr);
    m_window->searchKey(key.at(0));
    const QList<QTreeWidgetItem*> selected = list->selectedItems();
    if (found < 0) {
        QVERIFY(selected.isEmpty());
    } else {
        QCOMPARE(selected.size(), 1);
        QCOMPARE(list->indexOfTopLevelItem(selected.first()), found);
        QCOMPARE(list->currentItem(), selected.first());
    }
}

void TestMessengerDlg::prompts_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("stored");  // the field afterwards
    QTest::addColumn<QString>("caption"); // of the warning; empty: none

    using D = CMessengerDlg;
    QTest::newRow("port 0") << int(D::EditPort) << "0"
                            << "8410"
                            << "Invalid Port Value";
    QTest::newRow("port 65536") << int(D::EditPort) << "65536"
                                << "8410"
                                << "Invalid Port Value";
    QTest::newRow("port as text") << int(D::EditPort) << "eighty"
                                  << "8410"
                                  << "Invalid Port Value";
    QTest::newRow("port 65535") << int(D::EditPort) << "65535"
                                << "65535"
                                << "";
    QTest::newRow("key of 8 characters") << int(D::EditKey) << "ABCDEFGH"
                                         << "QRT482LMN"
                                         << "Encryption Key Invalid";
    QTest::newRow("key of 9 characters") << int(D::EditKey) << "ABCDEFGHI"
                                         << "ABCDEFGHI"
                                         << "";
    QTest::newRow("empty IP ignored") << int(D::EditIp) << ""
                                      << "10.0.0.7"
                                      << "";
    QTest::newRow("new IP") << int(D::EditIp) << "192.168.1.9"
                            << "192.168.1.9"
                            << "";
}

void TestMessengerDlg::prompts()
{
    QFETCH(int, command);
    QFETCH(QString, entry);
    QFETCH(QString, stored);
    QFETCH(QString, caption);
    addRows({makeContact("bob", 0)});
    Contact& c = m_contacts.back();
    answerNextPrompt(entry);
    m_window->runContactCommand(command, c);
    const QString value = command == CMessengerDlg::EditPort  ? QString::number(c.port)
                          : command == CMessengerDlg::EditKey ? c.key.text()
                                                              : c.ip.text();
    QCOMPARE(value, stored);
    if (caption.isEmpty()) {
        QVERIFY(m_boxes.isEmpty());
    } else {
        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(m_boxes[0].caption, caption);
        QCOMPARE(m_boxes[0].text, command == CMessengerDlg::EditPort
                                      ? QStringLiteral("Port entered is not valid.")
                                      : QStringLiteral("Encryption key must be at least 9 "
                                                       "characters long."));
    }
}

void TestMessengerDlg::contextMenu_data()
{
    QTest::addColumn<bool>("connected");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("dns");
    QTest::addColumn<bool>("queue");
    QTest::addColumn<bool>("shares");
    QTest::addColumn<bool>("autoAcceptAll");
    QTest::addColumn<QStringList>("top");
    QTest::addColumn<QStringList>("advanced");

    const QStringList tail{"Edit Shared Folders", "Autosave Files && Folders",
                           "Open Download Folder", "Connect to All Contacts", "Properties"};
    const QStringList plainAdvanced{
        "Ping IP",         "Copy IP",           "Edit IP", "Edit Port", "Edit Encryption Key",
        "Edit Alias Name", "Edit AutoSave Path"};
    QTest::newRow("offline, nothing extra")
        << false << 3 << false << false << false << false
        << (QStringList{"Queue File or Folder", "Connect", "Block", "Delete", "Show Chat Dialog",
                        "Clear Messages", "-", "Advanced"} +
            tail)
        << plainAdvanced;
    QStringList withoutAutosave = tail;
    withoutAutosave.removeOne("Autosave Files && Folders");
    QTest::newRow("auto accept all: no autosave toggle")
        << false << 3 << false << false << false << true
        << (QStringList{"Queue File or Folder", "Connect", "Block", "Delete", "Show Chat Dialog",
                        "Clear Messages", "-", "Advanced"} +
            withoutAutosave)
        << plainAdvanced;
    QTest::newRow("connected, sharing, DNS and a queue")
        << true << 0 << true << true << true << false
        << (QStringList{"Send File or Folder", "Disconnect", "Block", "Delete", "Show Chat Dialog",
                        "Clear Messages", "-", "Advanced", "View Remote Folders"} +
            tail)
        << QStringList{"Ping IP",
                       "Ping DNS",
                       "Copy IP",
                       "Copy DNS",
                       "Edit IP",
                       "Edit Port",
                       "Edit Encryption Key",
                       "Edit Alias Name",
                       "Edit AutoSave Path",
                       "View Queued Messages",
                       "Clear Queued Messages"};
    QTest::newRow("connected but showing Offline queues")
        << true << 3 << false << false << false << false
        << (QStringList{"Queue File or Folder", "Disconnect", "Block", "Delete", "Show Chat Dialog",
                        "Clear Messages", "-", "Advanced"} +
            tail)
        << plainAdvanced;
    QTest::newRow("blocked") << false << 4 << false << false << false << false
                             << (QStringList{"Queue File or Folder", "Connect", "UnBlock", "Delete",
                                             "Show Chat Dialog", "Clear Messages", "-",
                                             "Advanced"} +
                                 tail)
                             << plainAdvanced;
}

void TestMessengerDlg::contextMenu()
{
    QFETCH(bool, connected);
    QFETCH(int, status);
    QFETCH(bool, dns);
    QFETCH(bool, queue);
    QFETCH(bool, shares);
    QFETCH(bool, autoAcceptAll);
    QFETCH(QStringList, top);
    QFETCH(QStringList, advanced);
    Contact c = makeContact(QStringLiteral("bob"), status);
    c.sessionThread = connected ? 7 : 0;
    c.blocked = status == 4 ? 1 : 0;
    if (dns)
        c.dns.setText(QStringLiteral("bob.example.org"));
    if (queue)
        c.queue = "{\\rtf1 x\\par\r\n}\r\n";
    c.peerShares = shares ? 1 : 0;
    addRows({c});
    m_controller->SetViewOption(&Settings::autoAcceptAll, autoAcceptAll ? 1 : 0);
    std::unique_ptr<QMenu> menu(m_window->contextMenu(m_contacts.back()));
    QCOMPARE(menuTexts(menu.get()), top);
    QMenu* sub = nullptr;
    for (QAction* a : menu->actions()) {
        if (a->menu())
            sub = a->menu();
    }
    QVERIFY(sub);
    QCOMPARE(sub->title(), QStringLiteral("Advanced"));
    QCOMPARE(menuTexts(sub), advanced);
}

void TestMessengerDlg::copyAddress_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<QString>("dns");
    QTest::addColumn<QString>("clipboard");
    QTest::newRow("Copy IP") << int(CMessengerDlg::CopyIp) << ""
                             << "10.0.0.7";
    QTest::newRow("Copy DNS") << int(CMessengerDlg::CopyDns) << "bob.example.org"
                              << "bob.example.org";
    QTest::newRow("no DNS name leaves the clipboard") << int(CMessengerDlg::CopyDns) << ""
                                                      << "before";
}

void TestMessengerDlg::copyAddress()
{
    QFETCH(int, command);
    QFETCH(QString, dns);
    QFETCH(QString, clipboard);
    QApplication::clipboard()->setText(QStringLiteral("before"));
    Contact c = makeContact(QStringLiteral("bob"), 0);
    c.dns.setText(dns);
    addRows({c});
    m_window->runContactCommand(command, m_contacts.back());
    QCOMPARE(QApplication::clipboard()->text(), clipboard);
}

void TestMessengerDlg::autosavePath_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("stored");  // the template afterwards
    QTest::addColumn<QString>("created"); // folder below the autosave folder; empty: none
    QTest::addColumn<QString>("caption"); // of the warning; empty: none

    QTest::newRow("empty entry: the default template") << ""
                                                       << "%autosavedir%\\%contactname%"
                                                       << "bob"
                                                       << "";
    QTest::newRow("template with subfolders") << "%autosavedir%\\in\\%contactname%"
                                              << "%autosavedir%\\in\\%contactname%"
                                              << "in/bob"
                                              << "";
    QTest::newRow("below a file: refused") << "%autosavedir%\\afile\\x"
                                           << "%autosavedir%\\%contactname%"
                                           << ""
                                           << "Invalid Path";
}

void TestMessengerDlg::autosavePath()
{
    QFETCH(QString, entry);
    QFETCH(QString, stored);
    QFETCH(QString, created);
    QFETCH(QString, caption);
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("afile")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    Settings s = m_controller->settings();
    s.autosaveDir = dir.path().toUtf8();
    s.autosaveSubfolders = 1;
    m_controller->ApplyOptions(s, m_controller->myIdentity());
    addRows({makeContact("bob", 0)});
    Contact& c = m_contacts.back();

    // Nothing received yet: no download folder.
    m_window->runContactCommand(CMessengerDlg::OpenDownloadFolder, c);
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(m_boxes.takeFirst().caption, QStringLiteral("Folder not found"));

    answerNextPrompt(entry);
    m_window->runContactCommand(CMessengerDlg::EditAutosavePath, c);
    QCOMPARE(c.autosavePath.text(), stored);
    if (!created.isEmpty())
        QVERIFY(QFileInfo(dir.filePath(created)).isDir());
    if (caption.isEmpty()) {
        QVERIFY(m_boxes.isEmpty());
    } else {
        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(m_boxes[0].caption, caption);
        QCOMPARE(m_boxes[0].text,
                 QStringLiteral("The autosave path you entered could not be created.\nMake sure "
                                "path is of valid syntax, location, and length."));
    }
}

void TestMessengerDlg::drops_data()
{
    QTest::addColumn<bool>("selected");
    QTest::addColumn<int>("files");
    QTest::addColumn<bool>("missing"); // one more path that does not exist
    QTest::addColumn<QString>("caption");

    QTest::newRow("no contact selected") << false << 1 << false << "No Contact Selected";
    QTest::newRow("101 items") << true << 101 << false << "Too many files";
    QTest::newRow("100 items") << true << 100 << false << "";
    QTest::newRow("one unreadable item") << true << 3 << true << "One or More Dropped Files Failed";
}

void TestMessengerDlg::drops()
{
    QFETCH(bool, selected);
    QFETCH(int, files);
    QFETCH(bool, missing);
    QFETCH(QString, caption);
    QTemporaryDir dir;
    QStringList paths;
    for (int i = 0; i < files; ++i) {
        const QString p = dir.filePath(QStringLiteral("f%1").arg(i));
        QFile f(p);
        QVERIFY(f.open(QIODevice::WriteOnly));
        paths << p;
    }
    if (missing)
        paths << dir.filePath(QStringLiteral("gone"));
    addRows({makeContact("bob", 0)});
    if (selected)
        m_window->selectOnly(m_contacts.back());
    m_window->dropFiles(paths);
    if (caption.isEmpty()) {
        QVERIFY(m_boxes.isEmpty());
    } else {
        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(m_boxes[0].caption, caption);
    }
}

void TestMessengerDlg::properties()
{
    Contact c = makeContact(QStringLiteral("bob"), 3);
    c.connectTime = 1000;
    c.disconnectTime = 0;
    const QString never = ContactText::properties(c, 5000);
    QVERIFY(never.contains(QStringLiteral("Disconnect Time:\tContact has never disconnected\n")));
    QVERIFY(never.contains(QStringLiteral("Alias Name:\t\t(none)\n")));
    QVERIFY(never.contains(QStringLiteral("DNS:\t\t\t(none)\n")));
    // Not connected: the duration runs to the disconnect time.
    c.disconnectTime = 1000 + 86400 + 2 * 3600 + 3 * 60 + 4;
    QVERIFY(ContactText::properties(c, 999999).endsWith(
        QStringLiteral("Connected Duration:\tdays:1 hr:2 min:3 sec:4")));
    // Connected: it runs to now.
    c.sessionThread = 3;
    QVERIFY(ContactText::properties(c, 1000 + 61)
                .endsWith(QStringLiteral("Connected Duration:\tdays:0 hr:0 min:1 sec:1")));
}

void TestMessengerDlg::minimumSize_data()
{
    QTest::addColumn<QSize>("asked");
    QTest::addColumn<QSize>("got");
    QTest::newRow("too small both ways") << QSize(300, 200) << QSize(380, 300);
    QTest::newRow("too narrow") << QSize(100, 500) << QSize(380, 500);
    QTest::newRow("too low") << QSize(600, 10) << QSize(600, 300);
    QTest::newRow("large enough") << QSize(640, 480) << QSize(640, 480);
}

void TestMessengerDlg::minimumSize()
{
    QFETCH(QSize, asked);
    QFETCH(QSize, got);
    m_window->resize(asked);
    QCOMPARE(m_window->size(), got);
}

void TestMessengerDlg::barsKeepTwoHundredPixels()
{
    m_window->resize(700, 500);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    m_window->verticalBar()->moveTo(120);
    m_window->horizontalBar()->moveTo(150);
    m_window->captureLayout();
    m_window->resize(720, 520);
    QCOMPARE(m_window->verticalBar()->x(), CMessengerDlg::BarRule);
    QCOMPARE(m_window->horizontalBar()->y(), CMessengerDlg::BarRule);
    // The neighbours follow the bar: the pane ends before it, the list starts after it.
    QCOMPARE(m_window->pane()->geometry().right(), CMessengerDlg::BarRule - 2);
    QCOMPARE(m_window->contactList()->x(),
             CMessengerDlg::BarRule + m_window->verticalBar()->width() + 1);
    // A bar further away stays.
    m_window->verticalBar()->moveTo(300);
    m_window->captureLayout();
    m_window->resize(760, 520);
    QCOMPARE(m_window->verticalBar()->x(), 300 + 40);
}

void TestMessengerDlg::splitterRange_data()
{
    QTest::addColumn<int>("before");
    QTest::addColumn<int>("after");
    QTest::addColumn<int>("low");
    QTest::addColumn<int>("high");
    // Parent 600 wide; left control from x 10, right control ends at 590; bar 4 wide.
    QTest::newRow("default margins") << 10 << 10 << 20 << 576;
    QTest::newRow("main window margins") << 200 << 100 << 210 << 486;
    QTest::newRow("no room") << 400 << 300 << 410 << 286;
}

void TestMessengerDlg::splitterRange()
{
    QFETCH(int, before);
    QFETCH(int, after);
    QFETCH(int, low);
    QFETCH(int, high);
    QWidget parent;
    parent.resize(600, 400);
    auto* left = new QWidget(&parent);
    left->setGeometry(10, 10, 290, 380);
    auto* right = new QWidget(&parent);
    right->setGeometry(305, 10, 285, 380);
    auto* bar = new CVertSplitter(&parent);
    bar->setGeometry(300, 10, 4, 380);
    bar->setSides({left}, {right});
    if (before != 10 || after != 10)
        bar->setMargins(before, after);
    QCOMPARE(bar->allowedRange(), qMakePair(low, high));
}

void TestMessengerDlg::dragMovesTheBarAndItsNeighbours_data()
{
    QTest::addColumn<int>("by");      // mouse movement
    QTest::addColumn<bool>("escape"); // Escape before the release
    QTest::addColumn<int>("barLeft"); // afterwards

    QTest::newRow("to the right") << 60 << false << 360;
    QTest::newRow("stops at the right margin") << 400 << false << 486;
    QTest::newRow("stops at the left margin") << -290 << false << 210;
    QTest::newRow("Escape cancels") << 60 << true << 300;
}

void TestMessengerDlg::dragMovesTheBarAndItsNeighbours()
{
    QFETCH(int, by);
    QFETCH(bool, escape);
    QFETCH(int, barLeft);
    QWidget parent;
    parent.resize(600, 400);
    auto* left = new QWidget(&parent);
    left->setGeometry(10, 10, 289, 380);
    auto* right = new QWidget(&parent);
    right->setGeometry(305, 10, 285, 380);
    auto* bar = new CVertSplitter(&parent);
    bar->setGeometry(300, 10, 4, 380);
    bar->setSides({left}, {right});
    bar->setMargins(200, 100);
    QSignalSpy moved(bar, &CSplitterBar::moved);
    parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&parent));

    QTest::mousePress(bar, Qt::LeftButton, {}, QPoint(2, 100));
    QVERIFY(bar->dragging());
    QMouseEvent move(QEvent::MouseMove, QPointF(2 + by, 100),
                     bar->mapToGlobal(QPointF(2 + by, 100)), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(bar, &move);
    if (escape)
        QTest::keyClick(bar, Qt::Key_Escape);
    QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(2 + by, 100));
    QVERIFY(!bar->dragging());
    QCOMPARE(bar->x(), barLeft);
    QCOMPARE(moved.count(), barLeft == 300 ? 0 : 1);
    if (barLeft != 300)
        QCOMPARE(moved.first().first().toInt(), barLeft - 300);
    // One pixel between the bar and each neighbour; the far edges stay.
    QCOMPARE(left->geometry().right(), barLeft - 2);
    QCOMPARE(left->x(), 10);
    QCOMPARE(right->x(), barLeft + 4 + 1);
    QCOMPARE(right->geometry().right(), 589);
}

void TestMessengerDlg::geometryRoundTripThroughWindowPos()
{
    QTemporaryDir dir;
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    m_window->resize(700, 520);
    m_window->verticalBar()->moveTo(330);
    m_window->horizontalBar()->moveTo(360);
    m_window->captureLayout();
    WindowPositions saved;
    m_window->storePositions(saved);
    QVERIFY(saved.moveMainWindow());

    ProfileStore store(dir.path() + QLatin1Char('/'), nullptr);
    QVERIFY(store.writeWindowPos(saved, {}));
    WindowPositions loaded;
    QList<Contact> none;
    QCOMPARE(store.loadWindowPos(loaded, none), ProfileStore::LoadOutcome::Loaded);

    // A fresh window takes the stored geometry.
    ShellUi ui;
    MessengerController controller(&ui, &m_profileUi);
    ui.attach(controller, nullptr);
    CMessengerDlg* again = ui.mainWindow();
    again->restorePositions(loaded);
    WindowPositions restored;
    again->storePositions(restored);
    QCOMPARE(restored.mainWindow.right - restored.mainWindow.left, 700);
    QCOMPARE(restored.mainWindow.bottom - restored.mainWindow.top, 520);
    QCOMPARE(restored.verticalDivider, saved.verticalDivider);
    QCOMPARE(restored.horizontalDivider, saved.horizontalDivider);

    // A window saved with right edge 0 keeps the size it was made with.
    ShellUi ui2;
    MessengerController controller2(&ui2, &m_profileUi);
    ui2.attach(controller2, nullptr);
    const QSize initial = ui2.mainWindow()->size();
    WindowPositions zero = loaded;
    zero.mainWindow.right = 0;
    ui2.mainWindow()->restorePositions(zero);
    QCOMPARE(ui2.mainWindow()->size(), initial);
}

void TestMessengerDlg::viewToggleWritesSettingsAtOnce()
{
    QTemporaryDir dir;
    ShellUi ui;
    MessengerController controller(&ui, &m_profileUi);
    ui.attach(controller, nullptr);
    const QString folder = dir.path() + QLatin1Char('/');
    controller.setProfileFolder(folder);
    controller.setListenAddress(QHostAddress::LocalHost);
    controller.setPortOverride(0);
    controller.start();

    struct Toggle
    {
        int command;
        int32_t Settings::*word;
    };
    for (const Toggle t : {Toggle{CMessengerDlg::ViewAddress, &Settings::showAddress},
                           Toggle{CMessengerDlg::ViewLargeIcons, &Settings::largeIcons},
                           Toggle{CMessengerDlg::ViewTranslucent, &Settings::translucent},
                           Toggle{CMessengerDlg::ViewAutoPopup, &Settings::autoPopupChat}}) {
        const bool before = Settings::on(controller.settings().*t.word);
        ui.mainWindow()->action(t.command)->trigger();
        Settings onDisk;
        QCOMPARE(ProfileStore(folder, nullptr).loadSettings(onDisk),
                 ProfileStore::LoadOutcome::Loaded);
        QCOMPARE(Settings::on(onDisk.*t.word), !before);
        QCOMPARE(ui.mainWindow()->action(t.command)->isChecked(), !before);
    }
    QSignalSpy exited(&controller, &MessengerController::exited);
    controller.Exit();
    QVERIFY(exited.count() == 1 || exited.wait(30000));
}

void TestMessengerDlg::startHiddenUntilRestored()
{
    // A "-m" start: every show is refused until the window is restored.
    m_window->setMayShow(false);
    m_window->show();
    QVERIFY(!m_window->isVisible());
    m_window->showNormal();
    QVERIFY(!m_window->isVisible());
    m_window->runCommand(CMessengerDlg::Restore);
    QVERIFY(m_window->isVisible());
    QVERIFY(m_window->mayShow());
}

void TestMessengerDlg::closeBoxAndEscapeKeepTheWindow()
{
    QPointer<CMessengerDlg> window(m_window);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    QTest::keyClick(m_window, Qt::Key_Escape);
    QVERIFY(m_window->isVisible());
    // The close box hides (to the tray, or minimised without one); the
    // window and its contents stay.
    QVERIFY(!m_window->close());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(window);
    QVERIFY(!m_window->isVisible() || m_window->isMinimized());
    m_window->restoreFromTray();
    QVERIFY(m_window->isVisible());
    QVERIFY(!m_window->isMinimized());
}

QTEST_MAIN(TestMessengerDlg)
#include "tst_messengerdlg.moc"

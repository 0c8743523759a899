// The tables below use plain string literals.
#undef QT_NO_CAST_FROM_ASCII

// The transfers window over real transfer managers: its rows, columns,
// context menus and commands, and rows driven by transfers between two
// programs on 127.0.0.1.

#include "shell/listctrlex.h"
#include "shell/messengerdlg.h"
#include "shell/msgrichedit2.h"
#include "shell/shellui.h"
#include "shelltestsupport.h"
#include "transfers/transferformat.h"
#include "xferpeer.h"

#include <QHeaderView>
#include <QMenu>
#include <QTest>

using namespace xfertest;
using S = TransferState;

namespace {

TransferListRow listed(S state, bool send, bool folder, const QString& senderPath,
                       const QString& savedPath = QString())
{
    Transfer t = NewTransfer();
    t.state = state;
    t.isSend = send ? 1 : 0;
    t.isFolder = folder ? 1 : 0;
    t.contactUid = "uid-b";
    t.senderPath = senderPath;
    t.savedPath = savedPath;
    t.totalSize = 3;
    t.statusText = QStringLiteral("Old status");
    return {t, QStringLiteral("Bob (127.0.0.1)")};
}

QStringList disabledTexts(const QMenu* menu)
{
    QStringList out;
    for (QAction* a : menu->actions()) {
        if (!a->isSeparator() && !a->isEnabled())
            out << a->text();
    }
    return out;
}

QAction* actionNamed(const QMenu* menu, const QString& text)
{
    for (QAction* a : menu->actions()) {
        if (a->text() == text)
            return a;
    }
    return nullptr;
}

const QStringList Clears = {
    "-", "Clear Completed", "Clear Incomplete", "Clear Completed && Incomplete", "Clear All Queued",
    "-"};

QStringList tail(const QString& open)
{
    return {open, "Open Containing Folder", "-", "Properties"};
}

} // namespace

class TestXferDlg : public QObject
{
    Q_OBJECT
private slots:
    void menus_data();
    void menus();
    void countdown_data();
    void countdown();
    void commands();
    void transferRows_data();
    void transferRows();
    void columnsAndPositions();
    void desktopWiring();
};

void TestXferDlg::menus_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<bool>("send");
    QTest::addColumn<bool>("folder");
    QTest::addColumn<bool>("online");
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<QStringList>("disabled");

    const QStringList queued = QStringList{"Start Transfer Now", "Remove From Que"} + Clears;
    QTest::newRow("queued send, contact offline")
        << int(S::Queued) << true << false << false << queued + tail("Open File")
        << QStringList{"Start Transfer Now"};
    QTest::newRow("queued send, contact online")
        << int(S::Queued) << true << false << true << queued + tail("Open File") << QStringList{};
    QTest::newRow("completed file send, online")
        << int(S::Completed) << true << false << true
        << QStringList{"Resend Transfer", "Remove From List"} + Clears + tail("Open File")
        << QStringList{};
    QTest::newRow("completed folder send, offline")
        << int(S::Completed) << true << true << false
        << QStringList{"Resend All Files", "Remove From List"} + Clears + tail("Open Folder")
        << QStringList{"Resend All Files"};
    QTest::newRow("completed file receive")
        << int(S::Completed) << false << false << true
        << QStringList{"Remove From List"} + Clears + tail("Open File") << QStringList{};
    QTest::newRow("failed file receive, offline")
        << int(S::Failed) << false << false << false
        << QStringList{"Remove From List", "Retry Transfer"} + Clears + tail("Open File")
        << QStringList{"Retry Transfer", "Open File"};
    QTest::newRow("canceled send, online")
        << int(S::Canceled) << true << false << true
        << QStringList{"Remove From List", "Retry Transfer"} + Clears + tail("Open File")
        << QStringList{};
    QTest::newRow("manual retry folder receive, online")
        << int(S::ManualRetry) << false << true << true
        << QStringList{"Remove From List", "Retry Transfer"} + Clears + tail("Open Folder")
        << QStringList{};
}

void TestXferDlg::menus()
{
    QFETCH(int, state);
    QFETCH(bool, send);
    QFETCH(bool, folder);
    QFETCH(bool, online);
    QFETCH(QStringList, items);
    QFETCH(QStringList, disabled);

    Peer a(QStringLiteral("Alice"), "uid-a"), b(QStringLiteral("Bob"), "uid-b");
    b.prepare(settings());
    QVERIFY(b.start());
    Contact bob = stored(QStringLiteral("Bob"), "uid-b");
    bob.port = b.port();
    a.prepare(settings(), {bob},
              {listed(S(state), send, folder, a.path(QStringLiteral("out/thing")),
                      a.path(QStringLiteral("in/thing")))});
    QVERIFY(a.start());
    if (online) {
        a.c->Connect(a.contact("uid-b"));
        QVERIFY(QTest::qWaitFor(
            [&] {
                const Contact& c = a.contact("uid-b");
                return c.status == StatusOnline && c.sessionThread != 0;
            },
            10000));
    }
    QCOMPARE(a.w->list()->topLevelItemCount(), 1);
    std::unique_ptr<QMenu> menu(a.w->contextMenu(0));
    QCOMPARE(menuTexts(menu.get()), items);
    QCOMPARE(disabledTexts(menu.get()), disabled);
}

void TestXferDlg::countdown_data()
{
    QTest::addColumn<int>("elapsed");
    QTest::addColumn<QString>("text");
    QTest::newRow("just started") << 0 << "Timeout in 35sec";
    QTest::newRow("one second later") << 1 << "Timeout in 34sec";
    QTest::newRow("last second") << 34 << "Timeout in 1sec";
    QTest::newRow("at the time-out") << 35 << "Timeout in 0sec";
    QTest::newRow("a late tick") << 40 << "Timeout in 0sec";
}

void TestXferDlg::countdown()
{
    QFETCH(int, elapsed);
    QFETCH(QString, text);
    const int64_t tried = 1700000000;
    TransferListRow row = listed(S::Connecting, true, false, QStringLiteral("/nowhere/a.txt"));
    row.transfer.connectTryTime = int32_t(tried);
    row.transfer.statusText = QStringLiteral("Trying to connect...");
    Peer a(QStringLiteral("Alice"), "uid-a");
    a.prepare(settings(), {stored(QStringLiteral("Bob"), "uid-b")}, {row});
    a.m->setClock([&] { return tried + elapsed; });
    QVERIFY(a.start());

    std::unique_ptr<QMenu> menu(a.w->contextMenu(0));
    const QList<QAction*> actions = menu->actions();
    QCOMPARE(actions.first()->text(), text);
    QVERIFY(!actions.first()->isEnabled());
    QVERIFY(actions[1]->isSeparator());

    // Past the time-out the next tick gives up on the attempt, and the
    // window shows it.
    a.m->ScheduleTick();
    const bool failed = elapsed > TransferManager::ConnectTimeoutSecs;
    QCOMPARE(a.cell(0, 5),
             failed ? QStringLiteral("Connect failed") : QStringLiteral("Trying to connect..."));
    std::unique_ptr<QMenu> after(a.w->contextMenu(0));
    QCOMPARE(after->actions().first()->text(), failed ? QStringLiteral("Remove From List") : text);
}

void TestXferDlg::commands()
{
    Peer a(QStringLiteral("Alice"), "uid-a");
    const QString kept = makeFile(a.path(QStringLiteral("in/kept.txt")), 10);
    a.prepare(settings(), {stored(QStringLiteral("Bob"), "uid-b")},
              {listed(S::Completed, false, false, QStringLiteral("C:\\peer\\gone.txt"),
                      a.path(QStringLiteral("in/gone.txt"))),
               listed(S::Completed, false, false, QStringLiteral("C:\\peer\\kept.txt"), kept),
               listed(S::Failed, true, false, a.path(QStringLiteral("out/x.bin")))});
    QVERIFY(a.start());
    CListCtrlEx* list = a.w->list();
    QCOMPARE(list->topLevelItemCount(), 3);
    QCOMPARE(list->topLevelItem(0)->text(0), QStringLiteral("gone.txt"));

    // A double click opens the file; a missing one is reported.
    emit list->itemDoubleClicked(a.w->itemOfRow(1), 0);
    QCOMPARE(a.ui.opened, QStringList{kept});
    emit list->itemDoubleClicked(a.w->itemOfRow(0), 0);
    QCOMPARE(a.ui.boxes, QStringList{"File not found|The file no longer exist, it may have been "
                                     "deleted or moved."});
    std::unique_ptr<QMenu> menu(a.w->contextMenu(1));
    actionNamed(menu.get(), "Open Containing Folder")->trigger();
    QCOMPARE(a.ui.opened.last(), QStringLiteral("select ") + kept);

    // Every Properties opens a box of its own, each with its snapshot.
    actionNamed(menu.get(), "Properties")->trigger();
    std::unique_ptr<QMenu> other(a.w->contextMenu(2));
    actionNamed(other.get(), "Properties")->trigger();
    const QList<CPropDlg*> boxes = a.w->propertyBoxes();
    QCOMPARE(boxes.size(), 2);
    QVERIFY(boxes[0]->text().startsWith("Transfer Status:\t\tCompleted\n"));
    QVERIFY(boxes[0]->text().contains("Saved Path:\t\t" + kept + "\n"));
    QVERIFY(boxes[1]->text().startsWith("Transfer Status:\t\tFailed\n"));
    QVERIFY(boxes[0]->isVisible() && boxes[1]->isVisible());
    QCOMPARE(boxes[0]->size(), QSize(400, 214));

    // A menu acts on the row it was built for, even after rows moved.
    std::unique_ptr<QMenu> failedRow(a.w->contextMenu(2));
    actionNamed(menu.get(), "Remove From List")->trigger();
    QCOMPARE(list->topLevelItemCount(), 2);
    actionNamed(failedRow.get(), "Remove From List")->trigger();
    QCOMPARE(list->topLevelItemCount(), 1);
    QCOMPARE(list->topLevelItem(0)->text(0), QStringLiteral("gone.txt"));
    actionNamed(failedRow.get(), "Clear Completed")->trigger();
    QCOMPARE(list->topLevelItemCount(), 0);
    QCOMPARE(a.w->propertyBoxes().size(), 2);
}

void TestXferDlg::transferRows_data()
{
    QTest::addColumn<bool>("folder");
    QTest::newRow("file") << false;
    QTest::newRow("folder") << true;
}

void TestXferDlg::transferRows()
{
    QFETCH(bool, folder);
    // Every size text the sender's row showed; it outlives the programs,
    // which report to it until they have ended.
    QStringList sizes;
    Peer a(QStringLiteral("Alice"), "uid-a"), b(QStringLiteral("Bob"), "uid-b");
    a.prepare(settings());
    b.prepare(settings(b.path(QStringLiteral("inbox"))));
    QVERIFY(a.start() && b.start());
    QVERIFY(connectPair(a, b));
    const QString source =
        a.path(folder ? QStringLiteral("out/tree") : QStringLiteral("out/a.bin"));
    if (folder) {
        makeFile(source + QStringLiteral("/x.txt"), 150000);
        makeFile(source + QStringLiteral("/sub/y.bin"), 90000);
    } else {
        makeFile(source, 240000);
    }
    connect(a.m.get(), &TransferManager::rowChanged, this,
            [&](int row) { sizes.append(a.cell(row, 1)); });

    QCOMPARE(a.m->QueueSend(a.contact("uid-b"), source), 0);
    QCOMPARE(a.cell(0, 5), QStringLiteral("Trying to connect..."));
    QTRY_COMPARE_WITH_TIMEOUT(a.t(0).state, S::Completed, 15000);
    QTRY_COMPARE_WITH_TIMEOUT(b.m->rowCount() == 1 && b.t(0).state == S::Completed, true, 15000);

    const QString name = folder ? QStringLiteral("tree") : QStringLiteral("a.bin");
    const QString total = FormatSize(240000);
    const QStringList sent = {name, total, "To:", "Bob (127.0.0.1)", "0 KB/s", "Transfer Complete",
                              "100"};
    const QStringList received = {
        name, total, "From:", "Alice (127.0.0.1)", "0 KB/s", "Transfer Complete", "100"};
    for (int c = 0; c < TransferColumnCount; ++c) {
        QCOMPARE(a.cell(0, c), sent[c]);
        QCOMPARE(b.cell(0, c), received[c]);
    }
    QVERIFY(!a.w->itemOfRow(0)->icon(0).isNull());
    QVERIFY(!b.w->itemOfRow(0)->icon(0).isNull());
    // A folder's size shows as being calculated until its walk is done.
    QCOMPARE(sizes.first() == "Calculating...", folder);
    // The receiving window came up by itself, without taking the focus.
    QVERIFY(b.w->isVisible());

    // A newer transfer goes on top.
    const QString second = makeFile(a.path(QStringLiteral("out/b.txt")), 1000);
    a.m->QueueSend(a.contact("uid-b"), second);
    QCOMPARE(a.w->list()->topLevelItem(0)->text(0), QStringLiteral("b.txt"));
    QCOMPARE(a.w->list()->topLevelItem(1)->text(0), name);
    QTRY_COMPARE_WITH_TIMEOUT(b.m->rowCount(), 2, 15000);
    QCOMPARE(b.w->list()->topLevelItem(0)->text(0), QStringLiteral("b.txt"));
}

void TestXferDlg::columnsAndPositions()
{
    Peer a(QStringLiteral("Alice"), "uid-a");
    a.prepare(settings());
    QVERIFY(a.start());
    CListCtrlEx* list = a.w->list();
    QHeaderView* header = list->header();
    QStringList titles;
    for (int c = 0; c < list->columnCount(); ++c)
        titles << list->headerItem()->text(c);
    QCOMPARE(titles, (QStringList{"File / Folder Name", "Size", "Type", "Contact", "Speed",
                                  "ETA / Status", "Progress"}));
    QCOMPARE(list->headerItem()->textAlignment(2) & Qt::AlignHorizontal_Mask, int(Qt::AlignRight));
    QCOMPARE(list->headerItem()->textAlignment(6) & Qt::AlignHorizontal_Mask,
             int(Qt::AlignHCenter));
    QCOMPARE(list->progressColumn(), 6);

    // Stored words give their low 16 bits; a missing or zero width the initial one.
    WindowPositions stored;
    stored.transferColumnWidths = {150, 0x00070050, 0};
    stored.transfersWindow = StoredRect::fromQRect(QRect(40, 50, 700, 300));
    a.w->restorePositions(stored);
    QList<int> widths;
    for (int c = 0; c < list->columnCount(); ++c)
        widths << list->columnWidth(c);
    QCOMPARE(widths, (QList<int>{150, 80, 40, 120, 70, 120, 100}));
    QCOMPARE(a.w->size(), QSize(700, 300));

    WindowPositions kept;
    a.w->storeColumnWidths(kept);
    QCOMPARE(kept.transferColumnWidths, (QList<int32_t>{150, 80, 40, 120, 70, 120, 100}));

    // The name column takes up a change of the window's width.
    a.w->show();
    a.w->resize(800, 300);
    QTRY_COMPARE(list->columnWidth(0), 250);
    QCOMPARE(header->sectionSize(1), 80);
}

// The desktop's own wiring: F2 and the View menu show the window, a refused
// request from a peer becomes an event line, the window's place and columns
// go with the other window positions.
void TestXferDlg::desktopWiring()
{
    QTemporaryDir dir;
    ShellUi ui;
    Ui quiet;
    quiet.name = QStringLiteral("Alice");
    MessengerController controller(&ui, &quiet);
    controller.setProfileFolder(dir.path() + QStringLiteral("/Profiles/u/"));
    TransferManager manager(controller, &ui);
    ui.attach(controller, &manager);
    CMessengerDlg* main = ui.mainWindow();
    CXferDlg* xfer = ui.transfersWindow();
    QVERIFY(xfer);
    QVERIFY(main->action(CMessengerDlg::FileTransfers)->isEnabled());
    main->show();
    QVERIFY(!xfer->isVisible());
    QTest::keyClick(main, Qt::Key_F2);
    QVERIFY(xfer->isVisible());
    xfer->hide();
    main->action(CMessengerDlg::FileTransfers)->trigger();
    QVERIFY(xfer->isVisible());

    emit manager.requestRefused("uid-x", QStringLiteral("C:\\secret\\passwords.txt"));
    QTRY_VERIFY(main->pane()->toPlainText().contains(
        "Refused a request from an unknown contact for a file that is not shared: passwords.txt"));

    xfer->move(120, 90);
    xfer->resize(640, 220);
    xfer->list()->setColumnWidth(4, 77);
    WindowPositions windows;
    ui.refreshWindowPositions(windows, {});
    QCOMPARE(windows.transfersWindow.toQRect().size(), QSize(640, 220));
    QCOMPARE(windows.transferColumnWidths.value(4), 77);
    ui.deleteWindows();
}

QTEST_MAIN(TestXferDlg)
#include "tst_xferdlg.moc"

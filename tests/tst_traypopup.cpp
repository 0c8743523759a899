// The tables below use plain string literals.
#undef QT_NO_CAST_FROM_ASCII

#include "messenger/messengercontroller.h"
#include "shell/anidlg.h"
#include "shell/listctrlex.h"
#include "shell/messengerdlg.h"
#include "shell/shellui.h"
#include "shell/trayicon.h"
#include "shelltestsupport.h"

#include <QMenu>
#include <QPushButton>
#include <QtTest>

// The tray icon's menu and the notification popup.
class TestTrayPopup : public QObject
{
    Q_OBJECT
private slots:
    void fadeSequence();
    void withoutFadingClosesOpaque();
    void placement_data();
    void placement();
    void popupNeverTakesFocus();
    void talkHandsBackTheUid();
    void faceBlendsDiagonally();
    void trayMenuCopiesTheMenuBar();
    void trayMenuTogglesLikeTheMenuBar();
};

void TestTrayPopup::fadeSequence()
{
    // Fade steps as fast as the event loop runs; the hold long enough for
    // the fade-in to end first.
    CAniDlg::Timings t;
    t.fadeStepMs = 0;
    t.holdMs = 1000;
    auto* popup =
        new CAniDlg(QStringLiteral("Bob"), QStringLiteral("Sent a Message"), "uid", nullptr, t);
    QList<int> alphas;
    connect(popup, &CAniDlg::alphaChanged, this, [&](int a) { alphas << a; });
    QSignalSpy destroyed(popup, &QObject::destroyed);
    popup->open();
    QCOMPARE(popup->alpha(), 10);
    QVERIFY(destroyed.wait(10000));

    QList<int> expected;
    for (int a = 35; a < 255; a += 25)
        expected << a; // 35 ... 235
    expected << 255;   // the tenth step reaches full opacity
    for (int a = 230; a > 0; a -= 25)
        expected << a; // 230 ... 5
    expected << 0;
    QCOMPARE(alphas, expected);
    QCOMPARE(expected.count(255), 1);
    QCOMPARE(expected.indexOf(255), 9);
}

void TestTrayPopup::withoutFadingClosesOpaque()
{
    CAniDlg::Timings t;
    t.opaqueCloseMs = 0;
    auto* popup = new CAniDlg(QStringLiteral("Bob"), QStringLiteral("Is Online"), "u", nullptr, t);
    QSignalSpy alpha(popup, &CAniDlg::alphaChanged);
    QSignalSpy destroyed(popup, &QObject::destroyed);
    popup->open(false);
    QCOMPARE(popup->alpha(), 255);
    QVERIFY(destroyed.wait(10000));
    QCOMPARE(alpha.count(), 0);
}

void TestTrayPopup::placement_data()
{
    QTest::addColumn<QRect>("screen");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QPoint>("topLeft");
    QTest::newRow("full HD") << QRect(0, 0, 1920, 1080) << QSize(300, 150) << QPoint(1610, 880);
    QTest::newRow("screen not at the origin")
        << QRect(1920, 0, 1280, 1024) << QSize(400, 200) << QPoint(2790, 774);
}

void TestTrayPopup::placement()
{
    QFETCH(QRect, screen);
    QFETCH(QSize, size);
    QFETCH(QPoint, topLeft);
    QCOMPARE(CAniDlg::placement(screen, size), topLeft);
    // 10 pixels from the right edge, 50 from the bottom.
    QCOMPARE(screen.right() + 1 - (topLeft.x() + size.width()), 10);
    QCOMPARE(screen.bottom() + 1 - (topLeft.y() + size.height()), 50);
}

void TestTrayPopup::popupNeverTakesFocus()
{
    // The test platform activates every window it shows, so what keeps the
    // focus where the user types is checked on the popup's own settings.
    CAniDlg::Timings t;
    t.holdMs = 60000;
    auto* popup = new CAniDlg(QStringLiteral("Bob"), QStringLiteral("Is Online"), "u", nullptr, t);
    popup->open();
    QVERIFY(QTest::qWaitForWindowExposed(popup));
    QVERIFY(popup->testAttribute(Qt::WA_ShowWithoutActivating));
    QVERIFY(popup->windowFlags() & Qt::WindowStaysOnTopHint);
    QVERIFY(popup->windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(popup->windowFlags() & Qt::WindowDoesNotAcceptFocus);
    QCOMPARE(popup->talkButton()->focusPolicy(), Qt::NoFocus);
    QCOMPARE(popup->closeButton()->focusPolicy(), Qt::NoFocus);
    delete popup;
}

void TestTrayPopup::talkHandsBackTheUid()
{
    CAniDlg::Timings t;
    t.holdMs = 60000;
    auto* popup =
        new CAniDlg(QStringLiteral("Bob"), QStringLiteral("Sent a Message"), "abc123", nullptr, t);
    QSignalSpy talk(popup, &CAniDlg::talk);
    QSignalSpy destroyed(popup, &QObject::destroyed);
    popup->open();
    QCOMPARE(popup->talkButton()->text(), QStringLiteral("&Talk"));
    QCOMPARE(popup->closeButton()->text(), QStringLiteral("&Close"));
    popup->talkButton()->click();
    QCOMPARE(talk.count(), 1);
    QCOMPARE(talk.first().first().toByteArray(), QByteArray("abc123"));
    // Closed at once: the deferred deletion is all that is left.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(destroyed.count(), 1);
}

void TestTrayPopup::faceBlendsDiagonally()
{
    const QImage face = CAniDlg::renderFace(QSize(198, 98), QString(), QString());
    QCOMPARE(face.size(), QSize(200, 100));
    // Top left is the dark blue, points with equal x + y share a colour, and
    // the colour brightens towards the bottom right.
    QCOMPARE(QColor(face.pixel(0, 0)), QColor(4, 10, 132));
    QCOMPARE(face.pixel(40, 60), face.pixel(60, 40));
    QVERIFY(QColor(face.pixel(190, 95)).green() > QColor(face.pixel(100, 50)).green());
    // The frame, 2 pixels in.
    QCOMPARE(QColor(face.pixel(50, 2)), QColor(75, 75, 75));
}

void TestTrayPopup::trayMenuCopiesTheMenuBar()
{
    ShellUi ui;
    MessengerController controller(&ui, nullptr);
    ui.attach(controller, nullptr);
    std::unique_ptr<QMenu> menu(ui.mainWindow()->trayIcon()->buildMenu());
    QCOMPARE(menuTexts(menu.get()), (QStringList{"&Contacts", "&Options", "&View", "&My Status",
                                                 "&Help", "-", "Restore", "Exit"}));
    QCOMPARE(menu->defaultAction()->text(), QStringLiteral("Restore"));
    QMenu* view = menu->actions().at(2)->menu();
    QVERIFY(view);
    QCOMPARE(menuTexts(view), (QStringList{"&File Transfers\tF2", "&Remote Shares\tF3",
                                           "&Browsing Contacts\tF4", "-", "&IP/DNS", "&Large Icons",
                                           "&Translucent", "&Auto Popup Chat Dialogs"}));
    QVERIFY(view->actions().contains(ui.mainWindow()->action(CMessengerDlg::ViewLargeIcons)));

    QSignalSpy restore(ui.mainWindow()->trayIcon(), &CTrayIcon::restoreRequested);
    QSignalSpy exit(ui.mainWindow()->trayIcon(), &CTrayIcon::exitRequested);
    menu->actions().at(6)->trigger();
    menu->actions().at(7)->trigger();
    QCOMPARE(restore.count(), 1);
    QCOMPARE(exit.count(), 1);
}

void TestTrayPopup::trayMenuTogglesLikeTheMenuBar()
{
    ShellUi ui;
    MessengerController controller(&ui, nullptr);
    ui.attach(controller, nullptr);
    std::unique_ptr<QMenu> menu(ui.mainWindow()->trayIcon()->buildMenu());
    QMenu* view = menu->actions().at(2)->menu();
    QAction* large = nullptr;
    for (QAction* a : view->actions()) {
        if (a->text() == QLatin1String("&Large Icons"))
            large = a;
    }
    QVERIFY(large);
    const bool before = Settings::on(controller.settings().largeIcons);
    large->trigger();
    QCOMPARE(Settings::on(controller.settings().largeIcons), !before);
    // The next tray menu shows the new check mark.
    std::unique_ptr<QMenu> again(ui.mainWindow()->trayIcon()->buildMenu());
    for (QAction* a : again->actions().at(2)->menu()->actions()) {
        if (a->text() == QLatin1String("&Large Icons"))
            QCOMPARE(a->isChecked(), !before);
    }
    QCOMPARE(ui.mainWindow()->contactList()->iconSize().width(), before ? 16 : 32);
}

QTEST_MAIN(TestTrayPopup)
#include "tst_traypopup.moc"

// The controller's decisions, driven through its chat-host side directly:
// which identified peers it accepts and what it says, how sessions end,
// queue limits, status lines, idle and start-up timing.

#include "tst_controller_support.h"

#include "messenger/chatlines.h"

#include <QFile>

namespace {

// Session ids no real session uses.
constexpr SessionId FakeSession = 1000000;

Contact peer(const QByteArray& uid, const QString& name, int status = StatusOnline)
{
    Contact c = NewContact();
    c.uid.set(uid);
    c.name.setText(name);
    c.ip.set("10.0.0.9");
    c.port = 5555;
    c.status = status;
    return c;
}

class FakeIdle : public IdleSource
{
public:
    QPoint position;
    bool moving = false; // the user is busy with the mouse
    int calls = 0;
    QPoint cursorPosition() override
    {
        ++calls;
        if (moving)
            position += QPoint(1, 0);
        return position;
    }
};

} // namespace

class TestControllerRules : public QObject
{
    Q_OBJECT

private:
    // Known (uid k1) at 127.0.0.1:8410, Blocked (b1), Busy (s1) bound to a session.
    static bool prepareKnown(Core& core, Settings settings = Core::quietSettings())
    {
        Contact known = storedContact(QStringLiteral("Known"), "k1", 8410);
        Contact blocked = storedContact(QStringLiteral("Blocked"), "b1", 8410);
        blocked.blocked = 1;
        Contact busy = storedContact(QStringLiteral("Busy"), "s1", 8410);
        core.prepare({known, blocked, busy}, settings);
        if (!core.start())
            return false;
        Contact sc = busy;
        sc.status = StatusOnline;
        const bool bound = core.c->peerIdentified(FakeSession - 1, sc, false);
        core.ui.events.clear();
        core.ui.popups.clear();
        core.ui.hooks.clear();
        return bound;
    }

private slots:
    void identification_data();
    void identification();
    void sessionEnd_data();
    void sessionEnd();
    void queueLimit_data();
    void queueLimit();
    void sendStatusLines();
    void typingLineInListOrder();
    void sharesFlag_data();
    void sharesFlag();
    void idle();
    void startupTiming_data();
    void startupTiming();
    void deleteAndClearQueue();
    void talk_data();
    void talk();
    void queueKeptWhole_data();
    void queueKeptWhole();
    void blockOrDeleteWhileEnding_data();
    void blockOrDeleteWhileEnding();
    void uncreatableProfileFolderSaysItOnce();
};

void TestControllerRules::identification_data()
{
    QTest::addColumn<QByteArray>("uid");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("alias");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("away");
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<bool>("opened");
    QTest::addColumn<bool>("requirePassword");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<int>("contacts");

    const QByteArray none;
    const QString noAlias;
    const auto lines = [](const char* line) {
        return line ? QStringList{QString::fromUtf8(line)} : QStringList();
    };
    QTest::newRow("self") << QByteArray("SELF") << "Me" << noAlias << 0 << QString() << none
                          << false << false << false << lines("You cannot connect to yourself")
                          << 3;
    QTest::newRow("known") << QByteArray("k1") << "Known" << noAlias << 0 << QString() << none
                           << false << false << true << lines("Known (10.0.0.9) is Online") << 3;
    QTest::newRow("known away message")
        << QByteArray("k1") << "Known" << noAlias << 2 << "at lunch" << none << true << false
        << true << lines("Known (10.0.0.9) is \"at lunch\"") << 3;
    QTest::newRow("known away empty")
        << QByteArray("k1") << "Known" << noAlias << 2 << QString() << none << false << false
        << true << lines("Known (10.0.0.9) is Away") << 3;
    QTest::newRow("known renamed")
        << QByteArray("k1") << "Kay" << noAlias << 1 << QString() << none << false << false << true
        << lines("\"Known\" changed name to \"Kay\" and is Away") << 3;
    QTest::newRow("known renamed, alias, opener")
        << QByteArray("k1") << "Kay"
        << "Kilo" << 0 << QString() << none << true << false << true
        << lines("Kilo (10.0.0.9) is Online") << 3;
    QTest::newRow("known renamed, alias, acceptor")
        << QByteArray("k1") << "Kay"
        << "Kilo" << 0 << QString() << none << false << false << true
        << lines("\"Known\" changed name to \"Kay\" and is Online") << 3;
    QTest::newRow("uid differs in case")
        << QByteArray("K1") << "Known" << noAlias << 0 << QString() << none << false << false
        << true << lines("New Contact Known (10.0.0.9) is Online") << 4;
    QTest::newRow("busy acceptor") << QByteArray("s1") << "Busy" << noAlias << 0 << QString()
                                   << none << false << false << false << QStringList() << 3;
    QTest::newRow("busy opener")
        << QByteArray("s1") << "Busy" << noAlias << 0 << QString() << none << true << false << false
        << lines("Connection Canceled: UID of 10.0.0.9 matches Busy (127.0.0.1)") << 3;
    QTest::newRow("blocked acceptor") << QByteArray("b1") << "Blocked" << noAlias << 0 << QString()
                                      << none << false << false << false << QStringList() << 3;
    QTest::newRow("blocked opener")
        << QByteArray("b1") << "Blocked" << noAlias << 0 << QString() << none << true << false
        << true << lines("Blocked (10.0.0.9) is Online") << 3;
    QTest::newRow("new") << QByteArray("n1") << "New" << noAlias << 3 << QString() << none << false
                         << false << true << lines("New Contact New (10.0.0.9) is Offline") << 4;
    QTest::newRow("new, wrong password")
        << QByteArray("n1") << "New" << noAlias << 0 << QString() << QByteArray("guess") << false
        << true << false << QStringList() << 3;
    QTest::newRow("new, no password") << QByteArray("n1") << "New" << noAlias << 0 << QString()
                                      << none << false << true << false << QStringList() << 3;
    QTest::newRow("new, right password")
        << QByteArray("n1") << "New" << noAlias << 0 << QString() << QByteArray("pw") << false
        << true << true << lines("New Contact New (10.0.0.9) is Online") << 4;
    QTest::newRow("new on opener, wrong password")
        << QByteArray("n1") << "New" << noAlias << 0 << QString() << QByteArray("guess") << true
        << true << true << lines("New Contact New (10.0.0.9) is Online") << 4;
    QTest::newRow("known, wrong password")
        << QByteArray("k1") << "Known" << noAlias << 0 << QString() << QByteArray("guess") << false
        << true << true << lines("Known (10.0.0.9) is Online") << 3;
}

void TestControllerRules::identification()
{
    QFETCH(QByteArray, uid);
    QFETCH(QString, name);
    QFETCH(QString, alias);
    QFETCH(int, status);
    QFETCH(QString, away);
    QFETCH(QByteArray, password);
    QFETCH(bool, opened);
    QFETCH(bool, requirePassword);
    QFETCH(bool, accepted);
    QFETCH(QStringList, events);
    QFETCH(int, contacts);

    Core core(QStringLiteral("Me"));
    Settings settings = Core::quietSettings();
    settings.requirePassword = requirePassword ? 1 : 0;
    QVERIFY(prepareKnown(core, settings));
    if (uid == "SELF")
        uid = core.c->myIdentity().uid.bytes();
    Identity own = core.c->myIdentity();
    own.password.set("pw");
    core.c->ApplyOptions(core.c->settings(), own);

    // An opened session carries the stored contact's alias, an accepted one none.
    if (!alias.isEmpty())
        core.c->SetAlias(*core.c->findContact("k1"), alias);
    Contact sc = peer(uid, name, status);
    if (opened)
        sc.alias.setText(alias);
    sc.awayMessage.setText(away);
    sc.password.set(password);
    QCOMPARE(core.c->peerIdentified(FakeSession, sc, opened), accepted);
    QCOMPARE(core.ui.events, events);
    QCOMPARE(core.c->contactCount(), contacts);
    Contact* bound = core.c->findContactBySession(FakeSession);
    QCOMPARE(bound != nullptr, accepted);
    if (!accepted)
        return;
    QCOMPARE(bound->uid.bytes(), uid);
    QCOMPARE(bound->name.text(), name);
    QCOMPARE(bound->ip.text(), QStringLiteral("10.0.0.9"));
    QCOMPARE(bound->status, status);
    QVERIFY(bound->connectTime != 0);
    QCOMPARE(core.ui.popups.size(), status == StatusOnline ? 1 : 0);
    // The stored alias survives; the same session cannot bind a second time.
    QCOMPARE(bound->alias.text(), uid == "k1" ? alias : QString());
    QVERIFY(!core.c->peerIdentified(FakeSession, peer("other", QStringLiteral("O")), opened));
}

void TestControllerRules::sessionEnd_data()
{
    QTest::addColumn<QByteArray>("uid");
    QTest::addColumn<bool>("bound");
    QTest::addColumn<int>("reason");
    QTest::addColumn<bool>("opened");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<int>("status"); // of Known afterwards; -1: deleted

    const auto line = [](const char* t) { return QStringList{QString::fromUtf8(t)}; };
    QTest::newRow("disconnect") << QByteArray("k1") << true << 0 << true
                                << line("Known (10.0.0.9) has Disconnected") << 3;
    QTest::newRow("block") << QByteArray("k1") << true << 1 << false
                           << line("Known (10.0.0.9) is now Blocked") << 4;
    QTest::newRow("delete") << QByteArray("k1") << true << 2 << false
                            << line("Known (10.0.0.9) has been Deleted") << -1;
    QTest::newRow("failed connect, known")
        << QByteArray("k1") << false << 0 << true << line("Failed to connect to: Known:8410") << 3;
    QTest::newRow("refused incoming, known")
        << QByteArray("k1") << false << 0 << false << QStringList() << 3;
    QTest::newRow("failed connect, unknown") << QByteArray("u9") << false << 0 << true
                                             << line("Failed to connect to: 10.0.0.9:5555") << 3;
    QTest::newRow("failed connect, no uid yet")
        << QByteArray() << false << 0 << true << line("Failed to connect to: 10.0.0.9:5555") << 3;
    QTest::newRow("refused incoming, unknown")
        << QByteArray("u9") << false << 0 << false << QStringList() << 3;
    QTest::newRow("own uid") << QByteArray("SELF") << false << 0 << true << QStringList() << 3;
}

void TestControllerRules::sessionEnd()
{
    QFETCH(QByteArray, uid);
    QFETCH(bool, bound);
    QFETCH(int, reason);
    QFETCH(bool, opened);
    QFETCH(QStringList, events);
    QFETCH(int, status);

    Core core(QStringLiteral("Me"));
    QVERIFY(prepareKnown(core));
    if (uid == "SELF")
        uid = core.c->myIdentity().uid.bytes();
    Contact sc = peer(uid, QStringLiteral("Known"));
    if (bound) {
        QVERIFY(core.c->peerIdentified(FakeSession, sc, opened));
        core.c->typingReceived(FakeSession, 1);
        QCOMPARE(core.ui.mainStatus, QStringLiteral(" Known is typing a message"));
        core.ui.events.clear();
    }
    core.c->sessionEnded(bound ? FakeSession : FakeSession + 1, sc, EndReason(reason), opened);
    QCOMPARE(core.ui.events, events);
    Contact* known = core.c->findContact("k1");
    if (status < 0) {
        QVERIFY(!known);
        QCOMPARE(core.ui.hooks.last(), QStringLiteral("removed Known"));
        QCOMPARE(core.c->contactCount(), 2);
        QCOMPARE(core.ui.mainStatus, QString());
        return;
    }
    QCOMPARE(known->status, status);
    QCOMPARE(known->blocked, status == StatusBlocked ? 1 : 0);
    QCOMPARE(known->sessionThread, SessionId(0));
    QCOMPARE(known->typing, 0);
    QCOMPARE(core.ui.mainStatus, QString());
    QCOMPARE(known->disconnectTime != 0, bound);
    // The other bound contact is untouched.
    QVERIFY(core.c->findContact("s1")->sessionThread != 0);
}

void TestControllerRules::queueLimit_data()
{
    QTest::addColumn<int>("existing");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("empty") << 0 << true;
    QTest::newRow("10239") << 10239 << true;
    QTest::newRow("10240") << 10240 << false;
    QTest::newRow("10241") << 10241 << false;
}

void TestControllerRules::queueLimit()
{
    QFETCH(int, existing);
    QFETCH(bool, accepted);

    Core core(QStringLiteral("Me"));
    QVERIFY(prepareKnown(core));
    Contact& known = *core.c->findContact("k1");
    known.queue = QByteArray(existing, 'q');
    // However big the new piece is, only the existing length counts.
    const QByteArray message = rtf(QString(20000, QLatin1Char('m')));
    QCOMPARE(core.c->QueueMessage(known, message), accepted);
    if (!accepted) {
        QCOMPARE(known.queue.size(), existing);
        QCOMPARE(core.c->SendFromChatWindow(known, rtf(QStringLiteral("x"))), false);
        QCOMPARE(core.ui.chatStatus.value(&known),
                 QStringLiteral(" Failed to send message (Queue Full)."));
        return;
    }
    const QByteArray piece = known.queue.mid(existing);
    QVERIFY(piece.startsWith("{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1033{\\fonttbl{\\f0\\fnil"
                             "\\fcharset0 Verdana;}}{\\colortbl ;\\red255\\green0\\blue0;}"
                             "\\viewkind4\\uc1\\pard\\cf1\\f0\\fs16 Offline Message sent at: "
                             "\\cf0 ("));
    QVERIFY(piece.endsWith("\\par\r\n}\r\n" + message));
    QCOMPARE(core.c->TakeQueue(known), QByteArray(existing, 'q') + piece);
    QVERIFY(known.queue.isEmpty());
}

void TestControllerRules::sendStatusLines()
{
    Core core(QStringLiteral("Me"));
    QVERIFY(prepareKnown(core));
    Contact* known = core.c->findContact("k1");
    Contact* busy = core.c->findContact("s1");

    auto r = core.c->SendFromMain({}, rtf(QStringLiteral("hi")));
    QCOMPARE(core.ui.mainStatus, QStringLiteral(" No contact selected.\n"));
    QVERIFY(r.sent.isEmpty() && !r.clearInput);
    r = core.c->SendFromMain({known}, QByteArray());
    QCOMPARE(core.ui.mainStatus, QStringLiteral(" No message to send.\n"));
    QVERIFY(known->queue.isEmpty());
    QVERIFY(!core.c->SendFromChatWindow(*known, QByteArray()));
    QCOMPARE(core.ui.chatStatus.value(known), QStringLiteral(" No message to send.\n"));

    // A typing text stays when a send fails.
    known->queue = QByteArray(MessengerController::QueueLimit, 'q');
    core.c->typingReceived(FakeSession - 1, 1);
    QCOMPARE(core.ui.mainStatus, QStringLiteral(" Busy is typing a message"));
    r = core.c->SendFromMain({known}, rtf(QStringLiteral("hi")));
    QCOMPARE(r.failed, QStringList{QStringLiteral("Known")});
    QVERIFY(!r.clearInput);
    QCOMPARE(core.ui.mainStatus, QStringLiteral(" Busy is typing a message"));
    QVERIFY(core.ui.lines.isEmpty());

    // The session behind Busy is not real: the post fails and the message is queued.
    r = core.c->SendFromMain({busy}, rtf(QStringLiteral("hi")));
    QVERIFY(r.queued);
    QCOMPARE(core.c->queueDocuments(*busy).size(), 2);
}

void TestControllerRules::typingLineInListOrder()
{
    Core core(QStringLiteral("Me"));
    QVERIFY(prepareKnown(core));
    QVERIFY(core.c->peerIdentified(FakeSession, peer("k1", QStringLiteral("Known")), false));
    Contact* known = core.c->findContact("k1");
    Contact* busy = core.c->findContact("s1");
    core.c->SetAlias(*known, QStringLiteral("K"));

    // Busy starts first but Known is listed first.
    core.c->typingReceived(FakeSession - 1, 1);
    core.c->typingReceived(FakeSession, 1);
    QCOMPARE(core.ui.mainStatus, QStringLiteral(" K,Busy is typing a message"));
    QCOMPARE(core.ui.chatStatus.value(known), QStringLiteral(" K is typing a message"));
    core.c->typingReceived(FakeSession, 0);
    QCOMPARE(core.ui.mainStatus, QStringLiteral(" Busy is typing a message"));
    QCOMPARE(core.ui.chatStatus.value(known), QString());
    QCOMPARE(core.ui.chatStatus.value(busy), QStringLiteral(" Busy is typing a message"));
    core.c->typingReceived(FakeSession - 1, 0);
    QCOMPARE(core.ui.mainStatus, QString());
    // Unknown sessions change nothing.
    core.c->typingReceived(FakeSession + 7, 1);
    QCOMPARE(core.ui.mainStatus, QString());
    QCOMPARE(core.ui.typing, QStringList({QStringLiteral("Busy 1"), QStringLiteral("K 1"),
                                          QStringLiteral("K 0"), QStringLiteral("Busy 0")}));
}

void TestControllerRules::sharesFlag_data()
{
    QTest::addColumn<bool>("sharing");
    QTest::addColumn<bool>("own");
    QTest::addColumn<bool>("general");
    QTest::addColumn<int>("flag");
    QTest::newRow("off") << false << true << true << 0;
    QTest::newRow("nothing shared") << true << false << false << 0;
    QTest::newRow("own share") << true << true << false << 1;
    QTest::newRow("general share") << true << false << true << 1;
}

void TestControllerRules::sharesFlag()
{
    QFETCH(bool, sharing);
    QFETCH(bool, own);
    QFETCH(bool, general);
    QFETCH(int, flag);

    Core core(QStringLiteral("Me"));
    Settings s = Core::quietSettings();
    s.sharingEnabled = sharing ? 0x01010101 : 0;
    if (general)
        s.sharedPaths = {QByteArrayLiteral("/srv/share")};
    QVERIFY(prepareKnown(core, s));
    Contact* busy = core.c->findContact("s1");
    if (own)
        busy->shares = {QByteArrayLiteral("/home/me/for-busy")};
    QCOMPARE(core.c->ownSharesFlag(FakeSession - 1), flag);
    core.c->peerSharesFlag(FakeSession - 1, 1);
    QCOMPARE(busy->peerShares, 1);
}

void TestControllerRules::idle()
{
    Core core(QStringLiteral("Me"));
    FakeIdle cursor;
    core.c->setIdleSource(&cursor);
    ControllerTimings t;
    t.idleCheckMs = 20;
    t.leaveIdleMs = 5;
    core.c->setTimings(t);
    core.prepare();
    QVERIFY(core.start());

    // The cursor stays: Idle.
    QTRY_COMPARE(core.ui.myStatus, int(StatusAwayMessage));
    QCOMPARE(core.c->myIdentity().awayMessage.text(), QStringLiteral("Idle"));
    QCOMPARE(core.ui.myLabel, QStringLiteral("My Status: Idle"));
    // It moves: Online again.
    cursor.moving = true;
    QTRY_COMPARE(core.ui.myStatus, int(StatusOnline));
    QCOMPARE(core.c->myIdentity().awayMessage.text(), QString());

    // An away message set by hand is never replaced.
    core.c->SetAwayMessage(QStringLiteral("at lunch"));
    QCOMPARE(core.ui.myLabel, QStringLiteral("My Status: at lunch"));
    const int calls = cursor.calls;
    QTRY_VERIFY(cursor.calls > calls + 20);
    cursor.moving = false;
    const int moved = cursor.calls;
    QTRY_VERIFY(cursor.calls > moved + 20);
    QCOMPARE(core.c->myIdentity().awayMessage.text(), QStringLiteral("at lunch"));
    QCOMPARE(core.ui.myStatus, int(StatusAwayMessage));
    // Nor is showing Offline.
    core.c->SetMyStatus(StatusOffline);
    const int offline = cursor.calls;
    QTRY_VERIFY(cursor.calls > offline + 20);
    QCOMPARE(core.ui.myStatus, int(StatusOffline));
}

void TestControllerRules::startupTiming_data()
{
    QTest::addColumn<bool>("minimized");
    QTest::addColumn<bool>("connectAllOption");
    QTest::addColumn<bool>("atOnce");
    QTest::addColumn<bool>("later");
    QTest::newRow("normal, option on") << false << true << true << false;
    QTest::newRow("normal, option off") << false << false << false << false;
    QTest::newRow("-m, option off") << true << false << false << true;
    QTest::newRow("-m, option on") << true << true << false << true;
}

void TestControllerRules::startupTiming()
{
    QFETCH(bool, minimized);
    QFETCH(bool, connectAllOption);
    QFETCH(bool, atOnce);
    QFETCH(bool, later);

    Core core(QStringLiteral("Me"));
    ControllerTimings t;
    t.startupDelayMs = 150;
    core.c->setTimings(t);
    core.c->setMinimizedStart(minimized);
    int updates = 0;
    core.c->setUpdateCheckHook([&] { ++updates; });
    Settings s = Core::quietSettings();
    s.connectAllOnStartup = connectAllOption ? 1 : 0;
    s.autoUpdate = 1;
    const quint16 nowhere = freedPort();
    core.prepare({storedContact(QStringLiteral("Gone"), "g1", nowhere)}, s);
    core.c->start();
    const QString trying = QStringLiteral("Trying to connect to all contacts...");
    QCOMPARE(core.ui.events.contains(trying), atOnce);
    QCOMPARE(updates, minimized ? 0 : 1);
    if (later) {
        QTRY_VERIFY(core.ui.events.contains(trying));
        QCOMPARE(updates, 1);
    }
    if (atOnce || later)
        QTRY_COMPARE(core.ui.events.last(),
                     QStringLiteral("Failed to connect to: Gone:") + QString::number(nowhere));
}

void TestControllerRules::deleteAndClearQueue()
{
    Core core(QStringLiteral("Me"));
    QVERIFY(prepareKnown(core));
    Contact* known = core.c->findContact("k1");

    QVERIFY(!core.c->Delete(nullptr));
    QCOMPARE(core.ui.boxes.last(), QStringLiteral("No Selection|No contact selected to delete."));

    known->dns.set("known.example");
    core.ui.yes = false;
    QVERIFY(!core.c->Delete(known));
    QCOMPARE(
        core.ui.questions.last(),
        QStringLiteral("Delete Contact?|Are you sure you want to delete:\nKnown (known.example)"));
    QCOMPARE(core.c->contactCount(), 3);
    core.ui.yes = true;
    QVERIFY(core.c->Delete(known));
    QCOMPARE(core.c->contactCount(), 2);
    QCOMPARE(core.c->findContact("k1"), nullptr);
    QCOMPARE(core.ui.hooks, QStringList{QStringLiteral("removed Known")});
    QVERIFY(core.ui.events.isEmpty());

    Contact* blocked = core.c->findContact("b1");
    QVERIFY(core.c->QueueMessage(*blocked, rtf(QStringLiteral("later"))));
    core.ui.yes = false;
    QVERIFY(!core.c->ClearQueue(*blocked));
    QCOMPARE(core.ui.questions.last(),
             QStringLiteral("Are you sure?|Are you sure you want to clear all the queued messages "
                            "for this contact?"));
    QVERIFY(!blocked->queue.isEmpty());
    core.ui.yes = true;
    QVERIFY(core.c->ClearQueue(*blocked));
    QVERIFY(blocked->queue.isEmpty());
}

void TestControllerRules::talk_data()
{
    QTest::addColumn<bool>("autoPopup");
    QTest::addColumn<bool>("mainVisible");
    QTest::addColumn<int>("selected");
    QTest::addColumn<bool>("chatVisible");
    QTest::addColumn<QString>("request");
    QTest::newRow("main window") << false << true << 1 << false << "main Known";
    QTest::newRow("auto popup, hidden") << true << false << 0 << false << "chat Known";
    QTest::newRow("auto popup, shown") << true << true << 0 << false << "main Known";
    QTest::newRow("several selected") << false << true << 2 << false << "chat Known";
    QTest::newRow("chat visible") << false << true << 0 << true << "chat Known";
}

void TestControllerRules::talk()
{
    QFETCH(bool, autoPopup);
    QFETCH(bool, mainVisible);
    QFETCH(int, selected);
    QFETCH(bool, chatVisible);
    QFETCH(QString, request);

    Core core(QStringLiteral("Me"));
    Settings s = Core::quietSettings();
    s.autoPopupChat = autoPopup ? 1 : 0;
    QVERIFY(prepareKnown(core, s));
    core.ui.mainVisible = mainVisible;
    core.ui.selected = selected;
    core.ui.chatVisible = chatVisible;
    core.c->Talk("nobody");
    QVERIFY(core.ui.windowRequests.isEmpty());
    core.c->Talk("k1");
    QCOMPARE(core.ui.windowRequests, QStringList{request});
}

void TestControllerRules::queueKeptWhole_data()
{
    QTest::addColumn<QList<int>>("sizes"); // message lengths in characters
    QTest::addColumn<QList<bool>>("accepted");
    QTest::newRow("two short, then 140 KB")
        << QList<int>{20, 20, 140000} << QList<bool>{true, true, false};
    QTest::newRow("9 KB, then 60 KB") << QList<int>{9000, 60000} << QList<bool>{true, false};
    QTest::newRow("9 KB, then 50 KB") << QList<int>{9000, 50000} << QList<bool>{true, true};
}

// A queue is refused a piece QueMsgs.cfg could not hold, and what was
// accepted comes back whole after a restart.
void TestControllerRules::queueKeptWhole()
{
    QFETCH(QList<int>, sizes);
    QFETCH(QList<bool>, accepted);
    QTemporaryDir root;
    QByteArray queue;
    {
        Core core(QStringLiteral("Me"), root.path());
        QVERIFY(prepareKnown(core));
        Contact& known = *core.c->findContact("k1");
        for (qsizetype i = 0; i < sizes.size(); ++i)
            QCOMPARE(core.c->QueueMessage(known, rtf(QString(sizes[i], QLatin1Char('m')))),
                     accepted[i]);
        queue = known.queue;
        QVERIFY(core.exit());
        QCOMPARE(core.ui.boxes, QStringList());
    }
    Core again(QStringLiteral("Me"), root.path());
    QVERIFY(again.start());
    QCOMPARE(again.c->findContact("k1")->queue, queue);
}

void TestControllerRules::blockOrDeleteWhileEnding_data()
{
    QTest::addColumn<int>("reason");
    QTest::addColumn<QStringList>("events");
    QTest::newRow("block") << int(EndReason::Block)
                           << QStringList{QStringLiteral("Known (10.0.0.9) is now Blocked")};
    QTest::newRow("delete") << int(EndReason::Delete)
                            << QStringList{QStringLiteral("Known (10.0.0.9) has been Deleted")};
}

// FakeSession has no thread and takes no posts, like a session already ending
// whose end report is still to come.
void TestControllerRules::blockOrDeleteWhileEnding()
{
    QFETCH(int, reason);
    QFETCH(QStringList, events);
    Core core(QStringLiteral("Me"));
    QVERIFY(prepareKnown(core));
    const Contact sc = peer("k1", QStringLiteral("Known"));
    QVERIFY(core.c->peerIdentified(FakeSession, sc, true));
    core.ui.events.clear();
    Contact* known = core.c->findContact("k1");
    if (EndReason(reason) == EndReason::Block)
        core.c->Block(*known);
    else
        QVERIFY(core.c->Delete(known, false));
    core.c->sessionEnded(FakeSession, sc, EndReason::Disconnect, true);

    QCOMPARE(core.ui.events, events);
    known = core.c->findContact("k1");
    if (EndReason(reason) == EndReason::Delete) {
        QVERIFY(!known);
        return;
    }
    QCOMPARE(known->status, StatusBlocked);
    QCOMPARE(known->blocked, 1);
}

void TestControllerRules::uncreatableProfileFolderSaysItOnce()
{
    QTemporaryDir dir;
    // A file stands where the data root's folder would be.
    const QString root = dir.filePath(QStringLiteral("file"));
    QFile file(root);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    const QStringList once{
        QStringLiteral("Folder Creation Error|Unable to create profile folder!")};

    Core core(QStringLiteral("Me"), root);
    QVERIFY(core.start());
    QCOMPARE(core.ui.boxes, once);
    Identity own = core.c->myIdentity();
    own.name.setText(QStringLiteral("Other"));
    core.c->ApplyOptions(core.c->settings(), own);
    QVERIFY(core.c->SetScreenName(QStringLiteral("Third")));
    QVERIFY(core.exit());
    QCOMPARE(core.ui.boxes, once);
}

QTEST_GUILESS_MAIN(TestControllerRules)
#include "tst_controllerrules.moc"

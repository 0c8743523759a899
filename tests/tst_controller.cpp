// Two or three real controllers talking over 127.0.0.1.

#include "tst_controller_support.h"

#include "messenger/chatlines.h"
#include "scriptedpeer.h"
#include "transport/connectionhello.h"

#include <QFile>

namespace {

// The password field of the next identity frame of this type the peer reads;
// other frames are skipped.
QByteArray passwordIn(testsupport::ScriptedPeer& peer, uint8_t type)
{
    for (;;) {
        const auto [got, payload] = peer.readFrame();
        if (got == 0)
            return QByteArrayLiteral("<no identity>");
        if (got != type)
            continue;
        Identity identity;
        identity.decode(payload);
        return identity.password.bytes();
    }
}

Identity scriptedIdentity(quint16 port)
{
    Identity id = DefaultIdentity();
    id.port = port;
    id.uid.set(QByteArrayLiteral("scripted-uid"));
    id.name.setText(QStringLiteral("Scripted"));
    id.password.set(QByteArrayLiteral("scripted-own-secret"));
    return id;
}

} // namespace

class TestController : public QObject
{
    Q_OBJECT

private:
    // a adds b; both end up with the other Online and their sessions take
    // messages. A session takes posts once it has finished identifying, which
    // is known for sure when the peer's shares flag has come back through it:
    // both share a folder, so the flags are 1.
    static bool connectPair(Core& a, Core& b)
    {
        for (Core* core : {&a, &b}) {
            Settings s = core->c->settings();
            if (s.sharedPaths.isEmpty()) {
                s.sharedPaths = {QByteArrayLiteral("/zephlink-test-share")};
                core->c->ApplyOptions(s, core->c->myIdentity());
            }
        }
        const int before = a.c->contactCount();
        a.c->AddContact(QStringLiteral("127.0.0.1"), b.port(), QByteArray(), QByteArray());
        return QTest::qWaitFor(
            [&] {
                Contact* x = a.c->contactAt(before);
                Contact* y = b.contact(a.c->myIdentity().name.text());
                return x && y && x->status == StatusOnline && y->status == StatusOnline &&
                       x->peerShares == 1 && y->peerShares == 1;
            },
            10000);
    }
    // Two fresh cores, started and connected.
    static bool startConnected(Core& a, Core& b)
    {
        a.prepare();
        b.prepare();
        return a.start() && b.start() && connectPair(a, b);
    }
    static bool sessionsGone(Core& core)
    {
        return QTest::qWaitFor([&] { return core.c->chatSessions().count() == 0; }, 10000);
    }

private slots:
    void addEachOther();
    void messagesBothWays();
    void typing();
    void offlineQueueDeliveredInOrder();
    void sendToSeveralNamesFailures();
    void refusals_data();
    void refusals();
    void blockUnblockDisconnectDelete();
    void requestedEndHoldsWhenSessionEndsFirst_data();
    void requestedEndHoldsWhenSessionEndsFirst();
    void identityUpdates();
    void exitWritesProfileAndRestores();
    void ownPasswordStaysHome_data();
    void ownPasswordStaysHome();
};

void TestController::addEachOther()
{
    Core a(QStringLiteral("Alice")), b(QStringLiteral("Bob"));
    QVERIFY(startConnected(a, b));

    const QString port = QString::number(b.port());
    QCOMPARE(a.ui.events, QStringList({QStringLiteral("Trying to connect to: 127.0.0.1:") + port +
                                           QStringLiteral("..."),
                                       QStringLiteral("New Contact Bob (127.0.0.1) is Online")}));
    QCOMPARE(b.ui.events, QStringList{QStringLiteral("New Contact Alice (127.0.0.1) is Online")});
    QCOMPARE(a.ui.popups, QStringList{QStringLiteral("Bob|Is Online")});
    QCOMPARE(a.ui.sounds, QStringList{QStringLiteral("online.wav")});
    QCOMPARE(a.ui.hooks, QStringList{QStringLiteral("identified Bob")});

    const Contact* bob = a.contact(QStringLiteral("Bob"));
    QCOMPARE(bob->uid, b.c->myIdentity().uid);
    QCOMPARE(bob->ip.text(), QStringLiteral("127.0.0.1"));
    QCOMPARE(bob->port, int(b.port()));
    QVERIFY(bob->connectTime != 0);
    QCOMPARE(b.contact(QStringLiteral("Alice"))->port, int(a.port()));
}

void TestController::messagesBothWays()
{
    Core a(QStringLiteral("Alice")), b(QStringLiteral("Bob"));
    QVERIFY(startConnected(a, b));
    Contact* bob = a.contact(QStringLiteral("Bob"));
    Contact* alice = b.contact(QStringLiteral("Alice"));

    const auto sent = a.c->SendFromMain({bob}, rtf(QStringLiteral("hello Bob, grüße ✓")));
    QCOMPARE(sent.sent, QStringList{QStringLiteral("Bob")});
    QVERIFY(sent.failed.isEmpty());
    QVERIFY(!sent.queued);
    QVERIFY(sent.clearInput);
    QTRY_COMPARE(b.ui.texts(nullptr, PaneLine::Peer),
                 QStringList{QStringLiteral("hello Bob, grüße ✓")});
    QCOMPARE(b.ui.texts(alice, PaneLine::Peer), QStringList{QStringLiteral("hello Bob, grüße ✓")});
    QCOMPARE(b.ui.popups.last(), QStringLiteral("Alice|Sent a Message"));
    QCOMPARE(b.ui.sounds.last(), QStringLiteral("msg.wav"));
    QVERIFY(b.c->mainHistory().plainText().contains(QStringLiteral("hello Bob, grüße ✓")));
    QVERIFY(b.c->history(*alice).plainText().contains(QStringLiteral("Alice:")));
    QCOMPARE(a.ui.texts(nullptr, PaneLine::Own), QStringList{QStringLiteral("hello Bob, grüße ✓")});
    QCOMPARE(a.ui.texts(bob, PaneLine::Own), QStringList{QStringLiteral("hello Bob, grüße ✓")});
    QVERIFY(a.c->history(*bob).plainText().contains(QStringLiteral("Alice 4 Bob:")));

    // The other way, from a chat window, many in a row: all arrive, in order.
    QStringList expected;
    for (int i = 0; i < 25; ++i) {
        expected.append(QStringLiteral("reply %1").arg(i));
        QVERIFY(b.c->SendFromChatWindow(*alice, rtf(expected.last())));
    }
    QTRY_COMPARE(a.ui.texts(bob, PaneLine::Peer), expected);
    QCOMPARE(a.ui.texts(nullptr, PaneLine::Peer), expected);
    QCOMPARE(b.ui.texts(nullptr, PaneLine::Own), expected);
    QVERIFY(a.c->queueDocuments(*bob).isEmpty());
}

void TestController::typing()
{
    Core a(QStringLiteral("Alice")), b(QStringLiteral("Bob"));
    QVERIFY(startConnected(a, b));
    Contact* bob = a.contact(QStringLiteral("Bob"));
    Contact* alice = b.contact(QStringLiteral("Alice"));

    b.c->MainInputTyping(1, {alice});
    QTRY_COMPARE(a.ui.mainStatus, QStringLiteral(" Bob is typing a message"));
    QCOMPARE(a.ui.chatStatus.value(bob), QStringLiteral(" Bob is typing a message"));
    QCOMPARE(a.ui.typing, QStringList{QStringLiteral("Bob 1")});

    b.c->ChatInputTyping(*alice, 0);
    QTRY_COMPARE(a.ui.mainStatus, QString());
    QCOMPARE(a.ui.chatStatus.value(bob), QString());

    // An unselected contact hears that typing stopped.
    b.c->ChatInputTyping(*alice, 1);
    QTRY_COMPARE(bob->typing, 1);
    b.c->MainInputTyping(1, {});
    QTRY_COMPARE(bob->typing, 0);

    // A session that ends takes its typing text with it.
    b.c->ChatInputTyping(*alice, 1);
    QTRY_COMPARE(a.ui.mainStatus, QStringLiteral(" Bob is typing a message"));
    b.c->Disconnect(*alice);
    QTRY_COMPARE(a.ui.mainStatus, QString());
    QCOMPARE(bob->typing, 0);
}

void TestController::offlineQueueDeliveredInOrder()
{
    Core a(QStringLiteral("Alice")), b(QStringLiteral("Bob"));
    QVERIFY(startConnected(a, b));
    Contact* bob = a.contact(QStringLiteral("Bob"));

    // Bob shows himself Offline: still connected, but he gets everything queued.
    b.c->SetMyStatus(StatusOffline);
    QTRY_COMPARE(bob->status, int(StatusOffline));
    QCOMPARE(a.ui.events.last(), QStringLiteral("Bob (127.0.0.1) is Offline"));
    a.c->MainInputTyping(1, {bob});
    const auto first = a.c->SendFromMain({bob}, rtf(QStringLiteral("first")));
    QVERIFY(first.queued);
    QCOMPARE(first.sent, QStringList{QStringLiteral("Bob")});
    QVERIFY(a.c->SendFromChatWindow(*bob, rtf(QStringLiteral("second"))));
    QCOMPARE(a.ui.texts(nullptr, PaneLine::QueuedOwn),
             QStringList({QStringLiteral("first"), QStringLiteral("second")}));
    QCOMPARE(a.c->queueDocuments(*bob).size(), 4);

    b.c->SetMyStatus(StatusOnline);
    QTRY_COMPARE(b.ui.texts(nullptr, PaneLine::QueuedPeer).size(), 4);
    const QStringList docs = b.ui.texts(nullptr, PaneLine::QueuedPeer);
    QVERIFY(docs[0].startsWith(QStringLiteral("Offline Message sent at: (")));
    QCOMPARE(docs[1], QStringLiteral("first"));
    QVERIFY(docs[2].startsWith(QStringLiteral("Offline Message sent at: (")));
    QCOMPARE(docs[3], QStringLiteral("second"));
    QCOMPARE(b.ui.popups.last(), QStringLiteral("Alice|Sent a Queued Message"));
    QVERIFY(bob->queue.isEmpty());
    // No typing notice reached a peer that showed itself Offline.
    QVERIFY(b.ui.typing.isEmpty());
    QCOMPARE(a.ui.events.last(), QStringLiteral("Bob (127.0.0.1) is Online"));

    // Not connected at all: queued, delivered on the next connection.
    a.c->Disconnect(*bob);
    QTRY_COMPARE(bob->sessionThread, SessionId(0));
    QVERIFY(sessionsGone(a));
    QVERIFY(a.c->SendFromMain({bob}, rtf(QStringLiteral("third"))).queued);
    a.c->Connect(*bob);
    QTRY_COMPARE(b.ui.texts(nullptr, PaneLine::QueuedPeer).size(), 6);
    QCOMPARE(b.ui.texts(nullptr, PaneLine::QueuedPeer).last(), QStringLiteral("third"));
    QVERIFY(bob->queue.isEmpty());
}

void TestController::sendToSeveralNamesFailures()
{
    Core a(QStringLiteral("Alice")), b(QStringLiteral("Bob"));
    const quint16 nowhere = freedPort();
    a.prepare({storedContact(QStringLiteral("Carol"), "carol1", nowhere),
               storedContact(QStringLiteral("Dave"), "dave1", nowhere)});
    b.prepare();
    QVERIFY(a.start());
    QVERIFY(b.start());
    Contact* carol = a.contact(QStringLiteral("Carol"));
    Contact* dave = a.contact(QStringLiteral("Dave"));
    QVERIFY(carol && dave);
    while (a.c->QueueMessage(*dave, rtf(QStringLiteral("filler").repeated(100)))) {
    }
    QVERIFY(connectPair(a, b));
    Contact* bob = a.contact(QStringLiteral("Bob"));

    const auto r = a.c->SendFromMain({bob, dave, carol}, rtf(QStringLiteral("to all")));
    QCOMPARE(r.sent, QStringList({QStringLiteral("Carol"), QStringLiteral("Bob")}));
    QCOMPARE(r.failed, QStringList{QStringLiteral("Dave")});
    QVERIFY(r.queued);
    QCOMPARE(a.ui.mainStatus, QStringLiteral(" Failed (Queue Full): Dave"));
    const RecordingUi::Line& mainLine = a.ui.lines.last();
    QCOMPARE(mainLine.pane, nullptr);
    QCOMPARE(mainLine.line.kind, PaneLine::QueuedOwn);
    QCOMPARE(mainLine.line.recipients, QStringLiteral("Carol, Bob"));
    QCOMPARE(a.ui.texts(carol, PaneLine::QueuedOwn), QStringList{QStringLiteral("to all")});
    QCOMPARE(a.ui.texts(bob, PaneLine::Own), QStringList{QStringLiteral("to all")});
    QTRY_COMPARE(b.ui.texts(nullptr, PaneLine::Peer), QStringList{QStringLiteral("to all")});

    // A full send clears the failure text.
    QVERIFY(a.c->SendFromMain({bob}, rtf(QStringLiteral("again"))).failed.isEmpty());
    QCOMPARE(a.ui.mainStatus, QString());
}

void TestController::refusals_data()
{
    QTest::addColumn<bool>("self");
    QTest::addColumn<QByteArray>("peerKey");
    QTest::addColumn<QByteArray>("peerPassword");
    QTest::addColumn<QByteArray>("typedPassword");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QStringList>("openerLines"); // after "Trying to connect to: ..."

    const QString failed = QStringLiteral("Failed to connect to: 127.0.0.1:%1");
    // The opener never learned whom it reached.
    QTest::newRow("self") << true << QByteArray() << QByteArray() << QByteArray() << false
                          << QStringList{QStringLiteral("You cannot connect to yourself"), failed};
    QTest::newRow("wrong key") << false << QByteArray("OTHERKEY99") << QByteArray() << QByteArray()
                               << false << QStringList{failed};
    QTest::newRow("wrong password") << false << QByteArray() << QByteArray("secret")
                                    << QByteArray("guess") << false << QStringList{failed};
    QTest::newRow("empty password") << false << QByteArray() << QByteArray("secret") << QByteArray()
                                    << false << QStringList{failed};
    QTest::newRow("right password")
        << false << QByteArray() << QByteArray("secret") << QByteArray("secret") << true
        << QStringList{QStringLiteral("New Contact Bob (127.0.0.1) is Online")};
}

void TestController::refusals()
{
    QFETCH(bool, self);
    QFETCH(QByteArray, peerKey);
    QFETCH(QByteArray, peerPassword);
    QFETCH(QByteArray, typedPassword);
    QFETCH(bool, accepted);
    QFETCH(QStringList, openerLines);

    Core a(QStringLiteral("Alice")), b(QStringLiteral("Bob"));
    a.prepare();
    b.prepare();
    QVERIFY(a.start());
    QVERIFY(b.start());
    if (!peerKey.isEmpty() || !peerPassword.isEmpty()) {
        Settings s = b.c->settings();
        Identity own = b.c->myIdentity();
        if (!peerKey.isEmpty())
            own.key.set(peerKey);
        if (!peerPassword.isEmpty()) {
            own.password.set(peerPassword);
            s.requirePassword = 1;
        }
        b.c->ApplyOptions(s, own);
    }
    Core& target = self ? a : b;
    const QString port = QString::number(target.port());
    a.c->AddContact(QStringLiteral("127.0.0.1"), target.port(), typedPassword, QByteArray());
    QVERIFY(QTest::qWaitFor([&] { return a.ui.events.size() > openerLines.size(); }, 10000));
    if (!accepted) {
        QVERIFY(sessionsGone(a));
        QVERIFY(sessionsGone(b));
    }
    QStringList expected{QStringLiteral("Trying to connect to: 127.0.0.1:") + port +
                         QStringLiteral("...")};
    for (const QString& line : openerLines)
        expected.append(line.contains(QLatin1String("%1")) ? line.arg(port) : line);
    QCOMPARE(a.ui.events, expected);
    QCOMPARE(a.c->contactCount(), accepted ? 1 : 0);
    // A refusing acceptor says nothing, except to itself about itself.
    QCOMPARE(b.ui.events.isEmpty(), !accepted);
    QCOMPARE(b.c->contactCount(), accepted ? 1 : 0);
}

void TestController::blockUnblockDisconnectDelete()
{
    Core a(QStringLiteral("Alice")), b(QStringLiteral("Bob"));
    QVERIFY(startConnected(a, b));
    Contact* bob = a.contact(QStringLiteral("Bob"));
    Contact* alice = b.contact(QStringLiteral("Alice"));
    const QString alicePort = QString::number(a.port());

    a.c->Block(*bob);
    QTRY_COMPARE(a.ui.events.last(), QStringLiteral("Bob (127.0.0.1) is now Blocked"));
    QCOMPARE(bob->status, int(StatusBlocked));
    QCOMPARE(bob->blocked, 1);
    QCOMPARE(bob->sessionThread, SessionId(0));
    QVERIFY(bob->disconnectTime != 0);
    QTRY_COMPARE(b.ui.events.last(), QStringLiteral("Alice (127.0.0.1) has Disconnected"));

    // A blocked contact cannot come in.
    b.c->Connect(*alice);
    QTRY_COMPARE(b.ui.events.last(), QStringLiteral("Failed to connect to: Alice:") + alicePort);
    QVERIFY(sessionsGone(a));
    QCOMPARE(a.ui.events.last(), QStringLiteral("Bob (127.0.0.1) is now Blocked"));
    QCOMPARE(bob->status, int(StatusBlocked));

    a.c->Unblock(*bob);
    QCOMPARE(bob->status, int(StatusOffline));
    QCOMPARE(bob->blocked, 0);
    b.c->Connect(*alice);
    QTRY_COMPARE(bob->status, int(StatusOnline));
    QCOMPARE(a.ui.events.last(), QStringLiteral("Bob (127.0.0.1) is Online"));

    a.c->Disconnect(*bob);
    QTRY_COMPARE(a.ui.events.last(), QStringLiteral("Bob (127.0.0.1) has Disconnected"));
    QCOMPARE(bob->status, int(StatusOffline));
    QTRY_COMPARE(alice->status, int(StatusOffline));

    // Connecting by hand also unblocks.
    a.c->Block(*bob);
    QCOMPARE(bob->status, int(StatusBlocked));
    a.c->Connect(*bob);
    QCOMPARE(a.ui.events.last(), QStringLiteral("Trying to connect to: Bob:") +
                                     QString::number(b.port()) + QStringLiteral("..."));
    QTRY_COMPARE(bob->status, int(StatusOnline));
    QCOMPARE(bob->blocked, 0);

    // Deleting a connected contact ends its session first.
    a.ui.yes = false;
    QVERIFY(!a.c->Delete(bob));
    QCOMPARE(a.ui.questions.last(),
             QStringLiteral("Delete Contact?|Are you sure you want to delete:\nBob (127.0.0.1)"));
    QCOMPARE(a.c->contactCount(), 1);
    a.ui.yes = true;
    QVERIFY(a.c->Delete(bob));
    QTRY_COMPARE(a.c->contactCount(), 0);
    QCOMPARE(a.ui.events.last(), QStringLiteral("Bob (127.0.0.1) has been Deleted"));
    QCOMPARE(a.ui.hooks.last(), QStringLiteral("removed Bob"));
    QTRY_COMPARE(alice->status, int(StatusOffline));

    // The peer connects again: a new contact.
    b.c->Connect(*alice);
    QTRY_COMPARE(a.c->contactCount(), 1);
    QCOMPARE(a.ui.events.last(), QStringLiteral("New Contact Bob (127.0.0.1) is Online"));
}

void TestController::requestedEndHoldsWhenSessionEndsFirst_data()
{
    QTest::addColumn<bool>("block");
    QTest::newRow("block") << true;
    QTest::newRow("delete") << false;
}

void TestController::requestedEndHoldsWhenSessionEndsFirst()
{
    QFETCH(bool, block);
    Core a(QStringLiteral("Alice")), b(QStringLiteral("Bob"));
    QVERIFY(startConnected(a, b));
    Contact* bob = a.contact(QStringLiteral("Bob"));

    // The session ends for another reason (the peer went away) before it
    // takes the request.
    if (block)
        a.c->Block(*bob);
    else
        QVERIFY(a.c->Delete(bob, false));
    const Contact copy = *bob;
    a.c->sessionEnded(copy.sessionThread, copy, EndReason::Disconnect, true);
    if (block) {
        QCOMPARE(a.ui.events.last(), QStringLiteral("Bob (127.0.0.1) is now Blocked"));
        QCOMPARE(bob->blocked, 1);
    } else {
        QCOMPARE(a.ui.events.last(), QStringLiteral("Bob (127.0.0.1) has been Deleted"));
        QCOMPARE(a.c->contactCount(), 0);
    }
    QVERIFY(sessionsGone(a));
}

void TestController::identityUpdates()
{
    Core a(QStringLiteral("Alice")), b(QStringLiteral("Bob"));
    QVERIFY(startConnected(a, b));
    Contact* bob = a.contact(QStringLiteral("Bob"));

    QVERIFY(b.c->SetScreenName(QStringLiteral("Bobby")));
    QTRY_COMPARE(a.ui.events.last(),
                 QStringLiteral("\"Bob\" changed name to \"Bobby\" and is Online"));
    QCOMPARE(a.ui.hooks.last(), QStringLiteral("renamed Bob Bobby"));

    b.c->SetAwayMessage(QStringLiteral("at lunch"));
    QTRY_COMPARE(a.ui.events.last(), QStringLiteral("Bobby (127.0.0.1) is \"at lunch\""));
    b.c->SetAwayMessage(QStringLiteral("in a meeting"));
    QTRY_COMPARE(a.ui.events.last(), QStringLiteral("Bobby (127.0.0.1) is \"in a meeting\""));
    b.c->SetAwayMessage(QString());
    QTRY_COMPARE(a.ui.events.last(), QStringLiteral("Bobby (127.0.0.1) is Away"));

    // An alias names the contact in every later line.
    a.c->SetAlias(*bob, QStringLiteral("Robert"));
    const int popups = a.ui.popups.size();
    b.c->SetMyStatus(StatusOnline);
    QTRY_COMPARE(a.ui.events.last(), QStringLiteral("Robert (127.0.0.1) is Online"));
    QCOMPARE(a.ui.popups.size(), popups + 1);
    QCOMPARE(a.ui.popups.last(), QStringLiteral("Robert|Is Online"));
    QCOMPARE(b.c->myIdentity().name.text(), QStringLiteral("Bobby"));

    // Unchanged presence gives no line.
    const int events = a.ui.events.size();
    b.c->BroadcastIdentity();
    b.c->SetAwayMessage(QStringLiteral("x"));
    QTRY_COMPARE(a.ui.events.size(), events + 1);
    QCOMPARE(a.ui.events.last(), QStringLiteral("Robert (127.0.0.1) is \"x\""));
}

void TestController::exitWritesProfileAndRestores()
{
    QTemporaryDir root;
    const quint16 nowhere = freedPort();
    QByteArray bobUid;
    QString bobHistory;
    {
        Core a(QStringLiteral("Alice"), root.path()), b(QStringLiteral("Bob"));
        a.prepare({storedContact(QStringLiteral("Carol"), "carol1", nowhere)});
        b.prepare();
        QVERIFY(a.start());
        QVERIFY(b.start());
        QVERIFY(connectPair(a, b));
        Contact* bob = a.contact(QStringLiteral("Bob"));
        Contact* carol = a.contact(QStringLiteral("Carol"));
        bobUid = bob->uid.bytes();
        a.c->SetAlias(*bob, QStringLiteral("Robert"));
        a.c->SendFromMain({bob}, rtf(QStringLiteral("hello before exit")));
        QVERIFY(a.c->SendFromMain({carol}, rtf(QStringLiteral("for Carol"))).queued);
        QVERIFY(a.c->SendFromMain({carol}, rtf(QStringLiteral("and more"))).queued);
        b.c->SendFromChatWindow(*b.contact(QStringLiteral("Alice")), rtf(QStringLiteral("bye")));
        QTRY_COMPARE(a.ui.texts(bob, PaneLine::Peer), QStringList{QStringLiteral("bye")});
        bobHistory = a.c->history(*bob).plainText();

        QSignalSpy exited(a.c.get(), &MessengerController::exited);
        a.c->Exit();
        QVERIFY(a.c->isExiting());
        QVERIFY(exited.wait(30000));
        QCOMPARE(a.registry.count(), 0);
        QCOMPARE(a.c->contactCount(), 0);
        for (const char* file :
             {"Contacts.cfg", "Messages.cfg", "QueMsgs.cfg", "WindowPos.cfg", "MyInfo.cfg"})
            QVERIFY2(QFile::exists(a.folder + QLatin1String(file)), file);
        QTRY_COMPARE(b.ui.events.last(), QStringLiteral("Alice (127.0.0.1) has Disconnected"));
    }

    Core again(QStringLiteral("ignored"), root.path());
    QVERIFY(again.start());
    QCOMPARE(again.c->myIdentity().name.text(), QStringLiteral("Alice"));
    QCOMPARE(again.c->contactCount(), 2);
    const Contact* carol = again.c->contactAt(0);
    const Contact* bob = again.c->contactAt(1);
    QCOMPARE(carol->name.text(), QStringLiteral("Carol"));
    QCOMPARE(bob->uid.bytes(), bobUid);
    QCOMPARE(DisplayName(*bob), QStringLiteral("Robert"));
    QCOMPARE(bob->status, int(StatusOffline));
    QCOMPARE(bob->sessionThread, SessionId(0));
    QVERIFY(bob->disconnectTime != 0);
    const QList<QByteArray> docs = again.c->queueDocuments(*carol);
    QCOMPARE(docs.size(), 4);
    QVERIFY(docs[1].contains("for Carol"));
    QVERIFY(docs[3].contains("and more"));
    QVERIFY(bob->queue.isEmpty());
    QVERIFY(again.c->mainHistory().plainText().contains(QStringLiteral("hello before exit")));
    QVERIFY(again.c->mainHistory().plainText().contains(QStringLiteral("bye")));
    QCOMPARE(again.c->history(*bob).plainText(), bobHistory);
}

void TestController::ownPasswordStaysHome_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QByteArray>("password"); // kept for the scripted peer
    QTest::newRow("added with a password, then connected again") << "add" << QByteArray("typed");
    QTest::newRow("stored contact with a password") << "stored" << QByteArray("kept");
    QTest::newRow("stored contact without a password") << "stored" << QByteArray();
    QTest::newRow("accepted from a stranger") << "accepted" << QByteArray();
}

// Every identity a peer receives carries the password kept for that peer,
// never the own connection password.
void TestController::ownPasswordStaysHome()
{
    QFETCH(QString, how);
    QFETCH(QByteArray, password);
    testsupport::ScriptedPeer peer(QByteArrayLiteral("QRT482LMN"));
    const quint16 peerPort = peer.listen();
    const QByteArray peerIdentity = scriptedIdentity(peerPort).encode();
    Core a(QStringLiteral("Alice"));
    Contact stored = storedContact(QStringLiteral("Scripted"), "scripted-uid", peerPort);
    stored.password.set(password);
    a.prepare(how == u"stored" ? QList<Contact>{stored} : QList<Contact>{});
    QVERIFY(a.start());
    Identity own = a.c->myIdentity();
    own.password.set(QByteArrayLiteral("own-secret"));
    a.c->ApplyOptions(a.c->settings(), own);
    const auto identified = [&] {
        return QTest::qWaitFor(
            [&] {
                const Contact* c = a.contact(QStringLiteral("Scripted"));
                return c && c->sessionThread != 0 && c->status == StatusOnline;
            },
            5000);
    };

    if (how == u"accepted") {
        QVERIFY(peer.open(a.port(), ConnectionHello::Chat));
        peer.sendFrame(1, peerIdentity);
        QCOMPARE(passwordIn(peer, 2), password);
        // A changed identity goes out with the same password.
        QVERIFY(identified());
        a.c->SetMyStatus(StatusAway);
        QCOMPARE(passwordIn(peer, 3), password);
        return;
    }

    if (how == u"add")
        a.c->AddContact(QStringLiteral("127.0.0.1"), peerPort, password, QByteArray());
    else
        a.c->Connect(*a.contact(QStringLiteral("Scripted")));
    QVERIFY(peer.accept());
    QCOMPARE(passwordIn(peer, 1), password);
    peer.sendFrame(2, peerIdentity);
    QVERIFY(identified());
    a.c->SetMyStatus(StatusAway);
    QCOMPARE(passwordIn(peer, 3), password);
    if (how != u"add")
        return;
    // The typed password stays with the contact for later connections.
    peer.socket->abort();
    Contact* scripted = a.contact(QStringLiteral("Scripted"));
    QTRY_VERIFY(scripted->sessionThread == 0);
    a.c->Connect(*scripted);
    QVERIFY(peer.accept());
    QCOMPARE(passwordIn(peer, 1), password);
}

QTEST_GUILESS_MAIN(TestController)
#include "tst_controller.moc"

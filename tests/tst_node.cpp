// Headless node processes driven over their console: two or three nodes on
// 127.0.0.1 with ports of their own choosing and temporary data roots.

#include "nodeprocess.h"
#include "profile/profilefolder.h"
#include "profile/profilestore.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <tuple>

namespace {

QString escaped(const QString& text)
{
    return QRegularExpression::escape(text);
}

// The fields of one `contacts` line: uid, status, display name, ip:port, queue length.
QStringList contactFields(NodeProcess& node, int row)
{
    QStringList lines;
    if (node.command(QStringLiteral("contacts"), &lines, QStringLiteral("contact")) !=
            QStringLiteral("ok") ||
        row >= lines.size())
        return {};
    return lines[row].split(QLatin1Char('\t'));
}

int contactCount(NodeProcess& node)
{
    QStringList lines;
    node.command(QStringLiteral("contacts"), &lines, QStringLiteral("contact"));
    return int(lines.size());
}

} // namespace

class TestNode : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void cleanupTestCase();

    void connectChatAndType();
    void recipients_data();
    void recipients();
    void presenceReachesPeer_data();
    void presenceReachesPeer();
    void offlineQueueDeliveredInOrder();
    void refusals_data();
    void refusals();
    void blockUnblockDelete();
    void quitKeepsProfile();
    void signalRunsExitSequence_data();
    void signalRunsExitSequence();
    void badCommands_data();
    void badCommands();

private:
    // A node on a data root of its own, started and listening.
    NodeProcess* startNode(const QString& name, const QStringList& extra = {});
    // Alice adds Bob; both see each other Online.
    bool connectPair(NodeProcess& alice, const QString& aliceName, NodeProcess& bob,
                     const QString& bobName);
    // Alice and Bob started and connected.
    bool startAliceAndBob(NodeProcess*& a, NodeProcess*& b, const QStringList& aliceExtra = {});
    QString profileFile(const NodeProcess& node, const QString& file) const;

    // A node whose one contact is not connected, shared by the bad-command rows.
    NodeProcess* lonelyNode();

    std::unique_ptr<QTemporaryDir> m_lonelyHome;
    std::unique_ptr<NodeProcess> m_lonely;
    QList<std::shared_ptr<QTemporaryDir>> m_homes;
    QList<NodeProcess*> m_nodes;
    QHash<const NodeProcess*, QString> m_homeOf;
};

void TestNode::init()
{
    // Every node gets the same user folder name, whatever the machine's.
    qputenv("HOME", "/home/tester");
}

void TestNode::cleanup()
{
    if (QTest::currentTestFailed()) {
        QList<NodeProcess*> all = m_nodes;
        if (m_lonely)
            all.append(m_lonely.get());
        for (NodeProcess* n : all) {
            qWarning().noquote() << "node output:\n"
                                 << n->lines().join(QLatin1Char('\n')) << "\nstandard error:\n"
                                 << n->errorOutput();
        }
    }
    qDeleteAll(m_nodes);
    m_nodes.clear();
    m_homes.clear();
    m_homeOf.clear();
}

void TestNode::cleanupTestCase()
{
    m_lonely.reset();
    m_lonelyHome.reset();
}

NodeProcess* TestNode::startNode(const QString& name, const QStringList& extra)
{
    auto home = std::make_shared<QTemporaryDir>();
    if (!home->isValid())
        return nullptr;
    auto* node = new NodeProcess(QStringLiteral(ZEPHLINK_NODE_PATH));
    m_nodes.append(node);
    m_homes.append(home);
    m_homeOf.insert(node, home->path());
    if (!node->start(home->path(), QStringList{QStringLiteral("--name"), name} + extra))
        return nullptr;
    return node;
}

bool TestNode::startAliceAndBob(NodeProcess*& a, NodeProcess*& b, const QStringList& aliceExtra)
{
    a = startNode(QStringLiteral("Alice"), aliceExtra);
    b = startNode(QStringLiteral("Bob"));
    return a && b && connectPair(*a, QStringLiteral("Alice"), *b, QStringLiteral("Bob"));
}

bool TestNode::connectPair(NodeProcess& alice, const QString& aliceName, NodeProcess& bob,
                           const QString& bobName)
{
    const auto eventLine = [](const QString& name, const QString& rest) {
        return QStringLiteral("^event %1 \\(127\\.0\\.0\\.1\\) %2$").arg(escaped(name), rest);
    };
    if (alice.command(QStringLiteral("add 127.0.0.1 %1").arg(bob.port())) != u"ok" ||
        alice
            .waitForLine(QStringLiteral("^event New Contact %1 \\(127\\.0\\.0\\.1\\) is Online$")
                             .arg(escaped(bobName)))
            .isEmpty() ||
        bob.waitForLine(QStringLiteral("^event New Contact %1 \\(127\\.0\\.0\\.1\\) is Online$")
                            .arg(escaped(aliceName)))
            .isEmpty())
        return false;
    // The Online line shows while a session is still finishing its side of
    // the identification; a message sent in that moment is queued instead of
    // sent. An identity update that went out after it and reached the other
    // side proves the sender's session is done.
    for (auto [from, fromName, to] :
         {std::tuple(&alice, aliceName, &bob), std::tuple(&bob, bobName, &alice)}) {
        if (from->command(QStringLiteral("away sync")) != u"ok" ||
            to->waitForLine(eventLine(fromName, QStringLiteral("is \"sync\""))).isEmpty() ||
            from->command(QStringLiteral("status online")) != u"ok" ||
            to->waitForLine(eventLine(fromName, QStringLiteral("is Online"))).isEmpty())
            return false;
    }
    return true;
}

QString TestNode::profileFile(const NodeProcess& node, const QString& file) const
{
    return ProfileFolder(m_homeOf.value(&node)) + file;
}

// Two nodes find each other, show each other Online, talk both ways (with a
// line break inside a message) and see each other's typing.
void TestNode::connectChatAndType()
{
    NodeProcess* a = startNode(QStringLiteral("Alice"));
    NodeProcess* b = startNode(QStringLiteral("Bob Smith"));
    QVERIFY(a && b);
    QVERIFY(connectPair(*a, QStringLiteral("Alice"), *b, QStringLiteral("Bob Smith")));

    const QStringList aSeesB = contactFields(*a, 0);
    QCOMPARE(aSeesB.size(), 5);
    QCOMPARE(aSeesB[1], QStringLiteral("0"));
    QCOMPARE(aSeesB[2], QStringLiteral("Bob Smith"));
    QCOMPARE(aSeesB[3], QStringLiteral("127.0.0.1:%1").arg(b->port()));
    const QStringList bSeesA = contactFields(*b, 0);
    QCOMPARE(bSeesA.value(1), QStringLiteral("0"));
    QCOMPARE(bSeesA.value(2), QStringLiteral("Alice"));
    QVERIFY(!bSeesA.value(0).isEmpty());
    QVERIFY(bSeesA.value(0) != aSeesB.value(0));

    QCOMPARE(a->command(QStringLiteral("msg \"Bob Smith\" first line\\nsecond line")), u"ok");
    QVERIFY(
        !b->waitForLine(QStringLiteral("^message Alice: first line\\\\nsecond line$")).isEmpty());
    QCOMPARE(b->command(QStringLiteral("msg Alice back at you")), u"ok");
    QVERIFY(!a->waitForLine(QStringLiteral("^message Bob Smith: back at you$")).isEmpty());

    QCOMPARE(b->command(QStringLiteral("typing 1 1")), u"ok");
    QVERIFY(!a->waitForLine(QStringLiteral("^typing Bob Smith 1$")).isEmpty());
    QCOMPARE(b->command(QStringLiteral("typing Alice 0")), u"ok");
    QVERIFY(!a->waitForLine(QStringLiteral("^typing Bob Smith 0$")).isEmpty());

    // Both sides keep the conversation in their panes.
    QStringList history;
    QCOMPARE(a->command(QStringLiteral("history 1"), &history, QStringLiteral("history")), u"ok");
    const QString text = history.join(QLatin1Char('\n'));
    QVERIFY2(text.contains(QStringLiteral("first line")) &&
                 text.contains(QStringLiteral("back at you")),
             qPrintable(text));
}

// A message goes to every contact named, however each is named.
void TestNode::recipients_data()
{
    QTest::addColumn<QString>("recipients");
    QTest::newRow("rows") << QStringLiteral("1,2");
    QTest::newRow("names") << QStringLiteral("Bob,\"Carol, Jr\"");
    QTest::newRow("uids") << QStringLiteral("%1,%2");
    QTest::newRow("mixed, repeated") << QStringLiteral("%1,\"Carol, Jr\",1");
}

void TestNode::recipients()
{
    QFETCH(QString, recipients);
    NodeProcess* a = startNode(QStringLiteral("Alice"));
    NodeProcess* b = startNode(QStringLiteral("Bob"));
    NodeProcess* c = startNode(QStringLiteral("Carol, Jr"));
    QVERIFY(a && b && c);
    QVERIFY(connectPair(*a, QStringLiteral("Alice"), *b, QStringLiteral("Bob")));
    QVERIFY(connectPair(*a, QStringLiteral("Alice"), *c, QStringLiteral("Carol, Jr")));
    if (recipients.contains(QLatin1Char('%')))
        recipients = recipients.replace(QStringLiteral("%1"), contactFields(*a, 0).value(0))
                         .replace(QStringLiteral("%2"), contactFields(*a, 1).value(0));

    QCOMPARE(a->command(QStringLiteral("msg %1 to you both").arg(recipients)), u"ok");
    QVERIFY(!b->waitForLine(QStringLiteral("^message Alice: to you both$")).isEmpty());
    QVERIFY(!c->waitForLine(QStringLiteral("^message Alice: to you both$")).isEmpty());
    // One copy each, even when a contact is named twice.
    QCOMPARE(a->command(QStringLiteral("msg 1 marker")), u"ok");
    QVERIFY(!b->waitForLine(QStringLiteral("^message Alice: marker$")).isEmpty());
    QCOMPARE(b->linesMatching(QRegularExpression(QStringLiteral("^message "))).size(), 2);
}

// Presence and identity changes made by command reach the peer as event lines.
void TestNode::presenceReachesPeer_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("peerEvent");
    QTest::newRow("away") << QStringLiteral("status away")
                          << QStringLiteral("Alice (127.0.0.1) is Away");
    QTest::newRow("away message") << QStringLiteral("away Out to lunch")
                                  << QStringLiteral("Alice (127.0.0.1) is \"Out to lunch\"");
    QTest::newRow("offline") << QStringLiteral("status offline")
                             << QStringLiteral("Alice (127.0.0.1) is Offline");
    QTest::newRow("name") << QStringLiteral("name Alicia")
                          << QStringLiteral("\"Alice\" changed name to \"Alicia\" and is Online");
    QTest::newRow("set name") << QStringLiteral("set name Ally")
                              << QStringLiteral("\"Alice\" changed name to \"Ally\" and is Online");
}

void TestNode::presenceReachesPeer()
{
    QFETCH(QString, command);
    QFETCH(QString, peerEvent);
    NodeProcess *a = nullptr, *b = nullptr;
    QVERIFY(startAliceAndBob(a, b));

    QCOMPARE(a->command(command), u"ok");
    QVERIFY(!b->waitForLine(QLatin1Char('^') + escaped(QStringLiteral("event ") + peerEvent) +
                            QLatin1Char('$'))
                 .isEmpty());
}

// A contact that shows itself Offline gets its messages queued and no
// typing-on notice; the queue arrives in order when it comes back.
void TestNode::offlineQueueDeliveredInOrder()
{
    NodeProcess *a = nullptr, *b = nullptr;
    QVERIFY(startAliceAndBob(a, b));

    QCOMPARE(b->command(QStringLiteral("status offline")), u"ok");
    QVERIFY(
        !a->waitForLine(QStringLiteral("^event Bob \\(127\\.0\\.0\\.1\\) is Offline$")).isEmpty());
    QCOMPARE(contactFields(*a, 0).value(1), QStringLiteral("3"));

    QCOMPARE(a->command(QStringLiteral("typing Bob 1")), u"ok");
    QCOMPARE(a->command(QStringLiteral("msg Bob one")), u"ok");
    QCOMPARE(a->command(QStringLiteral("msg Bob two\\nlines")), u"ok");
    QCOMPARE(a->command(QStringLiteral("msg Bob three")), u"ok");
    QCOMPARE(a->command(QStringLiteral("typing Bob 0")), u"ok");
    // The typing-off goes out on the same connection after everything
    // before it: once it is here, nothing else was sent.
    QVERIFY(!b->waitForLine(QStringLiteral("^typing Alice 0$")).isEmpty());
    QVERIFY(b->linesMatching(QRegularExpression(QStringLiteral("^(typing Alice 1|message )")))
                .isEmpty());

    QVERIFY(contactFields(*a, 0).value(4).toInt() > 0);
    QStringList queued;
    QCOMPARE(a->command(QStringLiteral("queue Bob"), &queued, QStringLiteral("queue")), u"ok");
    QCOMPARE(queued.size(), 6); // a header document and the message, three times
    QCOMPARE(queued[1], QStringLiteral("Bob: one"));
    QCOMPARE(queued[3], QStringLiteral("Bob: two\\nlines"));
    QCOMPARE(queued[5], QStringLiteral("Bob: three"));
    QVERIFY(queued[0].startsWith(QStringLiteral("Bob: Offline Message sent at: ")));

    QCOMPARE(b->command(QStringLiteral("status online")), u"ok");
    QStringList messages;
    for (int i = 0; i < 3; ++i) {
        const QString line =
            b->waitForLine(QStringLiteral("^queued Alice: (?!Offline Message sent at)"));
        QVERIFY(!line.isEmpty());
        messages.append(line);
    }
    QCOMPARE(messages, (QStringList{QStringLiteral("queued Alice: one"),
                                    QStringLiteral("queued Alice: two\\nlines"),
                                    QStringLiteral("queued Alice: three")}));
    QVERIFY(!b->waitForLine(QStringLiteral("^popup Alice: Sent a Queued Message$")).isEmpty());
    // The queue left with the delivery.
    QTRY_COMPARE(contactFields(*a, 0).value(4), QStringLiteral("0"));
    QStringList rest;
    QCOMPARE(a->command(QStringLiteral("queue Bob"), &rest, QStringLiteral("queue")), u"ok");
    QVERIFY(rest.isEmpty());
}

// Connections that must not succeed say so in event lines and leave no contact.
void TestNode::refusals_data()
{
    QTest::addColumn<QStringList>("aliceSetup");
    QTest::addColumn<QStringList>("bobSetup");
    QTest::addColumn<QString>("addArguments"); // %1: the target port
    QTest::addColumn<bool>("toSelf");
    QTest::addColumn<QString>("aliceEvent");
    QTest::addColumn<QString>("bobEvent");

    QTest::newRow("self") << QStringList() << QStringList() << QStringLiteral("%1") << true
                          << QStringLiteral("You cannot connect to yourself") << QString();
    // Sessions are keyed with the own key; a contact's key never keys one.
    QTest::newRow("other own key")
        << QStringList{QStringLiteral("set key OTHERKEY1")} << QStringList()
        << QStringLiteral("%1 \"\" OTHERKEY1") << false
        << QStringLiteral("Failed to connect to: 127.0.0.1:%1") << QString();
    QTest::newRow("password missing")
        << QStringList()
        << QStringList{QStringLiteral("set password letmein"),
                       QStringLiteral("set requirePassword 1")}
        << QStringLiteral("%1") << false << QStringLiteral("Failed to connect to: 127.0.0.1:%1")
        << QString();
    QTest::newRow("password wrong")
        << QStringList()
        << QStringList{QStringLiteral("set password letmein"),
                       QStringLiteral("set requirePassword on")}
        << QStringLiteral("%1 guess") << false
        << QStringLiteral("Failed to connect to: 127.0.0.1:%1") << QString();
    QTest::newRow("password right") << QStringList()
                                    << QStringList{QStringLiteral("set password letmein"),
                                                   QStringLiteral("set requirePassword 1")}
                                    << QStringLiteral("%1 letmein") << false
                                    << QStringLiteral("New Contact Bob (127.0.0.1) is Online")
                                    << QStringLiteral("New Contact Alice (127.0.0.1) is Online");
}

void TestNode::refusals()
{
    QFETCH(QStringList, aliceSetup);
    QFETCH(QStringList, bobSetup);
    QFETCH(QString, addArguments);
    QFETCH(bool, toSelf);
    QFETCH(QString, aliceEvent);
    QFETCH(QString, bobEvent);

    NodeProcess* a = startNode(QStringLiteral("Alice"));
    NodeProcess* b = startNode(QStringLiteral("Bob"));
    QVERIFY(a && b);
    for (const QString& command : aliceSetup)
        QCOMPARE(a->command(command), u"ok");
    for (const QString& command : bobSetup)
        QCOMPARE(b->command(command), u"ok");
    const quint16 target = toSelf ? a->port() : b->port();

    QCOMPARE(a->command(QStringLiteral("add 127.0.0.1 ") + addArguments.arg(target)), u"ok");
    aliceEvent.replace(QStringLiteral("%1"), QString::number(target));
    QVERIFY(!a->waitForLine(QStringLiteral("^event ") + escaped(aliceEvent) + QLatin1Char('$'))
                 .isEmpty());
    if (!bobEvent.isEmpty()) {
        QVERIFY(!b->waitForLine(QStringLiteral("^event ") + escaped(bobEvent) + QLatin1Char('$'))
                     .isEmpty());
        QCOMPARE(contactCount(*a), 1);
        return;
    }
    QCOMPARE(contactCount(*a), 0);
    QCOMPARE(contactCount(*b), 0);
    // A refused peer is dropped silently on the accepting side.
    QVERIFY(b->linesMatching(QRegularExpression(QStringLiteral("^event New Contact"))).isEmpty());
    if (toSelf) {
        // The session that reached ourselves fails on the opening side too.
        QVERIFY(
            !a->waitForLine(
                  QStringLiteral("^event Failed to connect to: 127\\.0\\.0\\.1:%1$").arg(target))
                 .isEmpty());
    }
}

// Blocking a connected contact ends its session and keeps it out; unblocking
// lets it back in; deleting a connected contact ends the session and the row.
void TestNode::blockUnblockDelete()
{
    NodeProcess *a = nullptr, *b = nullptr;
    QVERIFY(startAliceAndBob(a, b));

    QCOMPARE(a->command(QStringLiteral("block Bob")), u"ok");
    QVERIFY(!a->waitForLine(QStringLiteral("^event Bob \\(127\\.0\\.0\\.1\\) is now Blocked$"))
                 .isEmpty());
    QVERIFY(!b->waitForLine(QStringLiteral("^event Alice \\(127\\.0\\.0\\.1\\) has Disconnected$"))
                 .isEmpty());
    QCOMPARE(contactFields(*a, 0).value(1), QStringLiteral("4"));

    // Bob's attempts are refused while Alice blocks him.
    QCOMPARE(b->command(QStringLiteral("connect Alice")), u"ok");
    QVERIFY(!b->waitForLine(QStringLiteral("^event Failed to connect to: Alice:%1$").arg(a->port()))
                 .isEmpty());
    QCOMPARE(contactFields(*a, 0).value(1), QStringLiteral("4"));
    QCOMPARE(a->command(QStringLiteral("msg Bob while blocked")), u"ok");
    QCOMPARE(contactFields(*a, 0).value(1), QStringLiteral("4"));

    QCOMPARE(a->command(QStringLiteral("unblock Bob")), u"ok");
    QCOMPARE(contactFields(*a, 0).value(1), QStringLiteral("3"));
    QCOMPARE(b->command(QStringLiteral("connect 1")), u"ok");
    QVERIFY(
        !a->waitForLine(QStringLiteral("^event Bob \\(127\\.0\\.0\\.1\\) is Online$")).isEmpty());
    QVERIFY(
        !b->waitForLine(QStringLiteral("^event Alice \\(127\\.0\\.0\\.1\\) is Online$")).isEmpty());
    // What was queued while blocked arrives now.
    QVERIFY(!b->waitForLine(QStringLiteral("^queued Alice: while blocked$")).isEmpty());

    QCOMPARE(b->command(QStringLiteral("disconnect Alice")), u"ok");
    QVERIFY(!b->waitForLine(QStringLiteral("^event Alice \\(127\\.0\\.0\\.1\\) has Disconnected$"))
                 .isEmpty());
    QVERIFY(!a->waitForLine(QStringLiteral("^event Bob \\(127\\.0\\.0\\.1\\) has Disconnected$"))
                 .isEmpty());
    QCOMPARE(b->command(QStringLiteral("disconnect Alice")), u"error not connected");
    QCOMPARE(b->command(QStringLiteral("connect Alice")), u"ok");
    QVERIFY(
        !a->waitForLine(QStringLiteral("^event Bob \\(127\\.0\\.0\\.1\\) is Online$")).isEmpty());

    QCOMPARE(a->command(QStringLiteral("delete Bob")), u"ok");
    QVERIFY(!a->waitForLine(QStringLiteral("^event Bob \\(127\\.0\\.0\\.1\\) has been Deleted$"))
                 .isEmpty());
    QVERIFY(!b->waitForLine(QStringLiteral("^event Alice \\(127\\.0\\.0\\.1\\) has Disconnected$"))
                 .isEmpty());
    QCOMPARE(contactCount(*a), 0);
    QCOMPARE(a->command(QStringLiteral("msg Bob gone")), u"error no such contact: Bob");
}

// `quit` writes the contact list, the histories and the queues; a node
// started again on the same data root has them back and delivers the queue.
void TestNode::quitKeepsProfile()
{
    NodeProcess *a = nullptr, *b = nullptr;
    QVERIFY(startAliceAndBob(a, b));
    QCOMPARE(a->command(QStringLiteral("msg Bob said before")), u"ok");
    QVERIFY(!b->waitForLine(QStringLiteral("^message Alice: said before$")).isEmpty());
    QCOMPARE(b->command(QStringLiteral("status offline")), u"ok");
    QVERIFY(
        !a->waitForLine(QStringLiteral("^event Bob \\(127\\.0\\.0\\.1\\) is Offline$")).isEmpty());
    QCOMPARE(a->command(QStringLiteral("msg Bob kept for later")), u"ok");
    QCOMPARE(a->command(QStringLiteral("alias Bob Bobby")), u"ok");
    for (const char* setting : {"set translucency 300", "set maxSendTransfers -4", "set idleAway 7",
                                "set autoPopupChat on", "set dns alice.example"})
        QCOMPARE(a->command(QString::fromLatin1(setting)), u"ok");
    const QStringList before = contactFields(*a, 0);
    QCOMPARE(before.value(2), QStringLiteral("Bobby"));
    const quint16 port = a->port();

    QVERIFY(!QFile::exists(profileFile(*a, QStringLiteral("Contacts.cfg"))));
    // Commands after quit, even in the same read, are refused.
    a->send(QStringLiteral("quit\nme"));
    QVERIFY(!a->waitForLine(QStringLiteral("^ok$")).isEmpty());
    QVERIFY(!a->waitForLine(QStringLiteral("^error exiting$")).isEmpty());
    QVERIFY(a->waitForExit());
    QCOMPARE(a->exitStatus(), QProcess::NormalExit);
    QCOMPARE(a->exitCode(), 0);
    QVERIFY(!b->waitForLine(QStringLiteral("^event Alice \\(127\\.0\\.0\\.1\\) has Disconnected$"))
                 .isEmpty());

    // The files hold what the node had.
    ProfileStore store(ProfileFolder(m_homeOf.value(a)), nullptr);
    QList<Contact> stored;
    QCOMPARE(store.loadContacts(stored), ProfileStore::LoadOutcome::Loaded);
    QCOMPARE(stored.size(), 1);
    QCOMPARE(stored[0].alias.text(), QStringLiteral("Bobby"));
    QCOMPARE(stored[0].name.text(), QStringLiteral("Bob"));
    QByteArray mainPane;
    QList<QByteArray> histories;
    QCOMPARE(store.loadMessages(1, mainPane, histories), ProfileStore::LoadOutcome::Loaded);
    QVERIFY(histories.value(0).contains("said before"));
    QCOMPARE(store.loadQueMsgs(stored), ProfileStore::LoadOutcome::Loaded);
    QVERIFY(stored[0].queue.contains("kept for later"));
    Identity own;
    QCOMPARE(store.loadMyInfo(own), ProfileStore::LoadOutcome::Loaded);
    QCOMPARE(own.port, int(port));
    QCOMPARE(own.dns.text(), QStringLiteral("alice.example"));
    Settings settings = Settings::defaults();
    QCOMPARE(store.loadSettings(settings), ProfileStore::LoadOutcome::Loaded);
    QCOMPARE(settings.translucency, 255);
    QCOMPARE(settings.maxSendTransfers, 1);
    QCOMPARE(settings.idleAway, 1);
    QCOMPARE(settings.autoPopupChat, 1);
    QCOMPARE(settings.dynamicIp, 1); // the first-start question, answered Yes

    // Started again on the same root (and its stored port), it connects to
    // all contacts at start and finds Bob still showing Offline.
    auto* again = new NodeProcess(QStringLiteral(ZEPHLINK_NODE_PATH));
    m_nodes.append(again);
    QVERIFY(again->start(m_homeOf.value(a), {QStringLiteral("--port"), QString::number(port)}));
    QCOMPARE(again->port(), port);
    QVERIFY(!again->waitForLine(QStringLiteral("^event Bobby \\(127\\.0\\.0\\.1\\) is Offline$"))
                 .isEmpty());
    const QStringList after = contactFields(*again, 0);
    QCOMPARE(after.value(0), before.value(0));
    QCOMPARE(after.value(2), QStringLiteral("Bobby"));
    QCOMPARE(after.value(4), before.value(4));
    QStringList history;
    QCOMPARE(again->command(QStringLiteral("history Bobby"), &history, QStringLiteral("history")),
             u"ok");
    QVERIFY(history.join(QLatin1Char('\n')).contains(QStringLiteral("said before")));
    QStringList queued;
    QCOMPARE(again->command(QStringLiteral("queue Bobby"), &queued, QStringLiteral("queue")),
             u"ok");
    QCOMPARE(queued.value(1), QStringLiteral("Bobby: kept for later"));

    QCOMPARE(b->command(QStringLiteral("status online")), u"ok");
    QVERIFY(!b->waitForLine(QStringLiteral("^queued Alice: kept for later$")).isEmpty());
}

// SIGTERM and Ctrl-C run the same exit sequence as `quit`.
void TestNode::signalRunsExitSequence_data()
{
    QTest::addColumn<bool>("interrupt");
    QTest::newRow("SIGTERM") << false;
    QTest::newRow("SIGINT") << true;
}

void TestNode::signalRunsExitSequence()
{
    QFETCH(bool, interrupt);
    NodeProcess *a = nullptr, *b = nullptr;
    QVERIFY(startAliceAndBob(a, b, {QStringLiteral("--static-ip")}));
    QCOMPARE(a->command(QStringLiteral("msg Bob hello")), u"ok");
    const QStringList files{QStringLiteral("Contacts.cfg"), QStringLiteral("Messages.cfg"),
                            QStringLiteral("QueMsgs.cfg")};
    for (const QString& f : files)
        QVERIFY(!QFile::exists(profileFile(*a, f)));

    a->terminate(interrupt);
    QVERIFY(a->waitForExit());
    QCOMPARE(a->exitStatus(), QProcess::NormalExit);
    QCOMPARE(a->exitCode(), 0);
    for (const QString& f : files)
        QVERIFY2(QFile::exists(profileFile(*a, f)), qPrintable(f));
    // The session was ended, not dropped.
    QVERIFY(!b->waitForLine(QStringLiteral("^event Alice \\(127\\.0\\.0\\.1\\) has Disconnected$"))
                 .isEmpty());
    ProfileStore store(ProfileFolder(m_homeOf.value(a)), nullptr);
    QList<Contact> stored;
    QCOMPARE(store.loadContacts(stored), ProfileStore::LoadOutcome::Loaded);
    QCOMPARE(stored.size(), 1);
    QCOMPARE(stored[0].name.text(), QStringLiteral("Bob"));
    Settings settings = Settings::defaults();
    QCOMPARE(store.loadSettings(settings), ProfileStore::LoadOutcome::Loaded);
    QCOMPARE(settings.dynamicIp, 0);
}

// Every malformed command answers an error and leaves the node working.
void TestNode::badCommands_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("answer");
    QTest::newRow("unknown") << QStringLiteral("launch rockets")
                             << QStringLiteral("error unknown command: launch");
    QTest::newRow("add without port")
        << QStringLiteral("add 127.0.0.1")
        << QStringLiteral("error usage: add HOST PORT [PASSWORD [KEY]]");
    QTest::newRow("add port 0") << QStringLiteral("add 127.0.0.1 0")
                                << QStringLiteral("error bad port: 0");
    QTest::newRow("add port too big")
        << QStringLiteral("add 127.0.0.1 65536") << QStringLiteral("error bad port: 65536");
    QTest::newRow("add extra") << QStringLiteral("add 127.0.0.1 1 a b c")
                               << QStringLiteral("error usage: add HOST PORT [PASSWORD [KEY]]");
    QTest::newRow("unknown contact")
        << QStringLiteral("connect Nobody") << QStringLiteral("error no such contact: Nobody");
    QTest::newRow("row out of range")
        << QStringLiteral("block 2") << QStringLiteral("error no such contact: 2");
    QTest::newRow("row 0") << QStringLiteral("block 0")
                           << QStringLiteral("error no such contact: 0");
    QTest::newRow("missing contact")
        << QStringLiteral("delete") << QStringLiteral("error missing contact");
    QTest::newRow("msg without text")
        << QStringLiteral("msg 1") << QStringLiteral("error no message to send");
    QTest::newRow("msg one unknown")
        << QStringLiteral("msg 1,Nobody hi") << QStringLiteral("error no such contact: Nobody");
    QTest::newRow("typing flag") << QStringLiteral("typing 1 yes")
                                 << QStringLiteral("error usage: typing CONTACT 1|0");
    QTest::newRow("typing unconnected")
        << QStringLiteral("typing 1 1") << QStringLiteral("error not connected");
    QTest::newRow("status") << QStringLiteral("status asleep")
                            << QStringLiteral("error usage: status online|away|offline");
    QTest::newRow("empty name") << QStringLiteral("name")
                                << QStringLiteral("error usage: name TEXT");
    QTest::newRow("set unknown") << QStringLiteral("set colour red")
                                 << QStringLiteral("error unknown field: colour");
    QTest::newRow("set word") << QStringLiteral("set maxSendTransfers many")
                              << QStringLiteral("error bad value for maxSendTransfers: many");
    QTest::newRow("set port") << QStringLiteral("set port 0")
                              << QStringLiteral("error bad value for port: 0");
    QTest::newRow("set short key")
        << QStringLiteral("set key 12345678")
        << QStringLiteral("error Encryption key must be at least 9 characters long.");
    QTest::newRow("set empty name")
        << QStringLiteral("set name") << QStringLiteral("error bad value for name: ");
    QTest::newRow("set bad folder") << QStringLiteral("set autosaveDir /proc/none/here")
                                    << QStringLiteral("error Could not create autosave directory, "
                                                      "check your drive and syntax.");
    QTest::newRow("contacts extra")
        << QStringLiteral("contacts now") << QStringLiteral("error usage: contacts");
}

NodeProcess* TestNode::lonelyNode()
{
    if (m_lonely)
        return m_lonely->isRunning() ? m_lonely.get() : nullptr;
    m_lonelyHome = std::make_unique<QTemporaryDir>();
    m_lonely = std::make_unique<NodeProcess>(QStringLiteral(ZEPHLINK_NODE_PATH));
    NodeProcess* b = startNode(QStringLiteral("Bob"));
    if (!m_lonely->start(m_lonelyHome->path(),
                         {QStringLiteral("--name"), QStringLiteral("Alice")}) ||
        !b || !connectPair(*m_lonely, QStringLiteral("Alice"), *b, QStringLiteral("Bob")))
        return nullptr;
    // Bob leaves for good: nothing listens on his port any more.
    b->terminate();
    if (!b->waitForExit() ||
        m_lonely->waitForLine(QStringLiteral("^event Bob \\(127\\.0\\.0\\.1\\) has Disconnected$"))
            .isEmpty())
        return nullptr;
    return m_lonely.get();
}

void TestNode::badCommands()
{
    QFETCH(QString, command);
    QFETCH(QString, answer);
    NodeProcess* a = lonelyNode();
    QVERIFY(a);

    QCOMPARE(a->command(command), answer);
    // Still answering, with its state unchanged.
    QStringList me;
    QCOMPARE(a->command(QStringLiteral("me"), &me, QStringLiteral("me")), u"ok");
    QCOMPARE(me.value(0).split(QLatin1Char('\t')).value(2), QStringLiteral("Alice"));
    QCOMPARE(contactCount(*a), 1);
}

QTEST_GUILESS_MAIN(TestNode)
#include "tst_node.moc"

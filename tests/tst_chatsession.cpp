#include "messenger/chatsessions.h"
#include "messenger/chatthread.h"
#include "transport/listenthread.h"
#include "transport/packetcipher.h"

#include "scriptedpeer.h"

#include <QMutex>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <QtEndian>

#include <memory>

namespace {

// Stands in for the messenger controller: answers as configured and records
// every report, all on the test's thread.
class FakeHost : public QObject, public ChatHost
{
    Q_OBJECT
public:
    struct Seen
    {
        SessionId session;
        Contact contact;
        bool opened = false;
        EndReason reason = EndReason::Disconnect;
    };

    Identity own;
    bool accept = true;
    // Runs on the host's thread as soon as the accepting call has returned.
    std::function<void(SessionId)> afterAccept;
    int sharesFlag = 0;
    QByteArray queue;

    QList<Seen> identified, updated, ended;
    QList<std::pair<SessionId, int>> flags, typing;
    QList<std::pair<SessionId, QByteArray>> messages, queues;
    int takeQueueCalls = 0;

    Identity ownIdentity() override { return own; }
    bool peerIdentified(SessionId s, const Contact& c, bool opened) override
    {
        identified.append({s, c, opened});
        if (accept && afterAccept)
            QTimer::singleShot(0, this, [this, s] { afterAccept(s); });
        return accept;
    }
    void identityUpdated(SessionId s, const Contact& c) override { updated.append({s, c}); }
    int ownSharesFlag(SessionId) override { return sharesFlag; }
    void peerSharesFlag(SessionId s, int flag) override { flags.append({s, flag}); }
    QByteArray takeQueue(SessionId) override
    {
        ++takeQueueCalls;
        return std::exchange(queue, QByteArray());
    }
    void messageReceived(SessionId s, const QByteArray& rtf) override { messages.append({s, rtf}); }
    void queueReceived(SessionId s, const QByteArray& rtf) override { queues.append({s, rtf}); }
    void typingReceived(SessionId s, int flag) override { typing.append({s, flag}); }
    void sessionEnded(SessionId s, const Contact& c, EndReason reason, bool opened) override
    {
        ended.append({s, c, opened, reason});
    }

    SessionId peerSession() const { return identified.isEmpty() ? 0 : identified[0].session; }
};

Identity makeIdentity(const char* uid, const char* name, const char* key)
{
    Identity id;
    id.status = StatusOnline;
    id.port = 8410;
    id.uid.set(QByteArray(uid));
    id.name.set(QByteArray(name));
    id.ip.set(QByteArrayLiteral("10.1.2.3"));
    id.key.set(QByteArray(key));
    return id;
}

struct DataRecorder
{
    QMutex mutex;
    QList<DataSessionRequest> requests;
    int size()
    {
        QMutexLocker locker(&mutex);
        return int(requests.size());
    }
};

// A peer that speaks the protocol by hand, for what a real session never
// sends.
class RawPeer : public testsupport::ScriptedPeer
{
public:
    RawPeer() : ScriptedPeer(QByteArray()) {}

    bool handshake(quint16 port, const QByteArray& key)
    {
        cipher.SetKey(key);
        return open(port, ConnectionHello::Chat);
    }
};

} // namespace

Q_DECLARE_METATYPE(EndReason)
Q_DECLARE_METATYPE(DataSessionRequest::Kind)

class TestChatSession : public QObject
{
    Q_OBJECT

private:
    // A opens, B accepts through its listener.
    std::unique_ptr<ThreadRegistry> registry;
    std::unique_ptr<FakeHost> hostA, hostB;
    std::unique_ptr<ChatSessions> sessionsA, sessionsB;
    SessionHandle listener;
    quint16 portB = 0;
    DataRecorder dataA, dataB;

    Contact contactB() const
    {
        Contact c = NewContact();
        c.ip.set(QByteArrayLiteral("127.0.0.1"));
        c.port = portB;
        c.alias.set(QByteArrayLiteral("Bobby"));
        return c;
    }

    // Opens A -> B and waits until both sides exchanged their shares flags.
    SessionId connectPeers(const Contact& contact)
    {
        const SessionId id = sessionsA->startOpened(hostA->own, contact);
        if (id == 0 ||
            !QTest::qWaitFor([&] { return hostA->flags.size() == 1 && hostB->flags.size() == 1; },
                             10000))
            return 0;
        return id;
    }

    static int endsOf(const FakeHost& host, SessionId id)
    {
        return int(std::count_if(host.ended.cbegin(), host.ended.cend(),
                                 [id](const FakeHost::Seen& s) { return s.session == id; }));
    }

private slots:
    void init()
    {
        registry = std::make_unique<ThreadRegistry>();
        hostA = std::make_unique<FakeHost>();
        hostB = std::make_unique<FakeHost>();
        hostA->own = makeIdentity("uidA", "Alice", "SAMEKEY42");
        hostA->own.password.set(QByteArrayLiteral("pw-for-bob"));
        hostB->own = makeIdentity("uidB", "Bob", "SAMEKEY42");
        sessionsA = std::make_unique<ChatSessions>(*hostA, *registry);
        sessionsB = std::make_unique<ChatSessions>(*hostB, *registry);
        // Keep-alive bytes then fall between the frames of every test.
        sessionsA->setKeepAliveInterval(15);
        sessionsB->setKeepAliveInterval(15);
        for (auto [sessions, data] :
             {std::pair{sessionsA.get(), &dataA}, {sessionsB.get(), &dataB}})
            sessions->setDataSessionStarter([data](const DataSessionRequest& r) {
                QMutexLocker locker(&data->mutex);
                data->requests.append(r);
            });
        dataA.requests.clear();
        dataB.requests.clear();

        auto* l = new CListenThread(0, *registry);
        l->setListenAddress(QHostAddress::LocalHost);
        l->setSessionFactory(ConnectionHello::Chat, sessionsB->acceptedSessionFactory());
        listener = startSessionThread(l, ThreadKind::Listener, *registry);
        QTRY_VERIFY(l->boundPort() != 0);
        portB = l->boundPort();
    }

    void cleanup()
    {
        listener.end();
        for (FakeHost* host : {hostA.get(), hostB.get()})
            for (const FakeHost::Seen& s : host->identified) {
                sessionsA->end(s.session, EndReason::Disconnect);
                sessionsB->end(s.session, EndReason::Disconnect);
            }
        QTRY_COMPARE_WITH_TIMEOUT(registry->count(), 0, 10000);
        // Every session that ran was reported exactly once.
        for (FakeHost* host : {hostA.get(), hostB.get()}) {
            for (const FakeHost::Seen& s : host->ended)
                QCOMPARE(endsOf(*host, s.session), 1);
            for (const FakeHost::Seen& s : host->identified)
                QCOMPARE(endsOf(*host, s.session), 1);
        }
        sessionsA.reset();
        sessionsB.reset();
        registry.reset();
    }

    void identification_data()
    {
        QTest::addColumn<QByteArray>("dns");
        QTest::addColumn<QByteArray>("ip");
        QTest::newRow("ip only") << QByteArray() << QByteArrayLiteral("127.0.0.1");
        // The dns name wins; the ip would not even connect.
        QTest::newRow("dns first") << QByteArrayLiteral("127.0.0.1") << QByteArrayLiteral("::1");
        QTest::newRow("ip after dns fails")
            << QByteArrayLiteral("::1") << QByteArrayLiteral("127.0.0.1");
    }
    void identification()
    {
        QFETCH(QByteArray, dns);
        QFETCH(QByteArray, ip);
        hostA->sharesFlag = 1;
        hostB->sharesFlag = 0;
        Contact c = contactB();
        c.dns.set(dns);
        c.ip.set(ip);
        const SessionId idA = connectPeers(c);
        QVERIFY(idA != 0);

        QCOMPARE(hostA->identified.size(), 1);
        QCOMPARE(hostB->identified.size(), 1);
        const FakeHost::Seen& atA = hostA->identified[0];
        const FakeHost::Seen& atB = hostB->identified[0];
        QCOMPARE(atA.session, idA);
        QVERIFY(atA.opened);
        QVERIFY(!atB.opened);
        QCOMPARE(atA.contact.sessionThread, idA);
        QCOMPARE(atB.contact.sessionThread, atB.session);

        // Each side sees the other's identity, with the address the
        // connection uses; the opener's own contact fields survive.
        QCOMPARE(atA.contact.uid.bytes(), QByteArrayLiteral("uidB"));
        QCOMPARE(atA.contact.name.bytes(), QByteArrayLiteral("Bob"));
        QCOMPARE(atA.contact.alias.bytes(), QByteArrayLiteral("Bobby"));
        QCOMPARE(atA.contact.ip.bytes(), QByteArrayLiteral("127.0.0.1"));
        QCOMPARE(atB.contact.uid.bytes(), QByteArrayLiteral("uidA"));
        QCOMPARE(atB.contact.password.bytes(), QByteArrayLiteral("pw-for-bob"));
        QCOMPARE(atB.contact.ip.bytes(), QByteArrayLiteral("127.0.0.1"));
        QVERIFY(atB.contact.alias.isEmpty());

        QCOMPARE(hostA->flags[0], std::make_pair(idA, 0));
        QCOMPARE(hostB->flags[0], std::make_pair(atB.session, 1));
        QVERIFY(sessionsA->isActive(idA));
        QVERIFY(sessionsB->isActive(atB.session));
    }

    // The controller shows the contact Online as soon as it accepts; a message
    // or typing notice sent at that moment must go out as such, on both sides.
    void postsRightAfterAcceptance()
    {
        QList<bool> postedA, postedB;
        hostA->afterAccept = [&](SessionId s) {
            postedA << sessionsA->postMessage(s, QByteArrayLiteral("from A"))
                    << sessionsA->postTyping(s, 1);
        };
        hostB->afterAccept = [&](SessionId s) {
            postedB << sessionsB->postMessage(s, QByteArrayLiteral("from B"));
        };
        sessionsA->startOpened(hostA->own, contactB());
        QTRY_COMPARE(postedA.size(), 2);
        QTRY_COMPARE(postedB.size(), 1);
        QCOMPARE(postedA, QList<bool>({true, true}));
        QCOMPARE(postedB, QList<bool>({true}));
        QTRY_COMPARE(hostB->messages.size(), 1);
        QTRY_COMPARE(hostA->messages.size(), 1);
        QCOMPARE(hostB->messages[0].second, QByteArrayLiteral("from A"));
        QCOMPARE(hostA->messages[0].second, QByteArrayLiteral("from B"));
        QTRY_COMPARE(hostB->typing.size(), 1);
        QVERIFY(hostA->queues.isEmpty() && hostB->queues.isEmpty());
    }

    void refusal_data()
    {
        QTest::addColumn<bool>("openerRefuses");
        QTest::newRow("acceptor refuses") << false;
        QTest::newRow("opener refuses") << true;
    }
    void refusal()
    {
        QFETCH(bool, openerRefuses);
        (openerRefuses ? hostA : hostB)->accept = false;
        const SessionId idA = sessionsA->startOpened(hostA->own, contactB());
        QTRY_COMPARE(hostA->ended.size(), 1);
        QTRY_COMPARE(hostB->ended.size(), 1);
        QCOMPARE(hostA->ended[0].session, idA);
        QVERIFY(hostA->ended[0].opened);
        QVERIFY(!hostB->ended[0].opened);
        QCOMPARE(hostA->identified.size(), openerRefuses ? 1 : 0);
        QVERIFY(hostA->flags.isEmpty() && hostB->flags.isEmpty());
        QVERIFY(!sessionsA->postMessage(idA, "x"));
    }

    void messages_data()
    {
        QTest::addColumn<QByteArray>("rtf");
        QTest::newRow("plain") << QByteArrayLiteral("{\\rtf1 hi\\par\r\n}\r\n");
        QByteArray high;
        for (int i = 1; i < 256; ++i)
            high.append(char(i));
        QTest::newRow("every non-zero byte") << high;
        QByteArray large(300 * 1024, 'r');
        large[1000] = '\xE9';
        QTest::newRow("300 KiB") << large;
    }
    void messages()
    {
        QFETCH(QByteArray, rtf);
        const SessionId idA = connectPeers(contactB());
        QVERIFY(idA);
        const SessionId idB = hostB->peerSession();
        QVERIFY(sessionsA->postMessage(idA, rtf));
        QVERIFY(sessionsB->postMessage(idB, rtf + "back"));
        QTRY_COMPARE(hostB->messages.size(), 1);
        QTRY_COMPARE(hostA->messages.size(), 1);
        QCOMPARE(hostB->messages[0], std::make_pair(idB, rtf));
        QCOMPARE(hostA->messages[0], std::make_pair(idA, rtf + "back"));

        QVERIFY(sessionsA->postTyping(idA, 1));
        QVERIFY(sessionsA->postTyping(idA, 0));
        QVERIFY(sessionsB->postTyping(idB, 1));
        QTRY_COMPARE(hostB->typing.size(), 2);
        QTRY_COMPARE(hostA->typing.size(), 1);
        QCOMPARE(hostB->typing[0], std::make_pair(idB, 1));
        QCOMPARE(hostB->typing[1], std::make_pair(idB, 0));
        QCOMPARE(hostA->typing[0], std::make_pair(idA, 1));
    }

    void identityUpdate()
    {
        // A change made before the first identity went out travels in it.
        const SessionId idA = sessionsA->startOpened(hostA->own, contactB());
        Identity early = hostA->own;
        early.name.set(QByteArrayLiteral("Early Alice"));
        QVERIFY(sessionsA->postOwnIdentity(idA, early));
        QVERIFY(!sessionsA->postMessage(idA, "too soon"));
        QTRY_COMPARE(hostA->flags.size(), 1);
        QTRY_COMPARE(hostB->flags.size(), 1);
        QCOMPARE(hostB->identified[0].contact.name.bytes(), QByteArrayLiteral("Early Alice"));
        QVERIFY(hostB->updated.isEmpty());

        Identity away = early;
        away.status = StatusAwayMessage;
        away.awayMessage.set(QByteArrayLiteral("lunch"));
        QVERIFY(sessionsA->postOwnIdentity(idA, away));
        QTRY_COMPARE(hostB->updated.size(), 1);
        const Contact& c = hostB->updated[0].contact;
        QCOMPARE(c.status, int32_t(StatusAwayMessage));
        QCOMPARE(c.awayMessage.bytes(), QByteArrayLiteral("lunch"));
        QCOMPARE(c.ip.bytes(), QByteArrayLiteral("127.0.0.1"));
        QCOMPARE(hostB->updated[0].session, hostB->peerSession());
    }

    void queueDelivery_data()
    {
        QTest::addColumn<bool>("acceptorHasQueue");
        QTest::addColumn<int>("openerStatus");
        QTest::addColumn<bool>("deliveredAtOnce");
        QTest::newRow("acceptor delivers after type 4") << true << int(StatusOnline) << true;
        QTest::newRow("opener delivers after type 5") << false << int(StatusOnline) << true;
        QTest::newRow("nothing to an opener showing Offline")
            << true << int(StatusOffline) << false;
    }
    void queueDelivery()
    {
        QFETCH(bool, acceptorHasQueue);
        QFETCH(int, openerStatus);
        QFETCH(bool, deliveredAtOnce);
        const QByteArray queued = QByteArrayLiteral("{\\rtf1 queued\\par\r\n}\r\n");
        FakeHost* sender = acceptorHasQueue ? hostB.get() : hostA.get();
        FakeHost* receiver = acceptorHasQueue ? hostA.get() : hostB.get();
        ChatSessions* senderSessions = acceptorHasQueue ? sessionsB.get() : sessionsA.get();
        sender->queue = queued;
        hostA->own.status = openerStatus;
        const SessionId idA = connectPeers(contactB());
        QVERIFY(idA);
        const SessionId senderId = acceptorHasQueue ? hostB->peerSession() : idA;

        // Frames arrive in order: a queue would come before this message.
        QVERIFY(senderSessions->postMessage(senderId, "after"));
        QTRY_COMPARE(receiver->messages.size(), 1);
        QCOMPARE(receiver->queues.size(), deliveredAtOnce ? 1 : 0);
        if (deliveredAtOnce) {
            QCOMPARE(receiver->queues[0].second, queued);
            QVERIFY(sender->queue.isEmpty());
            return;
        }
        QCOMPARE(sender->takeQueueCalls, 0);
        Identity back = hostA->own;
        back.status = StatusAway;
        QVERIFY(sessionsA->postOwnIdentity(idA, back));
        QTRY_COMPARE(receiver->queues.size(), 1);
        QCOMPARE(receiver->queues[0].second, queued);
    }

    void emptyQueueAndLaterFlags()
    {
        const SessionId idA = connectPeers(contactB());
        QVERIFY(idA);
        const SessionId idB = hostB->peerSession();
        QVERIFY(hostB->takeQueueCalls >= 1 && hostA->takeQueueCalls >= 1);

        // A later shares flag delivers what was queued meanwhile.
        hostA->queue = QByteArrayLiteral("later");
        QVERIFY(sessionsB->postSharesFlag(idB, 1));
        QTRY_COMPARE(hostA->flags.size(), 2);
        QCOMPARE(hostA->flags[1].second, 1);
        QTRY_COMPARE(hostB->queues.size(), 1);
        QCOMPARE(hostB->queues[0].second, QByteArrayLiteral("later"));

        // An empty queue sends no frame.
        QVERIFY(sessionsA->postMessage(idA, "ping"));
        QTRY_COMPARE(hostB->messages.size(), 1);
        QCOMPARE(hostB->queues.size(), 1);
        QCOMPARE(hostA->queues.size(), 0);
    }

    void failuresEndOnce_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::newRow("wrong key") << QStringLiteral("key");
        QTest::newRow("closed port") << QStringLiteral("port");
        QTest::newRow("no address") << QStringLiteral("address");
    }
    void failuresEndOnce()
    {
        QFETCH(QString, failure);
        Contact c = contactB();
        if (failure == QLatin1String("key")) {
            hostB->own.key.set(QByteArrayLiteral("OTHERKEY9"));
        } else if (failure == QLatin1String("port")) {
            QTcpServer closed;
            QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
            c.port = closed.serverPort();
        } else {
            c.ip.clear();
        }
        const SessionId idA = sessionsA->startOpened(hostA->own, c);
        QVERIFY(idA);
        QTRY_COMPARE(hostA->ended.size(), 1);
        QCOMPARE(hostA->ended[0].session, idA);
        QVERIFY(hostA->ended[0].opened);
        QCOMPARE(hostA->ended[0].reason, EndReason::Disconnect);
        QCOMPARE(hostA->ended[0].contact.port, c.port);
        QVERIFY(hostA->identified.isEmpty());
        if (failure == QLatin1String("key")) {
            QTRY_COMPARE(hostB->ended.size(), 1);
            QVERIFY(!hostB->ended[0].opened);
            QVERIFY(hostB->identified.isEmpty());
        }
    }

    void connectTimer_data()
    {
        QTest::addColumn<bool>("completeHandshake");
        QTest::newRow("silent after the handshake") << true;
        QTest::newRow("silent during the handshake") << false;
    }
    void connectTimer()
    {
        QFETCH(bool, completeHandshake);
        sessionsB->setConnectTimeout(300);
        RawPeer raw;
        if (completeHandshake) {
            QVERIFY(raw.handshake(portB, hostB->own.key.bytes()));
        } else {
            raw.socket->connectToHost(QHostAddress::LocalHost, portB);
            raw.socket->write(QByteArray("ZLK6000\x1B\0\0", 10));
        }
        QTRY_COMPARE(hostB->ended.size(), 1);
        QVERIFY(!hostB->ended[0].opened);
        QCOMPARE(hostB->ended[0].contact.ip.bytes(), QByteArrayLiteral("127.0.0.1"));
        QTRY_COMPARE(raw.socket->state(), QAbstractSocket::UnconnectedState);
        QVERIFY(hostB->identified.isEmpty());
    }

    void identityPayload_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("identifies");
        QTest::newRow("1600 bytes") << 1600 << true;
        QTest::newRow("1598 bytes, no padding") << 1598 << true;
        QTest::newRow("1597 bytes") << 1597 << false;
        QTest::newRow("100 bytes") << 100 << false;
    }
    void identityPayload()
    {
        QFETCH(int, size);
        QFETCH(bool, identifies);
        RawPeer raw;
        QVERIFY(raw.handshake(portB, hostB->own.key.bytes()));
        // Nothing but the identity counts before it.
        raw.sendFrame(6, QByteArrayLiteral("early\0"));
        raw.sendFrame(8, QByteArray(4, '\1'));
        raw.sendFrame(1, hostA->own.encode().left(size));
        if (!identifies) {
            QTRY_COMPARE(hostB->ended.size(), 1);
            QVERIFY(hostB->identified.isEmpty());
            return;
        }
        QTRY_COMPARE(hostB->identified.size(), 1);
        QCOMPARE(hostB->identified[0].contact.uid.bytes(), QByteArrayLiteral("uidA"));
        // The answer is the acceptor's own identity image.
        const auto [type, payload] = raw.readFrame();
        QCOMPARE(type, uint8_t(2));
        QCOMPARE(payload, hostB->own.encode());
        // Connect-back requests travel only to the opener; unknown types pass.
        raw.sendFrame(9, QByteArray(900, 'x'));
        raw.sendFrame(11, QByteArray(4, '\0'));
        raw.sendFrame(200, QByteArrayLiteral("unknown"));
        raw.sendFrame(6, QByteArrayLiteral("now\0"));
        QTRY_COMPARE(hostB->messages.size(), 1);
        QCOMPARE(hostB->messages[0].second, QByteArrayLiteral("now"));
        QVERIFY(hostB->typing.isEmpty());
        QCOMPARE(dataB.size(), 0);
    }

    void ends_data()
    {
        QTest::addColumn<bool>("byOpener");
        QTest::addColumn<EndReason>("reason");
        QTest::newRow("opener disconnects") << true << EndReason::Disconnect;
        QTest::newRow("opener blocks") << true << EndReason::Block;
        QTest::newRow("opener deletes") << true << EndReason::Delete;
        QTest::newRow("acceptor blocks") << false << EndReason::Block;
        QTest::newRow("acceptor deletes") << false << EndReason::Delete;
    }
    void ends()
    {
        QFETCH(bool, byOpener);
        QFETCH(EndReason, reason);
        const SessionId idA = connectPeers(contactB());
        QVERIFY(idA);
        const SessionId idB = hostB->peerSession();
        QVERIFY(byOpener ? sessionsA->end(idA, reason) : sessionsB->end(idB, reason));
        QTRY_COMPARE(hostA->ended.size(), 1);
        QTRY_COMPARE(hostB->ended.size(), 1);
        QCOMPARE(hostA->ended[0].reason, byOpener ? reason : EndReason::Disconnect);
        QCOMPARE(hostB->ended[0].reason, byOpener ? EndReason::Disconnect : reason);
        QVERIFY(hostA->ended[0].opened);
        QVERIFY(!hostB->ended[0].opened);
        QCOMPARE(hostA->ended[0].contact.uid.bytes(), QByteArrayLiteral("uidB"));

        for (auto [sessions, id] : {std::pair{sessionsA.get(), idA}, {sessionsB.get(), idB}}) {
            QVERIFY(!sessions->isActive(id));
            QVERIFY(!sessions->postMessage(id, "x"));
            QVERIFY(!sessions->postTyping(id, 1));
            QVERIFY(!sessions->postOwnIdentity(id, hostA->own));
            QVERIFY(!sessions->postSharesFlag(id, 1));
            QVERIFY(!sessions->postSendTransfer(id, "t"));
            QVERIFY(!sessions->postReceiveTransfer(id, "t"));
            QVERIFY(!sessions->postBrowse(id));
            QVERIFY(!sessions->end(id, EndReason::Disconnect));
        }
    }

    void dataRequests_data()
    {
        QTest::addColumn<bool>("fromAcceptor");
        QTest::addColumn<int>("request"); // 0 send, 1 receive, 2 browse
        QTest::addColumn<DataSessionRequest::Kind>("kind");
        using K = DataSessionRequest::Kind;
        QTest::newRow("opener sends") << false << 0 << K::SendFile;
        QTest::newRow("opener receives") << false << 1 << K::ReceiveFile;
        QTest::newRow("opener browses") << false << 2 << K::Browse;
        QTest::newRow("acceptor sends: type 9") << true << 0 << K::ReceiveFile;
        QTest::newRow("acceptor receives: type 10") << true << 1 << K::SendFile;
        QTest::newRow("acceptor browses: type 11") << true << 2 << K::Browse;
    }
    void dataRequests()
    {
        QFETCH(bool, fromAcceptor);
        QFETCH(int, request);
        QFETCH(DataSessionRequest::Kind, kind);
        const SessionId idA = connectPeers(contactB());
        QVERIFY(idA);
        ChatSessions* sessions = fromAcceptor ? sessionsB.get() : sessionsA.get();
        const SessionId id = fromAcceptor ? hostB->peerSession() : idA;
        QByteArray transfer(900, '\0');
        transfer[0] = 'T';
        transfer[899] = '\x7F';
        if (request == 0)
            QVERIFY(sessions->postSendTransfer(id, transfer));
        else if (request == 1)
            QVERIFY(sessions->postReceiveTransfer(id, transfer));
        else
            QVERIFY(sessions->postBrowse(id));

        // Data connections are always made by the opener.
        QTRY_COMPARE(dataA.size(), 1);
        QCOMPARE(dataB.size(), 0);
        const DataSessionRequest r = dataA.requests[0];
        QCOMPARE(r.kind, kind);
        QCOMPARE(r.peerAsked, fromAcceptor);
        QCOMPARE(r.session, idA);
        QCOMPARE(r.transfer, request == 2 ? QByteArray() : transfer);
        QCOMPARE(r.contact.uid.bytes(), QByteArrayLiteral("uidB"));
        QCOMPARE(r.contact.ip.bytes(), QByteArrayLiteral("127.0.0.1"));
        QCOMPARE(r.contact.alias.bytes(), QByteArrayLiteral("Bobby"));
        QCOMPARE(r.ownIdentity.uid.bytes(), QByteArrayLiteral("uidA"));
        QVERIFY(sessionsA->isActive(idA));
    }

    // The acceptor asks for far more connections back than the opener lets
    // run: a bounded number starts, a bounded number waits for a place, the
    // rest is dropped, and the chat goes on.
    void peerCannotMultiplySessions_data()
    {
        QTest::addColumn<int>("request"); // 0 send, 1 receive, 2 browse
        QTest::newRow("type 9") << 0;
        QTest::newRow("type 10") << 1;
        QTest::newRow("type 11") << 2;
    }
    void peerCannotMultiplySessions()
    {
        QFETCH(int, request);
        constexpr int Requests = 1000;
        const SessionId idA = connectPeers(contactB());
        QVERIFY(idA);
        const SessionId idB = hostB->peerSession();
        for (int i = 0; i < Requests; ++i) {
            if (request == 0)
                QVERIFY(sessionsB->postSendTransfer(idB, "t"));
            else if (request == 1)
                QVERIFY(sessionsB->postReceiveTransfer(idB, "t"));
            else
                QVERIFY(sessionsB->postBrowse(idB));
        }
        QVERIFY(sessionsB->postMessage(idB, "still here"));
        QTRY_COMPARE(hostA->messages.size(), 1);
        QCOMPARE(hostA->messages[0].second, QByteArrayLiteral("still here"));
        // The recorder holds every started request's place.
        QCOMPARE(dataA.size(), CChatThread::MaxPeerDataSessions);

        // Places given back let the waiting requests start, up to the bound.
        // A message sent after the places went back arrives after the opener
        // has dealt with them.
        int started = dataA.size();
        for (int round = 1;; ++round) {
            {
                QMutexLocker locker(&dataA.mutex);
                dataA.requests.clear();
            }
            QVERIFY(sessionsA->postMessage(idA, "mark"));
            QTRY_COMPARE(hostB->messages.size(), round);
            const int more = dataA.size();
            if (more == 0)
                break;
            started += more;
            QVERIFY(round < 10);
        }
        QCOMPARE(started,
                 CChatThread::MaxPeerDataSessions + CChatThread::MaxWaitingPeerDataSessions);
        QVERIFY(sessionsA->isActive(idA));
    }

    void directoryGoesFirst()
    {
        const SessionId idA = connectPeers(contactB());
        QVERIFY(idA);
        sessionsA.reset();
        // The session ends without reaching its former host; the peer sees it.
        QTRY_COMPARE(hostB->ended.size(), 1);
        QTRY_COMPARE(registry->count(ThreadKind::ChatSession), 0);
        QVERIFY(hostA->ended.isEmpty());
        hostA->identified.clear();
        sessionsA = std::make_unique<ChatSessions>(*hostA, *registry);
    }
};

QTEST_GUILESS_MAIN(TestChatSession)
#include "tst_chatsession.moc"

#include "transport/connectiongate.h"
#include "transport/framedsocket.h"
#include "transport/listenthread.h"

#include "testsupport.h"

#include <QScopeGuard>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <unistd.h>

using testsupport::hex;

namespace {

const QByteArray Key = QByteArrayLiteral("QRT482LMN");

// Connections made at once stay below the listen backlog.
constexpr int ListenBatch = 4;

// Collects, in the test's thread, what the listener and its classifiers report
// from their own threads.
class Probe : public QObject
{
    Q_OBJECT
public:
    struct Session
    {
        int kind;
        qintptr descriptor;
    };

    QList<std::pair<int, int>> notices;
    QList<quint16> ports;
    QList<Session> sessions;

    ~Probe() override
    {
        for (const Session& s : sessions)
            ::close(int(s.descriptor));
    }

    SessionFactory factory()
    {
        return [this](int kind, qintptr descriptor) {
            QMetaObject::invokeMethod(
                this,
                [this, kind, descriptor] {
                    sessions.append({kind, descriptor});
                },
                Qt::QueuedConnection);
        };
    }

    void watch(CListenThread* listener)
    {
        connect(listener, &CListenThread::notice, this, [this](int code, int arg) {
            notices.append({code, arg});
        });
        connect(listener, &CListenThread::listening, this,
                [this](quint16 port) { ports.append(port); });
    }
};

// A port nobody listens on right now.
quint16 freePort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

bool refusesConnections(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return !socket.waitForConnected(5000);
}

} // namespace

class tst_Listener : public QObject
{
    Q_OBJECT

private:
    // Starts a listener on 127.0.0.1 whose chat, file and browse connections
    // go to the probe, unless `withFactories` is false.
    SessionHandle startListener(quint16 port, bool withFactories = true, int helloTimeoutMs = 5000,
                                int handshakeOnlyLifetimeMs = HandshakeOnlySession::LifetimeMs)
    {
        auto* listener = new CListenThread(port, m_registry);
        listener->setListenAddress(QHostAddress::LocalHost);
        listener->setClassifierTimeout(helloTimeoutMs);
        listener->setHandshakeOnlyLifetime(handshakeOnlyLifetimeMs);
        listener->setDefaultSessionKey(Key);
        if (withFactories) {
            for (auto kind :
                 {ConnectionHello::Chat, ConnectionHello::File, ConnectionHello::Browse})
                listener->setSessionFactory(kind, m_probe->factory());
        }
        m_probe->watch(listener);
        m_listener = listener;
        return startSessionThread(listener, ThreadKind::Listener, m_registry);
    }

    ThreadRegistry m_registry;
    std::unique_ptr<Probe> m_probe;
    CListenThread* m_listener = nullptr;
    SessionHandle m_handle;

private slots:
    void init()
    {
        m_probe = std::make_unique<Probe>();
        m_registry.setThreadWaitMs(10000);
    }
    void cleanup()
    {
        m_handle.end();
        QVERIFY(m_handle.wait(10000));
        bool done = false;
        m_registry.shutdownAllAsync(this, [&done] { done = true; });
        QTRY_VERIFY_WITH_TIMEOUT(done, 20000);
        QTRY_COMPARE(m_registry.count(), 0);
        m_probe.reset();
        m_handle = {};
    }

    void helloDecidesTheSession_data();
    void helloDecidesTheSession();
    void silentPeerIsDisconnected_data();
    void silentPeerIsDisconnected();
    void simultaneousConnectionsGetTheirOwnClassifier();
    void portInUseIsNoticed();
    void portChange();
    void socketLayerFailure();
    void defaultSessionProvesTheKey_data();
    void defaultSessionProvesTheKey();
    void noticeTexts_data();
    void noticeTexts();
    void sessionlessKindHasALifetime_data();
    void sessionlessKindHasALifetime();
    void strangersCannotCrowdOutContacts_data();
    void strangersCannotCrowdOutContacts();
};

void tst_Listener::helloDecidesTheSession_data()
{
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<int>("kind"); // -1: refused

    const QByteArray chat = hex("5A 4C 4B 36 30 30 30 1B 00 00");
    QTest::newRow("chat") << QList<QByteArray>{chat} << 0;
    QTest::newRow("file") << QList<QByteArray>{hex("5A 4C 4B 36 30 30 30 1B 00 01")} << 1;
    QTest::newRow("browse in 3 pieces")
        << QList<QByteArray>{hex("5A 4C 4B"), hex("36 30 30 30"), hex("1B 00 02")} << 2;
    QTest::newRow("one byte at a time")
        << QList<QByteArray>{chat.left(1),   chat.mid(1, 1), chat.mid(2, 5),
                             chat.mid(7, 1), chat.mid(8, 1), chat.mid(9)}
        << 0;
    QTest::newRow("0x1C at offset 7")
        << QList<QByteArray>{hex("5A 4C 4B 36 30 30 30 1C 00 00")} << -1;
    QTest::newRow("kind 3") << QList<QByteArray>{hex("5A 4C 4B 36 30 30 30 1B 00 03")} << -1;
    QTest::newRow("kind 200") << QList<QByteArray>{hex("5A 4C 4B 36 30 30 30 1B 00 C8")} << -1;
    QTest::newRow("HTTP") << QList<QByteArray>{QByteArrayLiteral("GET / HTTP/1.0\r\n\r\n")} << -1;
}

void tst_Listener::helloDecidesTheSession()
{
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(int, kind);

    m_handle = startListener(0);
    QTRY_COMPARE(m_probe->ports.size(), 1);

    QTcpSocket peer;
    peer.connectToHost(QHostAddress::LocalHost, m_probe->ports.first());
    QVERIFY(peer.waitForConnected(5000));
    peer.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    for (const QByteArray& piece : pieces) {
        QSignalSpy written(&peer, &QTcpSocket::bytesWritten);
        peer.write(piece);
        QVERIFY(written.wait(5000));
    }
    // What follows the hello belongs to the session and must reach it.
    peer.write(QByteArrayLiteral("session bytes"));

    if (kind < 0) {
        QTRY_COMPARE_WITH_TIMEOUT(peer.state(), QAbstractSocket::UnconnectedState, 10000);
        QCOMPARE(m_probe->sessions.size(), 0);
        QTRY_COMPARE(m_registry.count(ThreadKind::Classifier), 0);
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(m_probe->sessions.size(), 1, 10000);
    QCOMPARE(m_probe->sessions.first().kind, kind);
    QTcpSocket session;
    QVERIFY(session.setSocketDescriptor(m_probe->sessions.first().descriptor));
    m_probe->sessions.clear();
    QByteArray received;
    QTRY_COMPARE_WITH_TIMEOUT((received += session.readAll()), QByteArrayLiteral("session bytes"),
                              10000);
    // The classifier is gone, the connection is not.
    QTRY_COMPARE(m_registry.count(ThreadKind::Classifier), 0);
    session.write(QByteArrayLiteral("reply"));
    QByteArray reply;
    QTRY_COMPARE_WITH_TIMEOUT((reply += peer.readAll()), QByteArrayLiteral("reply"), 10000);
}

void tst_Listener::silentPeerIsDisconnected_data()
{
    QTest::addColumn<QByteArray>("sent");
    QTest::newRow("nothing") << QByteArray();
    QTest::newRow("part of a hello") << hex("5A 4C 4B 36 30");
}

void tst_Listener::silentPeerIsDisconnected()
{
    QFETCH(QByteArray, sent);

    m_handle = startListener(0, true, 300);
    QTRY_COMPARE(m_probe->ports.size(), 1);
    QTcpSocket peer;
    peer.connectToHost(QHostAddress::LocalHost, m_probe->ports.first());
    QVERIFY(peer.waitForConnected(5000));
    peer.write(sent);
    QTRY_COMPARE(m_registry.count(ThreadKind::Classifier), 1);

    QTRY_COMPARE_WITH_TIMEOUT(peer.state(), QAbstractSocket::UnconnectedState, 10000);
    QTRY_COMPARE(m_registry.count(ThreadKind::Classifier), 0);
    QCOMPARE(m_probe->sessions.size(), 0);
}

void tst_Listener::simultaneousConnectionsGetTheirOwnClassifier()
{
    m_handle = startListener(0);
    QTRY_COMPARE(m_probe->ports.size(), 1);

    QTcpSocket first;
    QTcpSocket second;
    for (QTcpSocket* s : {&first, &second}) {
        s->connectToHost(QHostAddress::LocalHost, m_probe->ports.first());
        QVERIFY(s->waitForConnected(5000));
    }
    QTRY_COMPARE(m_registry.count(ThreadKind::Classifier), 2);

    // The second finishes its hello first; neither waits for the other.
    second.write(ConnectionHello::encodeHello(ConnectionHello::Browse));
    QTRY_COMPARE(m_probe->sessions.size(), 1);
    QCOMPARE(m_probe->sessions[0].kind, int(ConnectionHello::Browse));
    QCOMPARE(m_registry.count(ThreadKind::Classifier), 1);
    first.write(ConnectionHello::encodeHello(ConnectionHello::File));
    QTRY_COMPARE(m_probe->sessions.size(), 2);
    QCOMPARE(m_probe->sessions[1].kind, int(ConnectionHello::File));
    QTRY_COMPARE(m_registry.count(ThreadKind::Classifier), 0);
}

void tst_Listener::portInUseIsNoticed()
{
    QTcpServer occupant;
    QVERIFY(occupant.listen(QHostAddress::LocalHost, 0));
    const quint16 busy = occupant.serverPort();

    m_handle = startListener(busy);
    QTRY_COMPARE(m_probe->notices.size(), 1);
    QCOMPARE(m_probe->notices.first(), std::make_pair(int(ListenNotice::PortInUse), int(busy)));
    QCOMPARE(m_probe->ports.size(), 0);
    QCOMPARE(m_listener->boundPort(), quint16(0));
    QVERIFY(m_handle.isRunning()); // keeps running without a listening socket

    // A later change to a free port works.
    const quint16 port = freePort();
    m_handle.post([l = m_listener, port] { l->changePort(port); });
    QTRY_COMPARE(m_probe->ports, QList<quint16>{port});
    QCOMPARE(m_probe->notices.size(), 1);
    QVERIFY(!refusesConnections(port));
}

void tst_Listener::portChange()
{
    m_handle = startListener(0);
    QTRY_COMPARE(m_probe->ports.size(), 1);
    const quint16 first = m_probe->ports.first();

    // A peer connected but not yet through its hello survives an unchanged port.
    QTcpSocket waiting;
    waiting.connectToHost(QHostAddress::LocalHost, first);
    QVERIFY(waiting.waitForConnected(5000));
    QTRY_COMPARE(m_registry.count(ThreadKind::Classifier), 1);
    m_handle.post([l = m_listener, first] { l->changePort(first); });
    QTcpSocket after;
    after.connectToHost(QHostAddress::LocalHost, first);
    QVERIFY(after.waitForConnected(5000));
    QTRY_COMPARE(m_registry.count(ThreadKind::Classifier), 2);
    QCOMPARE(m_probe->ports.size(), 1); // not reopened
    QCOMPARE(m_listener->boundPort(), first);

    const quint16 second = freePort();
    m_handle.post([l = m_listener, second] { l->changePort(second); });
    QTRY_COMPARE(m_probe->ports.size(), 2);
    QCOMPARE(m_probe->ports.last(), second);
    QCOMPARE(m_listener->boundPort(), second);
    QVERIFY(refusesConnections(first));
    QTcpSocket onNew;
    onNew.connectToHost(QHostAddress::LocalHost, second);
    QVERIFY(onNew.waitForConnected(5000));
    onNew.write(ConnectionHello::encodeHello(ConnectionHello::Chat));
    QTRY_COMPARE(m_probe->sessions.size(), 1);
    QCOMPARE(m_probe->notices.size(), 0);

    // Stopping closes the port.
    QVERIFY(m_handle.end());
    QVERIFY(m_handle.wait(5000));
    QVERIFY(refusesConnections(second));
}

void tst_Listener::socketLayerFailure()
{
    auto* listener = new CListenThread(0, m_registry);
    listener->setListenAddress(QHostAddress::LocalHost);
    listener->setSocketLayerCheck([] { return false; });
    m_probe->watch(listener);
    m_handle = startSessionThread(listener, ThreadKind::Listener, m_registry);
    QTRY_COMPARE(m_probe->notices.size(), 1);
    QCOMPARE(m_probe->notices.first().first, int(ListenNotice::SocketLayerFailed));
    QVERIFY(m_handle.wait(5000)); // the listener stopped
    QCOMPARE(m_probe->ports.size(), 0);
}

void tst_Listener::defaultSessionProvesTheKey_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<bool>("proven");
    QTest::newRow("same key") << Key << true;
    QTest::newRow("other key") << QByteArrayLiteral("QRT482LMM") << false;
}

void tst_Listener::defaultSessionProvesTheKey()
{
    QFETCH(QByteArray, key);
    QFETCH(bool, proven);

    m_handle = startListener(0, false);
    QTRY_COMPARE(m_probe->ports.size(), 1);

    FramedSocket opener;
    opener.SetKey(key);
    QSignalSpy complete(&opener, &FramedSocket::handshakeComplete);
    QSignalSpy closed(&opener, &FramedSocket::connectionClosed);
    opener.connectToPeer(QStringLiteral("127.0.0.1"), m_probe->ports.first(),
                         ConnectionHello::File);
    if (!proven) {
        QVERIFY(closed.wait(10000));
        QCOMPARE(complete.size(), 0);
        QTRY_COMPARE(m_registry.count(ThreadKind::FileSession), 0);
        return;
    }
    QVERIFY(complete.wait(10000));
    QCOMPARE(m_registry.count(ThreadKind::FileSession), 1);
    QVERIFY(opener.SendFrame(1, QByteArrayLiteral("ignored")));
    QVERIFY(!closed.wait(200)); // the connection is kept
    opener.Close();
    QTRY_COMPARE(m_registry.count(ThreadKind::FileSession), 0);
}

void tst_Listener::noticeTexts_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("argument");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("error");
    QTest::newRow("socket layer")
        << 0 << 8410
        << QStringLiteral("AfxSocketInit Failed, Windows Sockets could not Initalize!\nYou must "
                          "restart the program.")
        << QStringLiteral("AfxSocketInit Failed!") << true;
    QTest::newRow("port in use") << 1 << 8410
                                 << QStringLiteral(
                                        "Failed to listen on port 8410, it is already in use.")
                                 << QStringLiteral("Listen Port In Use") << false;
}

void tst_Listener::noticeTexts()
{
    QFETCH(int, code);
    QFETCH(int, argument);
    QFETCH(QString, text);
    QFETCH(QString, caption);
    QFETCH(bool, error);
    QCOMPARE(ListenNotice::text(code, argument), text);
    QCOMPARE(ListenNotice::caption(code), caption);
    QCOMPARE(ListenNotice::icon(code) == ListenNotice::Icon::Error, error);
}

void tst_Listener::sessionlessKindHasALifetime_data()
{
    QTest::addColumn<bool>("proveKey");
    QTest::newRow("key proven, then silent") << true;
    QTest::newRow("challenge never answered") << false;
}

// Browse connections have no session yet; they must not live for ever.
void tst_Listener::sessionlessKindHasALifetime()
{
    QFETCH(bool, proveKey);
    constexpr int Connections = 20;
    m_handle = startListener(0, false, 5000, 1000);
    QTRY_COMPARE(m_probe->ports.size(), 1);

    std::vector<std::unique_ptr<QObject>> peers;
    int proven = 0;
    int connected = 0;
    int closed = 0;
    for (int i = 0; i < Connections; ++i) {
        // A few at a time: the listen backlog is short.
        if (i % ListenBatch == 0)
            QTRY_COMPARE(connected, i);
        if (proveKey) {
            auto opener = std::make_unique<FramedSocket>();
            opener->SetKey(Key);
            connect(opener.get(), &FramedSocket::handshakeComplete, this, [&proven] { ++proven; });
            connect(opener.get(), &FramedSocket::connectionClosed, this, [&closed] { ++closed; });
            opener->connectToPeer(QStringLiteral("127.0.0.1"), m_probe->ports.first(),
                                  ConnectionHello::Browse);
            connect(opener.get(), &FramedSocket::connected, this, [&connected] { ++connected; });
            peers.push_back(std::move(opener));
        } else {
            auto raw = std::make_unique<QTcpSocket>();
            connect(raw.get(), &QTcpSocket::disconnected, this, [&closed] { ++closed; });
            connect(raw.get(), &QTcpSocket::connected, this, [&connected] { ++connected; });
            raw->connectToHost(QHostAddress::LocalHost, m_probe->ports.first());
            raw->write(ConnectionHello::encodeHello(ConnectionHello::Browse));
            peers.push_back(std::move(raw));
        }
    }
    if (proveKey)
        QTRY_COMPARE(proven, Connections);
    QTRY_COMPARE_WITH_TIMEOUT(closed, Connections, 10000);
    QTRY_COMPARE(m_registry.count(ThreadKind::ShareBrowsing), 0);
}

void tst_Listener::strangersCannotCrowdOutContacts_data()
{
    QTest::addColumn<bool>("sendHello");
    QTest::newRow("silent from the start") << false;
    QTest::newRow("browse hello, challenge never answered") << true;
}

// A stranger holds far more silent connections than the cap: the threads
// stay bounded, the oldest go, and a contact's connection still gets through.
void tst_Listener::strangersCannotCrowdOutContacts()
{
    QFETCH(bool, sendHello);
    // A small cap keeps the test short; the program's own is DefaultCap.
    UnidentifiedConnections& gate = UnidentifiedConnections::instance();
    const int cap = 16;
    gate.setCap(cap);
    const auto restore = qScopeGuard([&gate] { gate.setCap(UnidentifiedConnections::DefaultCap); });
    const int strangers = 3 * cap;
    // Only chat connections reach the probe; browse ones get the default.
    auto* listener = new CListenThread(0, m_registry);
    listener->setListenAddress(QHostAddress::LocalHost);
    listener->setClassifierTimeout(60000);
    listener->setDefaultSessionKey(Key);
    listener->setSessionFactory(ConnectionHello::Chat, m_probe->factory());
    m_probe->watch(listener);
    m_handle = startSessionThread(listener, ThreadKind::Listener, m_registry);
    QTRY_COMPARE(m_probe->ports.size(), 1);
    const quint16 port = m_probe->ports.first();

    std::vector<std::unique_ptr<QTcpSocket>> held;
    while (int(held.size()) < strangers) {
        // A few at a time: the listen backlog is short.
        const size_t batch = held.size();
        for (int i = 0; i < ListenBatch; ++i) {
            held.push_back(std::make_unique<QTcpSocket>());
            held.back()->connectToHost(QHostAddress::LocalHost, port);
        }
        QVERIFY(QTest::qWaitFor(
            [&] {
                return std::all_of(held.begin() + batch, held.end(), [](const auto& s) {
                    return s->state() == QAbstractSocket::ConnectedState;
                });
            },
            // A connection the full backlog turned away retries after 1, 2,
            // 4, 8 and 16 seconds: up to five retries on a loaded machine.
            32000));
        if (sendHello) {
            for (size_t i = batch; i < held.size(); ++i)
                held[i]->write(ConnectionHello::encodeHello(ConnectionHello::Browse));
        }
    }
    // The listener and at most `cap` threads for the strangers.
    QTRY_VERIFY_WITH_TIMEOUT(m_registry.count() <= cap + 1, 15000);
    QVERIFY(gate.count() <= cap);
    QTRY_COMPARE_WITH_TIMEOUT(held.front()->state(), QAbstractSocket::UnconnectedState, 15000);
    QCOMPARE(held.back()->state(), QAbstractSocket::ConnectedState);

    QTcpSocket contact;
    contact.connectToHost(QHostAddress::LocalHost, port);
    contact.write(ConnectionHello::encodeHello(ConnectionHello::Chat));
    QTRY_COMPARE_WITH_TIMEOUT(m_probe->sessions.size(), 1, 15000);
    QCOMPARE(m_probe->sessions[0].kind, int(ConnectionHello::Chat));
}

QTEST_GUILESS_MAIN(tst_Listener)
#include "tst_listener.moc"

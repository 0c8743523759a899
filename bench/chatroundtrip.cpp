// Round trip of a small chat message between two chat sessions on loopback:
// host A posts a message, B's host answers each one it receives, A's host
// posts the next when the answer arrives. Each trip crosses the session
// threads and the hosts' thread twice per direction. Beside it, in the same
// run, a plain loopback TCP ping-pong of the same size in one thread: the
// floor the machine gives.

#include "messenger/chatsessions.h"
#include "transport/listenthread.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int Warmup = 200;
constexpr int Trips = 3000;
const QByteArray Message = QByteArrayLiteral("{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Arial;}}\\f0 "
                                             "ping, a short chat line\\par\r\n}\r\n");

struct Percentiles
{
    double p50, p90, p99;
};

Percentiles percentiles(std::vector<qint64> ns)
{
    std::sort(ns.begin(), ns.end());
    auto at = [&](double q) { return double(ns[size_t(q * double(ns.size() - 1))]) / 1000.0; };
    return {at(0.50), at(0.90), at(0.99)};
}

class Host : public QObject, public ChatHost
{
public:
    Identity own;
    ChatSessions* sessions = nullptr;
    SessionId peer = 0;
    std::function<void(SessionId)> onMessage;

    Identity ownIdentity() override { return own; }
    bool peerIdentified(SessionId s, const Contact&, bool) override
    {
        peer = s;
        return true;
    }
    void identityUpdated(SessionId, const Contact&) override {}
    int ownSharesFlag(SessionId) override { return 0; }
    void peerSharesFlag(SessionId, int) override { ready = true; }
    QByteArray takeQueue(SessionId) override { return {}; }
    void messageReceived(SessionId s, const QByteArray&) override { onMessage(s); }
    void queueReceived(SessionId, const QByteArray&) override {}
    void typingReceived(SessionId, int) override {}
    void sessionEnded(SessionId, const Contact&, EndReason, bool) override {}

    bool ready = false;
};

Identity identity(const char* uid)
{
    Identity id;
    id.uid.set(QByteArray(uid));
    id.name.set(QByteArray(uid));
    id.key.set(QByteArrayLiteral("QRT482LMN"));
    return id;
}

bool waitUntil(const std::function<bool()>& done, int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    }
    return true;
}

Percentiles chatRoundTrip()
{
    ThreadRegistry registry;
    Host a, b;
    a.own = identity("benchA");
    b.own = identity("benchB");
    ChatSessions sessionsA(a, registry), sessionsB(b, registry);
    a.sessions = &sessionsA;
    b.sessions = &sessionsB;

    auto* listener = new CListenThread(0, registry);
    listener->setListenAddress(QHostAddress::LocalHost);
    listener->setSessionFactory(ConnectionHello::Chat, sessionsB.acceptedSessionFactory());
    SessionHandle listening = startSessionThread(listener, ThreadKind::Listener, registry);
    waitUntil([&] { return listener->boundPort() != 0; }, 5000);

    Contact contact = NewContact();
    contact.ip.set(QByteArrayLiteral("127.0.0.1"));
    contact.port = listener->boundPort();
    const SessionId id = sessionsA.startOpened(a.own, contact);
    if (!waitUntil([&] { return a.ready && b.ready; }, 10000)) {
        std::fprintf(stderr, "chat sessions did not identify\n");
        return {};
    }

    std::vector<qint64> ns;
    ns.reserve(Trips);
    QElapsedTimer clock;
    int done = 0;
    b.onMessage = [&](SessionId s) { sessionsB.postMessage(s, Message); };
    a.onMessage = [&](SessionId) {
        if (++done > Warmup)
            ns.push_back(clock.nsecsElapsed());
        if (done < Warmup + Trips) {
            clock.start();
            sessionsA.postMessage(id, Message);
        }
    };
    clock.start();
    sessionsA.postMessage(id, Message);
    waitUntil([&] { return done >= Warmup + Trips; }, 120000);

    sessionsA.end(id, EndReason::Disconnect);
    listening.end();
    waitUntil([&] { return registry.count() == 0; }, 10000);
    return percentiles(ns);
}

Percentiles tcpRoundTrip()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    QTcpSocket client;
    client.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    client.connectToHost(QHostAddress::LocalHost, server.serverPort());
    waitUntil([&] { return server.hasPendingConnections(); }, 5000);
    QTcpSocket* echo = server.nextPendingConnection();
    echo->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    const qint64 size = Message.size() + 9;
    QObject::connect(echo, &QTcpSocket::readyRead, echo, [&] {
        while (echo->bytesAvailable() >= size)
            echo->write(echo->read(size));
    });

    std::vector<qint64> ns;
    ns.reserve(Trips);
    QElapsedTimer clock;
    int done = 0;
    const QByteArray frame = QByteArray(size, 'x');
    QObject::connect(&client, &QTcpSocket::readyRead, &client, [&] {
        while (client.bytesAvailable() >= size) {
            client.read(size);
            if (++done > Warmup)
                ns.push_back(clock.nsecsElapsed());
            if (done < Warmup + Trips) {
                clock.start();
                client.write(frame);
            }
        }
    });
    clock.start();
    client.write(frame);
    waitUntil([&] { return done >= Warmup + Trips; }, 60000);
    return percentiles(ns);
}

void print(const char* what, const Percentiles& p)
{
    std::printf("%-36s p50 %8.1f us   p90 %8.1f us   p99 %8.1f us\n", what, p.p50, p.p90, p.p99);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::printf("chat message round trip on loopback, %d trips of %lld bytes of text\n", Trips,
                static_cast<long long>(Message.size()));
    print("baseline: TCP ping-pong, 1 thread", tcpRoundTrip());
    print("chat sessions, hosts on main thread", chatRoundTrip());
    return 0;
}

// Chat messages between two messenger controllers on loopback, the whole
// path a user's message takes: the controller's send (history panes,
// queue decision), the chat session threads, the framed and scrambled
// socket, the receiving controller (history panes, notices) and its user
// interface. Both controllers share this process's main thread, as two
// windows of one program would; each has its own profile, listener and
// thread registry.
//
//   one way: messages per second, from the first send until the last one
//            has reached the receiving user interface;
//   round trip: a message to the peer, whose user interface answers it at
//            once; the next leaves when the answer has arrived.
//
// Beside them, in the same run, the floor the machine gives: the same
// number of messages of the same size through a plain loopback TCP
// connection in one thread, one way and as a ping-pong.

#include "messenger/messengercontroller.h"
#include "messenger/rtfwriter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLoggingCategory>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int OneWayMessages = 20000;
constexpr int RoundTrips = 10000;
constexpr int WarmupTrips = 200;

struct Percentiles
{
    double p50 = 0, p90 = 0, p99 = 0;
};

Percentiles percentiles(std::vector<qint64> ns)
{
    if (ns.empty())
        return {};
    std::sort(ns.begin(), ns.end());
    auto at = [&](double q) { return double(ns[size_t(q * double(ns.size() - 1))]) / 1000.0; };
    return {at(0.50), at(0.90), at(0.99)};
}

// Runs the event loop until done() holds or the time is up.
bool waitFor(const std::function<bool()>& done, int ms)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    check.start(1);
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    return done();
}

// A user interface that counts received messages and may react to them.
class BenchUi : public MessengerUi, public ProfileUi
{
public:
    explicit BenchUi(QString name) : m_name(std::move(name)) {}

    int received = 0;
    std::function<void()> onReceived;

    void lineAppended(const Contact* contact, const PaneLine& line) override
    {
        if (contact || (line.kind != PaneLine::Peer && line.kind != PaneLine::QueuedPeer))
            return;
        ++received;
        if (onReceived)
            onReceived();
    }

    void eventLine(const QString&) override {}
    void mainStatusChanged(const QString&) override {}
    void chatStatusChanged(const Contact&, const QString&) override {}
    void typingChanged(const Contact&, bool) override {}
    void myStatusChanged(int, const QString&, const QList<StatusLabelColor>&) override {}
    void contactAdded(const Contact&) override {}
    void contactRemoving(const Contact&) override {}
    void contactChanged(const Contact&) override {}
    void contactListChanged() override {}
    void popup(const QString&, const QString&, const QByteArray&) override {}
    void playSound(const QString&) override {}
    void messageBox(MessengerUi::Icon, const QString& caption, const QString& text) override
    {
        std::fprintf(stderr, "%s: %s\n", qPrintable(caption), qPrintable(text));
    }
    bool askYesNo(const QString&, const QString&) override { return true; }
    std::optional<QString> askText(const QString&, const QString&, const QString&) override
    {
        return std::nullopt;
    }
    void showMessage(ProfileUi::Icon, const QString& caption, const QString& text) override
    {
        std::fprintf(stderr, "%s: %s\n", qPrintable(caption), qPrintable(text));
    }
    bool askDynamicIp(const QString&, const QString&) override { return false; }
    std::optional<QString> askScreenName(const QString&, const QString&, const QString&) override
    {
        return m_name;
    }

private:
    QString m_name;
};

struct Peer
{
    explicit Peer(const QString& name) : ui(name), controller(&ui, &ui, registry)
    {
        controller.setProfileFolder(home.path() + QLatin1Char('/'));
        controller.setListenAddress(QHostAddress::LocalHost);
        controller.setPortOverride(0);
    }

    QTemporaryDir home;
    ThreadRegistry registry;
    BenchUi ui;
    MessengerController controller;
};

struct ChatFigures
{
    double messagesPerSecond = 0;
    Percentiles roundTrip;
    bool ok = false;
};

ChatFigures chatBetweenControllers(const QByteArray& message)
{
    ChatFigures figures;
    Peer a(QStringLiteral("BenchA"));
    Peer b(QStringLiteral("BenchB"));
    a.controller.start();
    b.controller.start();
    if (!waitFor([&] { return b.controller.listenPort() != 0; }, 5000))
        return figures;
    a.controller.AddContact(QStringLiteral("127.0.0.1"), b.controller.listenPort(), {}, {});
    if (!waitFor(
            [&] { return a.controller.contactCount() == 1 && b.controller.contactCount() == 1; },
            10000)) {
        std::fprintf(stderr, "the controllers did not identify each other\n");
        return figures;
    }
    Contact* toB = a.controller.contactAt(0);
    Contact* toA = b.controller.contactAt(0);

    // Warm-up: a few round trips, which also see both sessions through
    // their identification.
    int trips = 0;
    b.ui.onReceived = [&] {
        QTimer::singleShot(0, &b.controller, [&] { b.controller.SendFromMain({toA}, message); });
    };
    a.ui.onReceived = [&] {
        if (++trips < WarmupTrips)
            QTimer::singleShot(0, &a.controller,
                               [&] { a.controller.SendFromMain({toB}, message); });
    };
    a.controller.SendFromMain({toB}, message);
    if (!waitFor([&] { return trips >= WarmupTrips; }, 60000)) {
        std::fprintf(stderr, "warm-up did not finish\n");
        return figures;
    }

    // One way.
    b.ui.onReceived = nullptr;
    a.ui.onReceived = nullptr;
    const int before = b.ui.received;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < OneWayMessages; ++i)
        a.controller.SendFromMain({toB}, message);
    if (!waitFor([&] { return b.ui.received - before >= OneWayMessages; }, 300000)) {
        std::fprintf(stderr, "one way: %d of %d arrived\n", b.ui.received - before, OneWayMessages);
        return figures;
    }
    figures.messagesPerSecond = OneWayMessages / (double(clock.nsecsElapsed()) / 1e9);

    // Round trips.
    std::vector<qint64> ns;
    ns.reserve(RoundTrips);
    b.ui.onReceived = [&] {
        QTimer::singleShot(0, &b.controller, [&] { b.controller.SendFromMain({toA}, message); });
    };
    a.ui.onReceived = [&] {
        ns.push_back(clock.nsecsElapsed());
        if (int(ns.size()) < RoundTrips) {
            QTimer::singleShot(0, &a.controller, [&] {
                clock.start();
                a.controller.SendFromMain({toB}, message);
            });
        }
    };
    clock.start();
    a.controller.SendFromMain({toB}, message);
    if (!waitFor([&] { return int(ns.size()) >= RoundTrips; }, 300000)) {
        std::fprintf(stderr, "round trips: %zu of %d\n", ns.size(), RoundTrips);
        return figures;
    }
    a.ui.onReceived = nullptr;
    b.ui.onReceived = nullptr;
    figures.roundTrip = percentiles(std::move(ns));
    figures.ok = true;

    bool exitedA = false, exitedB = false;
    QObject::connect(&a.controller, &MessengerController::exited, [&] { exitedA = true; });
    QObject::connect(&b.controller, &MessengerController::exited, [&] { exitedB = true; });
    a.controller.Exit();
    b.controller.Exit();
    waitFor([&] { return exitedA && exitedB; }, 60000);
    return figures;
}

struct TcpFigures
{
    double messagesPerSecond = 0;
    Percentiles roundTrip;
};

// The same sizes through one plain loopback connection in one thread.
TcpFigures plainTcp(qint64 size)
{
    TcpFigures figures;
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    QTcpSocket client;
    client.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    client.connectToHost(QHostAddress::LocalHost, server.serverPort());
    waitFor([&] { return server.hasPendingConnections(); }, 5000);
    QTcpSocket* peer = server.nextPendingConnection();
    peer->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    const QByteArray frame(size, 'x');

    // One way: the peer counts whole messages.
    qint64 arrived = 0;
    auto counting = QObject::connect(peer, &QTcpSocket::readyRead, peer, [&] {
        arrived += peer->bytesAvailable();
        peer->readAll();
    });
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < OneWayMessages; ++i)
        client.write(frame);
    waitFor([&] { return arrived >= size * OneWayMessages; }, 60000);
    figures.messagesPerSecond = OneWayMessages / (double(clock.nsecsElapsed()) / 1e9);
    QObject::disconnect(counting);

    // Ping-pong: the peer echoes every whole message.
    QObject::connect(peer, &QTcpSocket::readyRead, peer, [&] {
        while (peer->bytesAvailable() >= size)
            peer->write(peer->read(size));
    });
    std::vector<qint64> ns;
    ns.reserve(RoundTrips);
    int done = 0;
    QObject::connect(&client, &QTcpSocket::readyRead, &client, [&] {
        while (client.bytesAvailable() >= size) {
            client.read(size);
            if (++done > WarmupTrips)
                ns.push_back(clock.nsecsElapsed());
            if (done < WarmupTrips + RoundTrips) {
                clock.start();
                client.write(frame);
            }
        }
    });
    clock.start();
    client.write(frame);
    waitFor([&] { return done >= WarmupTrips + RoundTrips; }, 60000);
    figures.roundTrip = percentiles(std::move(ns));
    return figures;
}

void printRoundTrip(const char* what, const Percentiles& p)
{
    std::printf("  %-44s p50 %8.1f us   p90 %8.1f us   p99 %8.1f us\n", what, p.p50, p.p90, p.p99);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("zephlink.*.debug=false"));
    const QByteArray message = RtfFromPlainText(QStringLiteral("a short chat line, 12345"));
    // On the wire: type, length, seed header and the text with its zero byte.
    const qint64 wireSize = message.size() + 1 + 9;

    std::printf("chat between two messenger controllers on loopback\n");
    std::printf("  message: %lld bytes of rich text; %d one way, %d round trips\n",
                static_cast<long long>(message.size()), OneWayMessages, RoundTrips);

    const TcpFigures tcp = plainTcp(wireSize);
    const ChatFigures chat = chatBetweenControllers(message);
    if (!chat.ok) {
        std::fprintf(stderr, "the chat run failed\n");
        return 1;
    }

    std::printf("one way\n");
    std::printf("  %-44s %10.0f messages/s\n", "baseline: plain TCP, 1 thread",
                tcp.messagesPerSecond);
    std::printf("  %-44s %10.0f messages/s   (target >= 5000)\n", "controller to controller",
                chat.messagesPerSecond);
    std::printf("round trip\n");
    printRoundTrip("baseline: plain TCP ping-pong, 1 thread", tcp.roundTrip);
    printRoundTrip("controller to controller and back", chat.roundTrip);
    std::printf("  %-44s %s\n",
                "target p50 < 1000 us:", chat.roundTrip.p50 < 1000.0 ? "met" : "NOT met");
    return 0;
}

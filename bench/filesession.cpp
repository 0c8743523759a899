// One file sent between two file sessions on loopback, the whole path a
// transfer takes: the sender reads, scrambles and queues 64 KiB blocks, the
// receiver unscrambles and writes them to its ".part" file and renames it.
// Both directories share this process's main thread as their host; each
// session runs on its own thread.
//
// Beside it, in the same run, the floors the machine gives: the same file
// copied file to file in one thread, and sent file to file through a plain
// loopback TCP connection (one reading and sending thread, one receiving and
// writing thread, no scrambling).
//
//   bench_filesession [MiB]   (default 256)

#include "transfers/filesessions.h"
#include "transfers/headcrc.h"
#include "transfers/sessionresult.h"
#include "transport/listenthread.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <thread>

namespace {

constexpr qint64 Block = 64 * 1024;
constexpr int Runs = 3;

class BenchHost : public TransferHost
{
public:
    Identity own;
    QString autosave;
    int ends = 0;
    int lastResult = -1;
    std::function<void()> onEnd;

    Identity ownIdentity() override { return own; }
    QString autosaveFolder(const QByteArray&) override { return autosave; }
    TransferContactInfo contactInfo(const QByteArray&) override { return {}; }
    bool savedPathTrusted(const Transfer&) override { return false; }
    bool sendingSessionIdentified(Transfer&) override { return true; }
    void selectingSavePath(const Transfer&) override {}
    void progress(const Transfer&, const QString&, const QString&) override {}
    void receiveAccepted(const Transfer&) override {}
    void sessionEnded(int result, const Transfer&) override
    {
        ++ends;
        lastResult = result;
        if (onEnd)
            onEnd();
    }
    void askAccept(FileSessionId, const QString&, const QString&, const Transfer&) override {}
    void acceptTextChanged(FileSessionId, const QString&) override {}
    void askSavePath(FileSessionId, const QString&, bool) override {}
    void askResume(FileSessionId, const ResumePromptContent&) override {}
    void closePrompts(FileSessionId) override {}
};

double mibPerSecond(qint64 bytes, qint64 ns)
{
    return double(bytes) / (1024.0 * 1024.0) / (double(ns) / 1e9);
}

qint64 copyFile(const QString& from, const QString& to)
{
    QFile in(from), out(to);
    in.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    out.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered);
    QByteArray buffer(Block, Qt::Uninitialized);
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        const qint64 n = in.read(buffer.data(), Block);
        if (n <= 0)
            break;
        out.write(buffer.constData(), n);
    }
    out.close();
    return timer.nsecsElapsed();
}

qint64 plainTcp(const QString& from, const QString& to)
{
    const int server = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(server, 1);
    socklen_t length = sizeof address;
    ::getsockname(server, reinterpret_cast<sockaddr*>(&address), &length);

    QElapsedTimer timer;
    timer.start();
    std::thread receiver([&] {
        const int s = ::accept(server, nullptr, nullptr);
        QFile out(to);
        out.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered);
        QByteArray buffer(Block, Qt::Uninitialized);
        for (;;) {
            const ssize_t n = ::recv(s, buffer.data(), Block, 0);
            if (n <= 0)
                break;
            out.write(buffer.constData(), n);
        }
        ::close(s);
    });
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
    QFile in(from);
    in.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    QByteArray buffer(Block, Qt::Uninitialized);
    for (;;) {
        const qint64 n = in.read(buffer.data(), Block);
        if (n <= 0)
            break;
        for (qint64 sent = 0; sent < n;) {
            const ssize_t k = ::send(s, buffer.constData() + sent, size_t(n - sent), 0);
            if (k <= 0)
                break;
            sent += k;
        }
    }
    ::close(s);
    receiver.join();
    ::close(server);
    return timer.nsecsElapsed();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("zephlink.*.debug=false"));
    const qint64 mib = argc > 1 ? QByteArray(argv[1]).toLongLong() : 256;
    const qint64 size = mib * 1024 * 1024;

    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("source.bin"));
    {
        QFile f(source);
        f.open(QIODevice::WriteOnly);
        QByteArray block(Block, Qt::Uninitialized);
        QRandomGenerator generator(42);
        for (qint64 done = 0; done < size; done += Block) {
            generator.fillRange(reinterpret_cast<quint32*>(block.data()), Block / 4);
            f.write(block.constData(), std::min(Block, size - done));
        }
    }

    ThreadRegistry registry;
    BenchHost hostA, hostB;
    hostA.own.key.set(QByteArrayLiteral("BENCHKEY"));
    hostA.own.uid.set(QByteArrayLiteral("benchA"));
    hostB.own = hostA.own;
    hostB.own.uid.set(QByteArrayLiteral("benchB"));
    FileSessions sessionsA(hostA, registry), sessionsB(hostB, registry);
    auto* listener = new CListenThread(0, registry);
    listener->setListenAddress(QHostAddress::LocalHost);
    listener->setSessionFactory(ConnectionHello::File, sessionsB.acceptedSessionFactory());
    SessionHandle listening;
    {
        QEventLoop loop;
        QObject::connect(listener, &CListenThread::listening, &loop, &QEventLoop::quit,
                         Qt::QueuedConnection);
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        listening = startSessionThread(listener, ThreadKind::Listener, registry);
        loop.exec();
    }
    if (listener->boundPort() == 0)
        return 1;
    Contact peer = NewContact();
    peer.ip.set(QByteArrayLiteral("127.0.0.1"));
    peer.port = listener->boundPort();

    Transfer t = NewTransfer();
    t.isSend = 1;
    t.senderPath = source;
    t.totalSize = FileSize(source);
    t.headCrc = HeadCrc(source);

    std::printf("file of %lld MiB, best of %d runs\n", mib, Runs);
    qint64 best = 0, bestCopy = 0, bestTcp = 0;
    for (int run = 0; run < Runs; ++run) {
        const QString inbox = dir.filePath(QStringLiteral("inbox%1").arg(run));
        QDir().mkpath(inbox);
        hostB.autosave = inbox;
        const int endsA = hostA.ends, endsB = hostB.ends;
        QEventLoop loop;
        hostA.onEnd = hostB.onEnd = [&] {
            if (hostA.ends > endsA && hostB.ends > endsB)
                loop.quit();
        };
        QElapsedTimer timer;
        timer.start();
        sessionsA.startOutgoing(FileSessions::Mode::Offer, hostA.own, peer, t);
        loop.exec();
        if (hostB.lastResult != SessionResult::Complete) {
            std::printf("transfer failed (result %d)\n", hostB.lastResult);
            return 1;
        }
        const qint64 ns = timer.nsecsElapsed();
        best = best == 0 ? ns : std::min(best, ns);
        QFile::remove(inbox + QStringLiteral("/source.bin"));

        const QString copy = dir.filePath(QStringLiteral("copy.bin"));
        const qint64 c = copyFile(source, copy);
        bestCopy = bestCopy == 0 ? c : std::min(bestCopy, c);
        QFile::remove(copy);
        const qint64 p = plainTcp(source, copy);
        bestTcp = bestTcp == 0 ? p : std::min(bestTcp, p);
        QFile::remove(copy);
    }
    std::printf("  file copy, one thread            %8.0f MiB/s\n", mibPerSecond(size, bestCopy));
    std::printf("  plain loopback TCP, file to file %8.0f MiB/s\n", mibPerSecond(size, bestTcp));
    std::printf("  file session, file to file       %8.0f MiB/s  (%.0f%% of plain TCP)\n",
                mibPerSecond(size, best), 100.0 * double(bestTcp) / double(best));
    hostA.onEnd = hostB.onEnd = nullptr;
    listening.end();
    listening.wait(5000);
    return 0;
}

// One large file sent from one headless node to another over 127.0.0.1 and
// written to disk at the receiver (every offer accepted into a fresh folder),
// beside socat copying the same file between two processes over loopback to
// disk, in the same run. Prints MB/s of both, their ratio, and the peak
// resident memory of each node; every received copy is compared with the
// source.
//
//   bench_transfer [--mib N] [--rounds R] [--dir DIR]
//
// N MiB (default 2048) in a temporary folder under DIR (default: the system's
// temporary folder; the copies go to the same file system). Each round runs
// the socat copy, then the nodes. MB = 10^6 bytes.

#include "nodebench.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

using namespace nodebench;

namespace {

constexpr qint64 MiB = 1024 * 1024;
// Both ends of the plain copy move blocks of this size.
constexpr int SocatBlock = 131072;

// Incompressible content, different in every MiB.
bool writeSource(const QString& path, qint64 mib)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QByteArray seed(MiB, Qt::Uninitialized);
    QRandomGenerator generator(20260801);
    generator.fillRange(reinterpret_cast<quint32*>(seed.data()), MiB / 4);
    QByteArray block(MiB, Qt::Uninitialized);
    const auto* in = reinterpret_cast<const quint64*>(seed.constData());
    auto* out = reinterpret_cast<quint64*>(block.data());
    for (qint64 i = 0; i < mib; ++i) {
        const quint64 mask = quint64(i + 1) * 0x9E3779B97F4A7C15ULL;
        for (qint64 w = 0; w < MiB / 8; ++w)
            out[w] = in[w] ^ (mask + quint64(w));
        if (file.write(block) != block.size())
            return false;
    }
    return file.flush();
}

bool sameContent(const QString& a, const QString& b)
{
    return run(QStringLiteral("cmp"), {QStringLiteral("-s"), a, b});
}

// socat listening and writing the file, socat reading and sending it.
double socatCopy(const QString& source, const QString& target)
{
    const quint16 port = freePort();
    const QString block = QString::number(SocatBlock);
    Child receiver;
    if (!receiver.start(QStringLiteral("socat"),
                        {QStringLiteral("-u"), QStringLiteral("-b"), block,
                         QStringLiteral("TCP-LISTEN:%1,reuseaddr,bind=127.0.0.1").arg(port),
                         QStringLiteral("CREATE:") + target}) ||
        !waitListening(port))
        return -1;
    QElapsedTimer timer;
    timer.start();
    Child sender;
    if (!sender.start(QStringLiteral("socat"), {QStringLiteral("-u"), QStringLiteral("-b"), block,
                                                QStringLiteral("FILE:") + source,
                                                QStringLiteral("TCP:127.0.0.1:%1").arg(port)}) ||
        !sender.finish() || !receiver.finish())
        return -1;
    return double(timer.nsecsElapsed()) / 1e9;
}

struct NodeRun
{
    double seconds = -1;
    qint64 senderPeak = -1;
    qint64 receiverPeak = -1;
    double senderCpu = -1;
    double receiverCpu = -1;
};

NodeRun nodeCopy(const QString& root, const QString& source, const QString& inbox)
{
    NodeRun result;
    NodePair pair;
    if (!pair.start(nodeExecutable(), root, inbox)) {
        std::fprintf(stderr, "the nodes did not start and meet\n");
        return result;
    }
    result.seconds = pair.send(source, 3600 * 1000);
    result.senderPeak = pair.alice->peakResident();
    result.receiverPeak = pair.bob->peakResident();
    result.senderCpu = pair.alice->cpuSeconds();
    result.receiverCpu = pair.bob->cpuSeconds();
    if (!pair.quit())
        std::fprintf(stderr, "a node did not quit cleanly\n");
    return result;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({QStringLiteral("mib"), QStringLiteral("File size in MiB."),
                      QStringLiteral("N"), QStringLiteral("2048")});
    parser.addOption({QStringLiteral("rounds"), QStringLiteral("Rounds of both copies."),
                      QStringLiteral("R"), QStringLiteral("2")});
    parser.addOption({QStringLiteral("dir"), QStringLiteral("Folder for the temporary files."),
                      QStringLiteral("DIR"), QDir::tempPath()});
    parser.process(app);
    const qint64 mib = std::max(1, parser.value(QStringLiteral("mib")).toInt());
    const int rounds = std::max(1, parser.value(QStringLiteral("rounds")).toInt());
    const qint64 bytes = mib * MiB;

    QTemporaryDir dir(parser.value(QStringLiteral("dir")) + QStringLiteral("/zl-bench-XXXXXX"));
    if (!dir.isValid()) {
        std::fprintf(stderr, "cannot create a temporary folder\n");
        return 1;
    }
    const QString source = dir.filePath(QStringLiteral("source.bin"));
    std::printf("bench_transfer: one file of %lld MiB (%s MB) over 127.0.0.1, written to disk, "
                "in %s\n",
                mib, qPrintable(megabytes(bytes)), qPrintable(dir.path()));
    std::fflush(stdout);
    if (!writeSource(source, mib)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(source));
        return 1;
    }

    std::printf("%-5s %-34s %8s %9s %14s %14s %9s %9s\n", "round", "copy", "seconds", "MB/s",
                "sender VmHWM", "receiver VmHWM", "send CPU", "recv CPU");
    double bestSocat = 0;
    double bestNode = 0;
    qint64 peakSender = 0;
    qint64 peakReceiver = 0;
    bool allIdentical = true;
    for (int round = 1; round <= rounds; ++round) {
        const QString tag = QString::number(round);

        settleDisk();
        const QString socatTarget =
            dir.filePath(QStringLiteral("socat-") + tag + QStringLiteral(".bin"));
        const double socatSeconds = socatCopy(source, socatTarget);
        const bool socatSame = socatSeconds > 0 && sameContent(source, socatTarget);
        allIdentical = allIdentical && socatSame;
        const double socatRate = megabytesPerSecond(bytes, socatSeconds);
        if (socatSame)
            bestSocat = std::max(bestSocat, socatRate);
        std::printf("%-5d %-34s %8.2f %9.1f %14s %14s %9s %9s%s\n", round,
                    "socat -u -b 131072 (file to file)", socatSeconds, socatRate, "", "", "", "",
                    socatSame ? "" : "  FAILED");
        std::fflush(stdout);
        // Each run writes into page cache freed by the previous one: fresh
        // memory is much slower to fill on some virtual machines.
        QFile::remove(socatTarget);

        settleDisk();
        const QString inbox = dir.filePath(QStringLiteral("inbox-") + tag);
        const NodeRun node = nodeCopy(dir.filePath(QStringLiteral("nodes-") + tag), source, inbox);
        const QString received = inbox + QStringLiteral("/Alice/source.bin");
        const bool nodeSame = node.seconds > 0 && sameContent(source, received);
        allIdentical = allIdentical && nodeSame;
        const double nodeRate = megabytesPerSecond(bytes, node.seconds);
        if (nodeSame)
            bestNode = std::max(bestNode, nodeRate);
        peakSender = std::max(peakSender, node.senderPeak);
        peakReceiver = std::max(peakReceiver, node.receiverPeak);
        std::printf("%-5d %-34s %8.2f %9.1f %11s MB %11s MB %8.2fs %8.2fs%s\n", round,
                    "zephlink-node to zephlink-node", node.seconds, nodeRate,
                    qPrintable(megabytes(node.senderPeak)),
                    qPrintable(megabytes(node.receiverPeak)), node.senderCpu, node.receiverCpu,
                    nodeSame ? "" : "  FAILED");
        std::fflush(stdout);
        QFile::remove(received);
    }

    const double ratio = bestSocat > 0 ? bestNode / bestSocat : 0;
    const qint64 peak = std::max(peakSender, peakReceiver);
    std::printf("\nbest of %d: socat %.1f MB/s, nodes %.1f MB/s, ratio %.2f (target >= 0.95: %s)\n",
                rounds, bestSocat, bestNode, ratio, ratio >= 0.95 ? "met" : "MISSED");
    std::printf("peak resident memory: sender %s MB, receiver %s MB (target < 100 MB: %s)\n",
                qPrintable(megabytes(peakSender)), qPrintable(megabytes(peakReceiver)),
                peak > 0 && peak < 100 * 1000 * 1000 ? "met" : "MISSED");
    std::printf("received copies identical to the source: %s\n", allIdentical ? "yes" : "NO");
    return allIdentical ? 0 : 1;
}

// Whole folders sent from one headless node to another over 127.0.0.1 (every
// offer accepted into a fresh folder), beside tar piped through socat and an
// rsync daemon on 127.0.0.1 copying the same folders, in the same run: one
// folder of many small files and one of fewer large ones. Prints files per
// second and MB/s of each copy; every copy is compared with its source.
//
//   bench_folder [--small N] [--large N] [--nested N] [--rounds R] [--dir DIR]
//
// N files of 4 KiB (default 10000) and N files of 1 MiB (default 200) in a
// folder each, and with --nested N files of 1 KiB spread over two levels of
// folders (100 files a folder; e.g. --nested 100000), in a temporary folder under DIR (default: the
// system's temporary folder; every copy goes to the same file system, always into a folder of its
// own: file creation right after a mass deletion is slow on some file systems, so nothing is
// deleted until the end). MB = 10^6 bytes.

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
#include <vector>

#include <unistd.h>

using namespace nodebench;

namespace {

constexpr int SocatBlock = 131072;

struct FolderSet
{
    QString name; // also the source folder's name
    int files = 0;
    qint64 fileSize = 0;
    int perFolder = 0; // files per folder two levels down; 0: all in one folder
    qint64 bytes() const { return qint64(files) * fileSize; }
};

bool writeFolder(const QString& path, const FolderSet& set)
{
    if (!QDir().mkpath(path))
        return false;
    QRandomGenerator generator(4242 + quint32(set.fileSize));
    QByteArray content(set.fileSize, Qt::Uninitialized);
    for (int i = 0; i < set.files; ++i) {
        generator.fillRange(reinterpret_cast<quint32*>(content.data()), set.fileSize / 4);
        QString folder = path;
        if (set.perFolder > 0) {
            const int leaf = i / set.perFolder;
            folder +=
                QStringLiteral("/d%1/e%2").arg(leaf / 10, 4, 10, QLatin1Char('0')).arg(leaf % 10);
            if (i % set.perFolder == 0 && !QDir().mkpath(folder))
                return false;
        }
        QFile file(folder + QStringLiteral("/f%1.bin").arg(i, 6, 10, QLatin1Char('0')));
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
            return false;
    }
    return true;
}

bool sameTree(const QString& a, const QString& b)
{
    return run(QStringLiteral("diff"), {QStringLiteral("-rq"), a, b});
}

double seconds(const QElapsedTimer& timer)
{
    return double(timer.nsecsElapsed()) / 1e9;
}

// tar writing the folder into socat, socat receiving it into tar.
double tarCopy(const QString& source, const QString& target)
{
    if (!QDir().mkpath(target))
        return -1;
    const quint16 port = freePort();
    const QString block = QString::number(SocatBlock);
    Child receiver;
    if (!receiver.startShell(
            QStringLiteral("socat -u -b %1 TCP-LISTEN:%2,reuseaddr,bind=127.0.0.1 STDOUT | "
                           "tar -C %3 -xf -")
                .arg(block, QString::number(port), shellQuoted(target))) ||
        !waitListening(port))
        return -1;
    QElapsedTimer timer;
    timer.start();
    Child sender;
    if (!sender.startShell(
            QStringLiteral("tar -C %1 -cf - . | socat -u -b %2 STDIN TCP:127.0.0.1:%3")
                .arg(shellQuoted(source), block, QString::number(port))) ||
        !sender.finish() || !receiver.finish())
        return -1;
    return seconds(timer);
}

// An rsync daemon on 127.0.0.1 whose module "bench" writes under path.
class RsyncDaemon
{
public:
    bool start(const QString& configDir, const QString& path)
    {
        const QString config = configDir + QStringLiteral("/rsyncd.conf");
        QFile file(config);
        if (!QDir().mkpath(path) || !file.open(QIODevice::WriteOnly))
            return false;
        file.write(QStringLiteral("use chroot = no\n"
                                  "uid = %1\n"
                                  "gid = %2\n"
                                  "log file = /dev/null\n"
                                  "[bench]\n"
                                  "path = %3\n"
                                  "read only = no\n")
                       .arg(::getuid())
                       .arg(::getgid())
                       .arg(path)
                       .toUtf8());
        file.close();
        m_port = freePort();
        return m_daemon.start(QStringLiteral("rsync"),
                              {QStringLiteral("--daemon"), QStringLiteral("--no-detach"),
                               QStringLiteral("--config=") + config,
                               QStringLiteral("--address=127.0.0.1"),
                               QStringLiteral("--port=%1").arg(m_port)}) &&
               waitListening(m_port);
    }

    // rsync -a source/ into the module's folder `folder`.
    double copy(const QString& source, const QString& folder)
    {
        QElapsedTimer timer;
        timer.start();
        if (!run(QStringLiteral("rsync"),
                 {QStringLiteral("-a"), source + u'/',
                  QStringLiteral("rsync://127.0.0.1:%1/bench/%2/").arg(m_port).arg(folder)}))
            return -1;
        return seconds(timer);
    }

private:
    Child m_daemon;
    quint16 m_port = 0;
};

struct Figures
{
    double bestFilesPerSecond = 0;
    double bestMegabytesPerSecond = 0;
    bool allIdentical = true;
    // Nodes only: the lowest CPU time per file of each node over the rounds,
    // in microseconds, and the highest peak resident memory of either.
    double senderCpuPerFile = 1e9;
    double receiverCpuPerFile = 1e9;
    qint64 peakResident = 0;
};

// What the nodes must reach on each kind of folder, beside the baselines.
constexpr double SmallFilesPerSecond = 15000;
constexpr double SmallOfRsync = 1.5;
constexpr double CpuPerFileUs = 40;
constexpr double LargeOfRsync = 1.0;
constexpr qint64 PeakResidentBytes = 100 * 1000 * 1000;

enum class Tool { Nodes, Tar, Rsync };

const char* toolName(Tool tool)
{
    switch (tool) {
    case Tool::Nodes:
        return "zephlink-node to zephlink-node";
    case Tool::Tar:
        return "tar | socat -b 131072 | tar";
    case Tool::Rsync:
        return "rsync -a to an rsync daemon";
    }
    return "";
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({QStringLiteral("small"), QStringLiteral("Files of 4 KiB."),
                      QStringLiteral("N"), QStringLiteral("10000")});
    parser.addOption({QStringLiteral("large"), QStringLiteral("Files of 1 MiB."),
                      QStringLiteral("N"), QStringLiteral("200")});
    parser.addOption({QStringLiteral("nested"),
                      QStringLiteral("Files of 1 KiB in nested folders (0: none)."),
                      QStringLiteral("N"), QStringLiteral("0")});
    parser.addOption({QStringLiteral("rounds"), QStringLiteral("Rounds of every copy."),
                      QStringLiteral("R"), QStringLiteral("2")});
    parser.addOption({QStringLiteral("dir"), QStringLiteral("Folder for the temporary files."),
                      QStringLiteral("DIR"), QDir::tempPath()});
    parser.process(app);
    const int rounds = std::max(1, parser.value(QStringLiteral("rounds")).toInt());
    std::vector<FolderSet> sets{
        {QStringLiteral("small"), std::max(1, parser.value(QStringLiteral("small")).toInt()),
         4 * 1024},
        {QStringLiteral("large"), std::max(1, parser.value(QStringLiteral("large")).toInt()),
         1024 * 1024},
    };
    if (const int nested = parser.value(QStringLiteral("nested")).toInt(); nested > 0)
        sets.push_back({QStringLiteral("nested"), nested, 1024, 100});

    QTemporaryDir dir(parser.value(QStringLiteral("dir")) + QStringLiteral("/zl-bench-XXXXXX"));
    if (!dir.isValid()) {
        std::fprintf(stderr, "cannot create a temporary folder\n");
        return 1;
    }
    std::printf("bench_folder: folders over 127.0.0.1, written to disk, in %s\n",
                qPrintable(dir.path()));
    for (const FolderSet& set : sets) {
        if (!writeFolder(dir.filePath(set.name), set)) {
            std::fprintf(stderr, "cannot write the %s folder\n", qPrintable(set.name));
            return 1;
        }
    }
    RsyncDaemon rsync;
    if (!rsync.start(dir.path(), dir.filePath(QStringLiteral("rsync")))) {
        std::fprintf(stderr, "the rsync daemon did not start\n");
        return 1;
    }

    bool allIdentical = true;
    bool allMet = true;
    for (const FolderSet& set : sets) {
        const QString source = dir.filePath(set.name);
        std::printf("\n%s: %d files of %lld KiB (%s MB)\n", qPrintable(set.name), set.files,
                    set.fileSize / 1024, qPrintable(megabytes(set.bytes())));
        std::printf("%-5s %-32s %8s %9s %8s %14s %14s %9s %9s %9s %9s\n", "round", "copy",
                    "seconds", "files/s", "MB/s", "sender VmHWM", "receiver VmHWM", "send CPU",
                    "recv CPU", "send/file", "recv/file");
        std::fflush(stdout);
        Figures figures[3];
        for (int round = 1; round <= rounds; ++round) {
            // Each round starts with another tool, so none always meets the
            // same page cache.
            std::vector<Tool> order{Tool::Nodes, Tool::Tar, Tool::Rsync};
            std::rotate(order.begin(), order.begin() + (round - 1) % 3, order.end());
            for (Tool tool : order) {
                const QString tag = QStringLiteral("%1-%2").arg(set.name).arg(round);
                QString target;
                double took = -1;
                qint64 senderPeak = -1;
                qint64 receiverPeak = -1;
                double senderCpu = -1;
                double receiverCpu = -1;
                settleDisk();
                switch (tool) {
                case Tool::Nodes: {
                    const QString inbox = dir.filePath(QStringLiteral("inbox-") + tag);
                    NodePair pair;
                    if (pair.start(nodeExecutable(), dir.filePath(QStringLiteral("nodes-") + tag),
                                   inbox)) {
                        took = pair.send(source, 3600 * 1000);
                        senderPeak = pair.alice->peakResident();
                        receiverPeak = pair.bob->peakResident();
                        senderCpu = pair.alice->cpuSeconds();
                        receiverCpu = pair.bob->cpuSeconds();
                        pair.quit();
                    } else {
                        std::fprintf(stderr, "the nodes did not start and meet\n");
                    }
                    target = inbox + QStringLiteral("/Alice/") + set.name;
                    break;
                }
                case Tool::Tar:
                    target = dir.filePath(QStringLiteral("tar-") + tag);
                    took = tarCopy(source, target);
                    break;
                case Tool::Rsync:
                    target = dir.filePath(QStringLiteral("rsync/") + tag);
                    took = rsync.copy(source, tag);
                    break;
                }
                const bool same = took > 0 && sameTree(source, target);
                Figures& f = figures[int(tool)];
                f.allIdentical = f.allIdentical && same;
                const double filesPerSecond = took > 0 ? set.files / took : 0;
                const double rate = megabytesPerSecond(set.bytes(), took);
                const bool nodes = tool == Tool::Nodes;
                if (same) {
                    f.bestFilesPerSecond = std::max(f.bestFilesPerSecond, filesPerSecond);
                    f.bestMegabytesPerSecond = std::max(f.bestMegabytesPerSecond, rate);
                }
                if (nodes) {
                    f.senderCpuPerFile = std::min(f.senderCpuPerFile, senderCpu * 1e6 / set.files);
                    f.receiverCpuPerFile =
                        std::min(f.receiverCpuPerFile, receiverCpu * 1e6 / set.files);
                    f.peakResident = std::max({f.peakResident, senderPeak, receiverPeak});
                }
                // CPU time of each node per file, in microseconds.
                const QString memory = nodes ? QStringLiteral("%1 MB %2 MB %3s %4s %5us %6us")
                                                   .arg(megabytes(senderPeak), 11)
                                                   .arg(megabytes(receiverPeak), 11)
                                                   .arg(senderCpu, 8, 'f', 2)
                                                   .arg(receiverCpu, 8, 'f', 2)
                                                   .arg(senderCpu * 1e6 / set.files, 7, 'f', 1)
                                                   .arg(receiverCpu * 1e6 / set.files, 7, 'f', 1)
                                             : QString();
                std::printf("%-5d %-32s %8.2f %9.0f %8.1f %s%s\n", round, toolName(tool), took,
                            filesPerSecond, rate, qPrintable(memory), same ? "" : "  FAILED");
                std::fflush(stdout);
            }
        }
        const Figures& nodes = figures[int(Tool::Nodes)];
        const Figures& rsyncFigures = figures[int(Tool::Rsync)];
        std::printf("best of %d, files/s (MB/s):", rounds);
        for (Tool tool : {Tool::Nodes, Tool::Tar, Tool::Rsync}) {
            const Figures& f = figures[int(tool)];
            std::printf("  %s %.0f (%.1f)%s",
                        tool == Tool::Nodes ? "nodes"
                        : tool == Tool::Tar ? "tar"
                                            : "rsync",
                        f.bestFilesPerSecond, f.bestMegabytesPerSecond,
                        f.allIdentical ? "" : " FAILED");
            allIdentical = allIdentical && f.allIdentical;
        }
        std::printf("\n");
        const double ofRsync = rsyncFigures.bestFilesPerSecond > 0
                                   ? nodes.bestFilesPerSecond / rsyncFigures.bestFilesPerSecond
                                   : 0;
        const auto verdict = [&allMet](bool met) {
            allMet = allMet && met;
            return met ? "met" : "MISSED";
        };
        if (set.name == u"small") {
            std::printf("nodes / rsync daemon: %.2f (target >= %.2f: %s)\n", ofRsync, SmallOfRsync,
                        verdict(ofRsync >= SmallOfRsync));
            std::printf("nodes: %.0f files/s (target >= %.0f: %s)\n", nodes.bestFilesPerSecond,
                        SmallFilesPerSecond,
                        verdict(nodes.bestFilesPerSecond >= SmallFilesPerSecond));
            std::printf("CPU per file, best round: sender %.1f us, receiver %.1f us "
                        "(target <= %.0f each: %s)\n",
                        nodes.senderCpuPerFile, nodes.receiverCpuPerFile, CpuPerFileUs,
                        verdict(nodes.senderCpuPerFile <= CpuPerFileUs &&
                                nodes.receiverCpuPerFile <= CpuPerFileUs));
        } else if (set.name == u"large") {
            std::printf("nodes / rsync daemon: %.2f (target >= %.2f: %s)\n", ofRsync, LargeOfRsync,
                        verdict(ofRsync >= LargeOfRsync));
        } else {
            std::printf("nodes / rsync daemon: %.2f\n", ofRsync);
        }
        std::printf("peak resident memory of a node: %s MB (target < %s MB: %s)\n",
                    qPrintable(megabytes(nodes.peakResident)),
                    qPrintable(megabytes(PeakResidentBytes)),
                    verdict(nodes.peakResident > 0 && nodes.peakResident < PeakResidentBytes));
        std::fflush(stdout);
    }
    std::printf("\nall targets: %s\n", allMet ? "met" : "MISSED");
    std::printf("copies identical to their sources: %s\n", allIdentical ? "yes" : "NO");
    return allIdentical ? 0 : 1;
}

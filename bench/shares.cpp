// Share browsing between two programs on 127.0.0.1: the owner is a headless
// node process (its peak memory is read from /proc), the viewer a program in
// this process that counts the entries it receives. Beside them, in the same
// run, `find` over the same trees:
// - a first listing of a folder of N files of 4 KiB (every entry carries the
//   file's HeadCrc), against `find DIR -maxdepth 1 -printf '%s %T@'`;
// - the same listing again, against the same `find`;
// - a recursive search for *7* over M entries in nested folders, against
//   `find TREE -iname '*7*'`.
//
//   bench_shares [--files N] [--entries M] [--dir DIR]
//
// Defaults: N = 10000, M = 100000, DIR the system's temporary folder.

#include "messenger/messengercontroller.h"
#include "nodebench.h"
#include "profile/profilestore.h"
#include "quietui.h"
#include "shares/sharebrowsing.h"
#include "transfers/transfermanager.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHostAddress>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

using namespace nodebench;

namespace {

class Viewer : public QuietUi, public ShareBrowsingUi, public BrowserView
{
public:
    RemoteBrowser* browser = nullptr;
    int ended = 0;

    BrowserView* browserOpened(BrowseId, RemoteBrowser& b) override
    {
        browser = &b;
        return this;
    }
    void browserClosing(BrowseId, RemoteBrowser&) override { browser = nullptr; }
    void rowsReset() override {}
    void rowsAppended(int) override {}
    void statusChanged(const QString&) override {}
    void stateChanged() override {}
    void listEnded() override { ++ended; }
};

bool waitFor(const std::function<bool()>& done, int timeoutMs = 120000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QEventLoop loop;
        QTimer::singleShot(1, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

bool writeFiles(const QString& folder, int count, int size, const QString& prefix)
{
    if (!QDir().mkpath(folder))
        return false;
    QByteArray content(size, 'x');
    for (int i = 0; i < count; ++i) {
        if (size > 0)
            content[0] = char(i);
        QFile f(folder + QStringLiteral("/%1%2").arg(prefix).arg(i));
        if (!f.open(QIODevice::WriteOnly) || f.write(content) != size)
            return false;
    }
    return true;
}

// `find` over the tree, counting output lines; seconds, and the count.
double timeFind(const QString& arguments, qint64& lines)
{
    QElapsedTimer timer;
    timer.start();
    QProcess p;
    p.start(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("find ") + arguments});
    p.waitForFinished(600000);
    const double s = double(timer.nsecsElapsed()) / 1e9;
    lines = p.readAllStandardOutput().count('\n');
    return s;
}

// Runs one browser request and times it to the end of its listing.
double timeListing(Viewer& ui, const std::function<void(RemoteBrowser&)>& request, qint64& rows)
{
    const int before = ui.ended;
    QElapsedTimer timer;
    timer.start();
    request(*ui.browser);
    if (!waitFor([&] { return ui.ended > before; }))
        return -1;
    const double s = double(timer.nsecsElapsed()) / 1e9;
    rows = ui.browser->rows().size();
    return s;
}

void report(const char* what, qint64 entries, double seconds, qint64 baseEntries,
            double baseSeconds)
{
    std::printf("%-34s %8lld entries %8.3f s %10.0f entries/s   find: %8lld lines %8.3f s "
                "%10.0f lines/s\n",
                what, (long long)entries, seconds, entries / seconds, (long long)baseEntries,
                baseSeconds, baseEntries / baseSeconds);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("files"), QStringLiteral("files of 4 KiB"),
                      QStringLiteral("N"), QStringLiteral("10000")});
    parser.addOption({QStringLiteral("entries"), QStringLiteral("entries searched"),
                      QStringLiteral("M"), QStringLiteral("100000")});
    parser.addOption({QStringLiteral("dir"), QStringLiteral("work folder"), QStringLiteral("DIR"),
                      QDir::tempPath()});
    parser.process(app);
    const int files = parser.value(QStringLiteral("files")).toInt();
    const int entries = parser.value(QStringLiteral("entries")).toInt();
    QTemporaryDir work(parser.value(QStringLiteral("dir")) +
                       QStringLiteral("/bench_shares-XXXXXX"));
    const QString root = QDir(work.path()).canonicalPath();

    // The trees.
    const QString flat = root + QStringLiteral("/share/flat");
    const QString tree = root + QStringLiteral("/share/tree");
    if (!writeFiles(flat, files, 4096, QStringLiteral("f")))
        return 1;
    // Nested: folders of 100 empty files, 10 per parent folder.
    int made = 0;
    for (int a = 0; made < entries; ++a) {
        for (int b = 0; b < 10 && made < entries; ++b) {
            const QString folder = tree + QStringLiteral("/a%1/b%2").arg(a).arg(b);
            const int n = std::min(100, entries - made);
            if (!writeFiles(folder, n, 0, QStringLiteral("e")))
                return 1;
            made += n + 1;
        }
        ++made;
    }

    // The owner node and the viewer here.
    Node owner(nodeExecutable());
    if (!owner.start(root + QStringLiteral("/owner"), QStringLiteral("Owner")))
        return 1;
    ThreadRegistry registry;
    Viewer ui;
    ui.name = QStringLiteral("Viewer");
    const QString folder = root + QStringLiteral("/viewer/Profiles/u/");
    QDir().mkpath(folder);
    {
        ProfileStore store(folder, nullptr);
        Settings s = Settings::defaults();
        s.connectAllOnStartup = 0;
        s.dynamicIp = 0;
        store.writeSettings(s);
        Identity own = DefaultIdentity();
        own.name.setText(QStringLiteral("Viewer"));
        store.writeMyInfo(own);
    }
    auto controller = std::make_unique<MessengerController>(&ui, &ui, registry);
    controller->setProfileFolder(folder);
    controller->setListenAddress(QHostAddress::LocalHost);
    controller->setPortOverride(0);
    auto manager = std::make_unique<TransferManager>(*controller, &ui);
    manager->attach();
    auto shares = std::make_unique<ShareBrowsing>(*controller, *manager, &ui);
    shares->attach();
    controller->start();
    controller->AddContact(QStringLiteral("127.0.0.1"), owner.port(), QByteArray(), QByteArray());
    if (owner.waitForLine(QRegularExpression(QStringLiteral("^event New Contact Viewer ")))
            .isEmpty() ||
        owner.command(QStringLiteral("share Viewer ") + root + QStringLiteral("/share")) != u"ok")
        return 1;
    Contact* o = nullptr;
    if (!waitFor([&] {
            const QList<Contact*> list = controller->contacts();
            o = list.isEmpty() ? nullptr : list.first();
            return o && o->peerShares == 1;
        }) ||
        !controller->ViewRemoteShares(o->uid.bytes()) ||
        !waitFor([&] { return ui.browser && ui.ended == 1; }))
        return 1;
    const qint64 ownerBefore = owner.peakResident();

    std::printf("bench_shares: %d files of 4 KiB, %d nested entries, owner node pid %lld\n", files,
                made, (long long)owner.pid());
    qint64 rows = 0, lines = 0;
    const QString findFlat = flat + QStringLiteral(" -mindepth 1 -maxdepth 1 -printf '%s %T@\\n'");
    // First listing: every HeadCrc is read.
    double t = timeListing(
        ui, [&](RemoteBrowser& b) { b.openFolder(QFile::encodeName(flat)); }, rows);
    double f = timeFind(findFlat, lines);
    report("first listing (HeadCrc read)", rows, t, lines, f);
    // The same folder again: HeadCrc from the cache.
    t = timeListing(
        ui, [](RemoteBrowser& b) { b.refresh(); }, rows);
    f = timeFind(findFlat, lines);
    report("repeated listing (HeadCrc cached)", rows, t, lines, f);
    // The recursive search.
    ui.browser->back();
    ui.browser->setSearchSubDirs(true);
    ui.browser->setMatchExactly(true);
    const QString findTree = tree + QStringLiteral(" -iname '*7*'");
    f = timeFind(findTree, lines);
    t = timeListing(
        ui, [&](RemoteBrowser& b) { b.openFolder(QFile::encodeName(tree)); }, rows);
    t = timeListing(
        ui, [](RemoteBrowser& b) { b.search(QStringLiteral("*7*")); }, rows);
    report("recursive search *7*", rows, t, lines, f);
    std::printf("search rate / find rate: %.2f (needs >= 0.5)\n", (rows / t) / (lines / f));
    std::printf("owner peak resident: %s (after start-up %s; needs < 100 MB)\n",
                qPrintable(megabytes(owner.peakResident())), qPrintable(megabytes(ownerBefore)));

    bool exited = false;
    QObject::connect(controller.get(), &MessengerController::exited, [&] { exited = true; });
    controller->Exit();
    waitFor([&] { return exited; }, 30000);
    shares.reset();
    manager.reset();
    controller.reset();
    owner.quit();
    return 0;
}

#include "app/singleinstance.h"
#include "app/startup.h"
#include "nethelpers/updatelogic.h"
#include "node/console.h"
#include "node/node.h"
#include "node/signalwatcher.h"
#include "node/stdinreader.h"
#include "profile/profilefolder.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <csignal>
#include <cstdio>
#include <memory>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Zephlink P2P"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ZEPHLINK_VERSION));

    QString error;
    bool exitNow = false;
    const std::optional<NodeOptions> options =
        NodeOptions::parse(QCoreApplication::arguments(), error, exitNow);
    if (!options) {
        const QByteArray text = error.toUtf8();
        std::fputs(text.constData(), exitNow ? stdout : stderr);
        if (!exitNow)
            std::fputs("\n", stderr);
        return exitNow ? 0 : 2;
    }

    // Standard error stays quiet unless asked; QT_LOGGING_RULES still wins.
    if (!options->verbose)
        QLoggingCategory::setFilterRules(QStringLiteral("zephlink.*.debug=false"));

    // A reader that went away must not end the node in the middle of a write.
    std::signal(SIGPIPE, SIG_IGN);

    Console console;

    // One program per profile: two would write the same files.
    const QString profileFolder = ProfileFolder(options->home);
    auto instance = std::make_unique<SingleInstance>(profileFolder);
    if (!instance->tryBecomePrimary()) {
        const QByteArray text =
            (QStringLiteral("zephlink-node: another Zephlink P2P program is "
                            "running on the profile ") +
             profileFolder + QStringLiteral("; it was asked to restore itself\n"))
                .toUtf8();
        std::fputs(text.constData(), stderr);
        return 3;
    }
    QObject::connect(instance.get(), &SingleInstance::restoreRequested,
                     [&console] { console.print(u"restore"); });

    Node node(*options, console);
    QObject::connect(&node, &Node::finished, &app, &QCoreApplication::exit);

    SignalWatcher watcher;
    QObject::connect(&watcher, &SignalWatcher::received, &node, &Node::quit);
    if (!watcher.install())
        std::fputs("zephlink-node: cannot watch SIGINT and SIGTERM\n", stderr);

    node.start();

    // Commands only once the profile is loaded. The end of the input does
    // not end the node: a service runs with its input closed.
    StdinReader input;
    QObject::connect(&input, &StdinReader::lineRead, &node, &Node::execute);
    input.start();

    const int exitCode = app.exec();

    // A finished update takes the program's place now that the exit work is
    // done; the new program starts on the same profile, so this one lets go
    // of the profile first.
    if (!pendingUpdatePath().isEmpty()) {
        instance.reset();
        PerformPendingSwap(QCoreApplication::applicationFilePath(), pendingUpdatePath(),
                           pendingUpdateVersion(), DataRoot(options->home),
                           QCoreApplication::arguments().mid(1));
    }
    return exitCode;
}

#include "node/node.h"

#include "messenger/messengercontroller.h"
#include "node/console.h"
#include "node/nodelog.h"
#include "profile/profilefolder.h"

#include <QCommandLineParser>

Q_LOGGING_CATEGORY(lcNode, "zephlink.node")

std::optional<NodeOptions> NodeOptions::parse(const QStringList& arguments, QString& error,
                                              bool& exitNow)
{
    exitNow = false;
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Zephlink P2P headless node: the messenger driven by commands on "
                       "standard input, events on standard output."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption home(QStringLiteral("home"),
                                  QStringLiteral("Data root (instead of $ZEPHLINK_HOME)."),
                                  QStringLiteral("dir"));
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("Own data port, stored in the profile "
                                                 "(0 picks a free one)."),
                                  QStringLiteral("n"));
    const QCommandLineOption name(QStringLiteral("name"),
                                  QStringLiteral("Screen name given at the first start."),
                                  QStringLiteral("name"));
    const QCommandLineOption listen(QStringLiteral("listen"),
                                    QStringLiteral("Address the listener binds (default: all)."),
                                    QStringLiteral("address"));
    const QCommandLineOption staticIp(QStringLiteral("static-ip"),
                                      QStringLiteral("Answer the first-start Dynamic IP "
                                                     "question No."));
    const QCommandLineOption minimized(QStringLiteral("m"),
                                       QStringLiteral("Start the automatic work (connecting "
                                                      "to all contacts) after 30 seconds."));
    const QCommandLineOption verbose(QStringLiteral("verbose"),
                                     QStringLiteral("Debug messages on standard error."));
    parser.addOptions({home, port, name, listen, staticIp, minimized, verbose});

    if (!parser.parse(arguments)) {
        error = parser.errorText();
        return std::nullopt;
    }
    if (parser.isSet(help) || parser.isSet(version)) {
        exitNow = true;
        error = parser.isSet(help) ? parser.helpText()
                                   : QStringLiteral("zephlink-node " ZEPHLINK_VERSION "\n");
        return std::nullopt;
    }
    if (!parser.positionalArguments().isEmpty()) {
        error = QStringLiteral("Unexpected argument: ") + parser.positionalArguments().first();
        return std::nullopt;
    }

    NodeOptions options;
    options.home = parser.value(home);
    if (parser.isSet(port)) {
        bool ok = false;
        options.port = parser.value(port).toInt(&ok);
        if (!ok || options.port < 0 || options.port > 65535) {
            error = QStringLiteral("Bad port: ") + parser.value(port);
            return std::nullopt;
        }
    }
    options.name = parser.value(name);
    if (parser.isSet(listen) && !options.listenAddress.setAddress(parser.value(listen))) {
        error = QStringLiteral("Bad listen address: ") + parser.value(listen);
        return std::nullopt;
    }
    options.staticIp = parser.isSet(staticIp);
    options.minimizedStart = parser.isSet(minimized);
    options.verbose = parser.isSet(verbose);
    return options;
}

Node::Node(const NodeOptions& options, Console& console, QObject* parent)
    : QObject(parent), m_console(console),
      m_ui(console, NodeUi::Answers{!options.staticIp, options.name}),
      m_controller(std::make_unique<MessengerController>(&m_ui, &m_ui))
{
    m_controller->setProfileFolder(ProfileFolder(options.home));
    m_controller->setMinimizedStart(options.minimizedStart);
    m_controller->setListenAddress(options.listenAddress);
    if (options.port >= 0)
        m_controller->setPortOverride(options.port);
    // No idle source: a node has no cursor and never turns Idle by itself.
    m_commands = std::make_unique<NodeCommands>(*m_controller, console);
    m_transfers = std::make_unique<NodeTransfers>(*m_controller, *m_commands, console);
    m_shares =
        std::make_unique<NodeShares>(*m_controller, m_transfers->manager(), *m_commands, console);
    // The update's Restart runs the exit sequence; the swap follows in main.
    m_netHelpers =
        std::make_unique<NodeNetHelpers>(*m_controller, *m_commands, console, [this] { quit(); });

    connect(m_controller.get(), &MessengerController::listening, this, [this](quint16 port) {
        // A listener that comes up while the node exits is no news.
        if (!m_controller->isExiting())
            m_console.print(u"listening", QString::number(port));
    });
    connect(m_controller.get(), &MessengerController::exited, this, [this] { emit finished(0); });
}

Node::~Node() = default;

void Node::start()
{
    m_controller->start();
    qCDebug(lcNode) << "profile folder" << m_controller->profileStore().folder();
}

void Node::execute(const QString& line)
{
    m_commands->execute(line);
}

void Node::quit()
{
    if (m_controller->isExiting()) {
        qCDebug(lcNode) << "already exiting";
        return;
    }
    m_controller->Exit();
}

#pragma once

#include "node/nodecommands.h"
#include "node/nodenethelpers.h"
#include "node/nodeshares.h"
#include "node/nodetransfers.h"
#include "node/nodeui.h"

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class Console;
class MessengerController;

// What the node's command line chooses.
struct NodeOptions
{
    QString home;                // data root; empty: $ZEPHLINK_HOME or the standard folder
    int port = -1;               // own data port; 0 picks a free one; -1 keeps the stored one
    QString name;                // answers the first-start screen name prompt
    bool minimizedStart = false; // "-m": automatic work after 30 seconds
    bool staticIp = false;       // answers the first-start Dynamic IP question No
    bool verbose = false;        // debug messages on standard error
    QHostAddress listenAddress = QHostAddress(QHostAddress::Any);

    // Parses the program's arguments (the first is the program); on failure
    // returns nothing and sets error. --help and --version set exitNow and
    // put their text into error.
    static std::optional<NodeOptions> parse(const QStringList& arguments, QString& error,
                                            bool& exitNow);
};

// The headless node: the messenger controller on its profile, with the
// console as its user interface and the console commands to drive it.
class Node : public QObject
{
    Q_OBJECT
public:
    Node(const NodeOptions& options, Console& console, QObject* parent = nullptr);
    ~Node() override;

    // Loads the profile, starts the listener and the automatic work.
    void start();
    // One command line.
    void execute(const QString& line);
    // The exit sequence, as `quit` runs it; finished() follows. Asking again
    // while it runs changes nothing.
    void quit();

    MessengerController& controller() { return *m_controller; }
    NodeCommands& commands() { return *m_commands; }
    NodeNetHelpers& netHelpers() { return *m_netHelpers; }

signals:
    // The exit sequence has finished; the process ends with this code.
    void finished(int exitCode);

private:
    Console& m_console;
    NodeUi m_ui;
    std::unique_ptr<MessengerController> m_controller;
    std::unique_ptr<NodeCommands> m_commands;
    // Goes before the controller it is attached to.
    std::unique_ptr<NodeTransfers> m_transfers;
    // Plugged in behind the transfers; goes before them.
    std::unique_ptr<NodeShares> m_shares;
    // The router and update helpers the controller's start-up hooks call.
    std::unique_ptr<NodeNetHelpers> m_netHelpers;
};

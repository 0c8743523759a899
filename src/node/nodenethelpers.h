#pragma once

#include "nethelpers/iphelper.h"
#include "nethelpers/updatelogic.h"
#include "nethelpers/upnpsocket.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class Console;
class MessengerController;
class NodeCommands;

// The router, IP and update helpers of the node: the console commands
// `router`, `myip` and `update`, the automatic update check and router step
// at start-up, and the lines they print:
//   router <log line>
//   myip <label> <value>           (the four facts; the Internet IP again when known)
//   update <caption>: <message>    (once the update window would be shown)
class NodeNetHelpers : public QObject, public UpnpLog, public UpdateUi
{
    Q_OBJECT
public:
    // exitRequested runs when the update's Restart asks the program to exit.
    NodeNetHelpers(MessengerController& controller, NodeCommands& commands, Console& console,
                   std::function<void()> exitRequested);
    ~NodeNetHelpers() override;

    CUPNPSocket& router() { return m_router; }
    UpdateLogic& update() { return m_update; }

    // --- UpnpLog ---
    void upnpStatus(const QString& line, bool clear) override;
    // --- UpdateUi ---
    void updateMessageChanged(const QString&) override { schedulePrint(); }
    void updateButtonChanged(const QString&, bool) override { schedulePrint(); }
    void updateProgressChanged(int) override {}
    void showUpdateWindow() override;
    void hideUpdateWindow() override {}
    void exitRequested() override;

private:
    class IpLines;

    void addCommands(NodeCommands& commands);
    void schedulePrint();
    void printUpdate();

    MessengerController& m_controller;
    Console& m_console;
    std::function<void()> m_exitRequested;
    CUPNPSocket m_router;
    UpdateLogic m_update;
    std::vector<std::unique_ptr<IpLines>> m_ipLookups;
    // A console has no window to hide: once shown, every change is printed.
    bool m_updateShown = false;
    bool m_printScheduled = false;
    QString m_lastUpdateLine;
};

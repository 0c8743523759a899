#pragma once

#include "node/nodecommands.h"
#include "shares/sharebrowsing.h"

#include <QObject>

#include <memory>

class Console;
class MessengerController;
class TransferManager;

// The node's shared folders: the share and browse commands, and the
// console as the view of the browser opened last. Every received entry
// prints "entry <F|D> <size> <time> <path>" (time in seconds since 1970),
// the end of a listing "end <count> <directory>", a send result
// "result <code> <text>", a browser opening "browse <title>".
//
// Create it after the transfers (it plugs in behind them) and destroy it
// before them.
class NodeShares : public QObject, public ShareBrowsingUi, public BrowserView
{
    Q_OBJECT
public:
    NodeShares(MessengerController& controller, TransferManager& transfers, NodeCommands& commands,
               Console& console);
    ~NodeShares() override;

    ShareBrowsing& browsing() { return *m_browsing; }

    // --- ShareBrowsingUi ---
    BrowserView* browserOpened(BrowseId session, RemoteBrowser& browser) override;
    void browserClosing(BrowseId session, RemoteBrowser& browser) override;

    // --- BrowserView (the current browser) ---
    void rowsReset() override {}
    void rowsAppended(int first) override;
    void statusChanged(const QString&) override {}
    void stateChanged() override {}
    void listEnded() override;
    void sendResult(int code) override;

private:
    void addCommands();
    CommandReply share(QStringView arguments);
    CommandReply unshare(QStringView arguments);
    CommandReply editShares(QStringView arguments, bool add);
    CommandReply shares(QStringView arguments);
    CommandReply sharing(QStringView arguments);
    CommandReply peers(QStringView arguments);
    CommandReply browse(QStringView arguments);
    CommandReply ls(QStringView arguments);
    CommandReply search(QStringView arguments);
    CommandReply navigate(QStringView arguments, void (RemoteBrowser::*step)());
    CommandReply get(QStringView arguments);
    CommandReply browsingRows(QStringView arguments);
    CommandReply kick(QStringView arguments);

    RemoteBrowser* current(QString& error) const;
    // Prints the rows from `first` on.
    void printRows(const RemoteBrowser& browser, int first);
    void printEnd(const RemoteBrowser& browser);

    MessengerController& m_controller;
    NodeCommands& m_commands;
    Console& m_console;
    std::unique_ptr<ShareBrowsing> m_browsing;
    BrowseId m_current = 0;
};

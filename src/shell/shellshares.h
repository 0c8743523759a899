#pragma once

#include "shares/sharebrowsing.h"

#include <QObject>
#include <QPointer>

#include <map>
#include <memory>

class CBrowseDlg;
class MessengerController;
class TransferManager;

// The desktop's shared folders: the browse sessions, and one browser window
// per session in which we view. A window opens centred and in front when
// its session opens the browser; closing it ends the session; the session
// ending (either side) deletes it.
//
// Create it after the transfer manager's attach() and before the
// controller starts; destroy it before the transfer manager.
class ShellShares : public QObject, public ShareBrowsingUi
{
    Q_OBJECT
public:
    ShellShares(MessengerController& controller, TransferManager& transfers,
                QObject* parent = nullptr);
    ~ShellShares() override;

    ShareBrowsing& browsing() { return *m_browsing; }
    // The window of a session; null when there is none.
    CBrowseDlg* window(BrowseId session) const;

    // --- ShareBrowsingUi ---
    BrowserView* browserOpened(BrowseId session, RemoteBrowser& browser) override;
    void browserClosing(BrowseId session, RemoteBrowser& browser) override;

signals:
    void windowOpened(CBrowseDlg* window);

private:
    std::unique_ptr<ShareBrowsing> m_browsing;
    std::map<BrowseId, QPointer<CBrowseDlg>> m_windows;
};

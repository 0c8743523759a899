#pragma once

#include "shares/browsehost.h"
#include "shares/browsesessions.h"
#include "shares/remotebrowser.h"

#include <QObject>

#include <map>
#include <memory>

class MessengerController;
class TransferManager;

// Whoever shows the browsers (the windows, or the console).
class ShareBrowsingUi
{
public:
    virtual ~ShareBrowsingUi() = default;
    // A browse session opened its browser; the view returned (may be null)
    // shows it from now on.
    virtual BrowserView* browserOpened(BrowseId session, RemoteBrowser& browser) = 0;
    // The session ended; the browser is deleted after this call.
    virtual void browserClosing(BrowseId session, RemoteBrowser& browser) = 0;
};

// The shared folders of one program: browse sessions on both sides, wired
// to the messenger controller (identities, names, shared paths, browsing
// notices, "Kick User") and to the transfer manager (send requests), and
// the browsers of the sessions in which we view.
//
// Lives on the main thread. attach() after the transfer manager's attach()
// and before the controller starts.
class ShareBrowsing : public QObject, public BrowseHost
{
    Q_OBJECT
public:
    ShareBrowsing(MessengerController& controller, TransferManager& transfers,
                  ShareBrowsingUi* ui = nullptr, QObject* parent = nullptr);
    ~ShareBrowsing() override;

    // Listener kind 2, chat Browse requests, the controller's browse ender.
    void attach();

    BrowseSessions& sessions() { return *m_sessions; }
    // The browser of a viewing session; null when it has none (any more).
    RemoteBrowser* browser(BrowseId session) const;
    // Closing a browser ends its session.
    void closeBrowser(BrowseId session);

    // --- BrowseHost ---
    Identity ownIdentity() override;
    std::optional<QString> peerName(const QByteArray& uid) override;
    QList<QByteArray> sharedPathsFor(const QByteArray& uid) override;
    int sendRequested(const QByteArray& path, const QByteArray& uid) override;
    void browsingStarted(BrowseId session, const QByteArray& uid) override;
    void browsingEnded(BrowseId session) override;
    void browserOpened(BrowseId session, const QString& title) override;
    void entriesArrived(BrowseId session, const QList<ShareEntry>& entries) override;
    void listEnded(BrowseId session) override;
    void sendResultArrived(BrowseId session, int code) override;
    void browserClosed(BrowseId session) override;

private:
    struct Open;

    MessengerController& m_controller;
    TransferManager& m_transfers;
    ShareBrowsingUi* m_ui;
    std::unique_ptr<BrowseSessions> m_sessions;
    std::map<BrowseId, std::unique_ptr<Open>> m_open;
    bool m_attached = false;
};

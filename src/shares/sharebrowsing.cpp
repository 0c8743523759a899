#include "shares/sharebrowsing.h"

#include "messenger/messengercontroller.h"
#include "transfers/filesessions.h"
#include "transfers/transfermanager.h"
#include "transport/listenthread.h"

#include <QFile>

namespace {

// A browser's requests, delivered to its session.
class SessionRequests : public BrowseRequests
{
public:
    SessionRequests(BrowseSessions& sessions, BrowseId id) : m_sessions(sessions), m_id(id) {}
    void stop() override { m_sessions.requestStop(m_id); }
    void listRoots() override { m_sessions.requestRoots(m_id); }
    void listFolder(const QByteArray& path) override { m_sessions.requestFolder(m_id, path); }
    void search(const QByteArray& pattern, const QByteArray& path, bool subFolders) override
    {
        m_sessions.requestSearch(m_id, pattern, path, subFolders);
    }
    void sendRequest(const QByteArray& path) override { m_sessions.requestSend(m_id, path); }

private:
    BrowseSessions& m_sessions;
    BrowseId m_id;
};

} // namespace

struct ShareBrowsing::Open
{
    Open(BrowseSessions& sessions, BrowseId id, const QString& title)
        : requests(sessions, id), browser(title, requests)
    {}
    SessionRequests requests;
    RemoteBrowser browser;
};

ShareBrowsing::ShareBrowsing(MessengerController& controller, TransferManager& transfers,
                             ShareBrowsingUi* ui, QObject* parent)
    : QObject(parent), m_controller(controller), m_transfers(transfers), m_ui(ui),
      m_sessions(std::make_unique<BrowseSessions>(*this, controller.threadRegistry()))
{}

ShareBrowsing::~ShareBrowsing()
{
    if (m_attached)
        m_controller.setBrowseEnder({});
    m_sessions.reset();
    for (auto& [id, open] : m_open) {
        if (m_ui)
            m_ui->browserClosing(id, open->browser);
    }
    m_open.clear();
}

void ShareBrowsing::attach()
{
    m_attached = true;
    const SessionFactory accepted = m_sessions->acceptedSessionFactory();
    m_controller.addListenerSetup([accepted](CListenThread& listener) {
        listener.setSessionFactory(ConnectionHello::Browse, accepted);
    });
    m_controller.chatSessions().setDataSessionStarter(
        m_sessions->dataSessionStarter(m_transfers.fileSessions().dataSessionStarter()));
    m_controller.setBrowseEnder([this](quint64 session) { m_sessions->end(session); });
}

RemoteBrowser* ShareBrowsing::browser(BrowseId session) const
{
    auto it = m_open.find(session);
    return it == m_open.end() ? nullptr : &it->second->browser;
}

void ShareBrowsing::closeBrowser(BrowseId session)
{
    m_sessions->end(session);
}

Identity ShareBrowsing::ownIdentity()
{
    return m_controller.identityForPeer(nullptr);
}

std::optional<QString> ShareBrowsing::peerName(const QByteArray& uid)
{
    const Contact* c = m_controller.findContact(uid);
    if (!c)
        return std::nullopt;
    return DisplayName(*c);
}

QList<QByteArray> ShareBrowsing::sharedPathsFor(const QByteArray& uid)
{
    return m_controller.EffectiveSharedPaths(uid);
}

int ShareBrowsing::sendRequested(const QByteArray& path, const QByteArray& uid)
{
    // A peer not in the list gets nothing sent.
    if (!m_controller.findContact(uid))
        return SendRefused;
    return m_transfers.QueueRequestedSend(QFile::decodeName(path), uid);
}

void ShareBrowsing::browsingStarted(BrowseId session, const QByteArray& uid)
{
    m_controller.BrowsingStarted(session, uid);
}

void ShareBrowsing::browsingEnded(BrowseId session)
{
    m_controller.BrowsingEnded(session);
}

void ShareBrowsing::browserOpened(BrowseId session, const QString& title)
{
    auto open = std::make_unique<Open>(*m_sessions, session, title);
    RemoteBrowser& browser = open->browser;
    m_open[session] = std::move(open);
    if (m_ui) {
        if (BrowserView* view = m_ui->browserOpened(session, browser))
            browser.setView(view);
    }
    m_controller.SharesConnected(title);
    browser.start();
}

void ShareBrowsing::entriesArrived(BrowseId session, const QList<ShareEntry>& entries)
{
    if (RemoteBrowser* b = browser(session))
        b->addEntries(entries);
}

void ShareBrowsing::listEnded(BrowseId session)
{
    if (RemoteBrowser* b = browser(session))
        b->endOfList();
}

void ShareBrowsing::sendResultArrived(BrowseId session, int code)
{
    if (RemoteBrowser* b = browser(session))
        b->sendResult(code);
}

void ShareBrowsing::browserClosed(BrowseId session)
{
    auto it = m_open.find(session);
    if (it == m_open.end())
        return;
    std::unique_ptr<Open> open = std::move(it->second);
    m_open.erase(it);
    if (m_ui)
        m_ui->browserClosing(session, open->browser);
}

#include "shell/shellshares.h"

#include "shell/browsedlg.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTimer>

ShellShares::ShellShares(MessengerController& controller, TransferManager& transfers,
                         QObject* parent)
    : QObject(parent), m_browsing(std::make_unique<ShareBrowsing>(controller, transfers, this))
{
    m_browsing->attach();
}

ShellShares::~ShellShares()
{
    // The sessions end first; their windows go with them.
    m_browsing.reset();
    for (auto& [id, window] : m_windows)
        delete window.data();
}

CBrowseDlg* ShellShares::window(BrowseId session) const
{
    const auto it = m_windows.find(session);
    return it == m_windows.end() ? nullptr : it->second.data();
}

BrowserView* ShellShares::browserOpened(BrowseId session, RemoteBrowser& browser)
{
    auto* dlg = new CBrowseDlg(browser, [this, session] {
        // Closing the window ends the session, which then deletes the window.
        QTimer::singleShot(0, this, [this, session] { m_browsing->closeBrowser(session); });
    });
    m_windows[session] = dlg;
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect r = dlg->frameGeometry();
        r.moveCenter(screen->availableGeometry().center());
        dlg->move(r.topLeft());
    }
    dlg->show();
    dlg->raise();
    dlg->activateWindow();
    emit windowOpened(dlg);
    return dlg;
}

void ShellShares::browserClosing(BrowseId session, RemoteBrowser&)
{
    const auto it = m_windows.find(session);
    if (it == m_windows.end())
        return;
    if (CBrowseDlg* dlg = it->second.data()) {
        dlg->detach();
        dlg->hide();
        dlg->deleteLater();
    }
    m_windows.erase(it);
}

#include "shell/trayicon.h"

#include <QCursor>
#include <QMenu>
#include <QMenuBar>
#include <QSystemTrayIcon>
#include <QWidget>

CTrayIcon::CTrayIcon(QObject* parent) : QObject(parent) {}

CTrayIcon::~CTrayIcon()
{
    Remove();
}

bool CTrayIcon::available()
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void CTrayIcon::Create(QWidget* owner, const QIcon& icon, const QString& tip)
{
    m_owner = owner;
    m_tip = tip.left(127);
    if (!m_icon) {
        m_icon = new QSystemTrayIcon(this);
        connect(m_icon, &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason r) { activated(int(r)); });
    }
    m_icon->setIcon(icon);
    m_icon->setToolTip(m_tip);
    m_icon->show();
}

void CTrayIcon::SetIcon(const QIcon& icon)
{
    if (m_icon)
        m_icon->setIcon(icon);
}

void CTrayIcon::Remove()
{
    if (m_icon) {
        m_icon->hide();
        delete m_icon;
        m_icon = nullptr;
    }
}

bool CTrayIcon::visible() const
{
    return m_icon && m_icon->isVisible();
}

QMenu* CTrayIcon::buildMenu() const
{
    auto* menu = new QMenu;
    if (m_includeMainMenu && m_menuBar) {
        // The menu bar's own actions go into the copy: the same commands,
        // texts, check marks and enabled states.
        for (QAction* top : m_menuBar->actions()) {
            if (top->menu()) {
                QMenu* copy = menu->addMenu(top->text());
                for (QAction* item : top->menu()->actions())
                    copy->addAction(item);
            } else if (top->isSeparator() || top->text().isEmpty()) {
                menu->addSeparator();
            } else {
                menu->addAction(top);
            }
        }
        menu->addSeparator();
    }
    QAction* restore = menu->addAction(QStringLiteral("Restore"));
    connect(restore, &QAction::triggered, this, &CTrayIcon::restoreRequested);
    QAction* exit = menu->addAction(QStringLiteral("Exit"));
    connect(exit, &QAction::triggered, this, &CTrayIcon::exitRequested);
    menu->setDefaultAction(restore);
    return menu;
}

void CTrayIcon::showMenu()
{
    if (m_owner) {
        m_owner->raise();
        m_owner->activateWindow();
    }
    QMenu* menu = buildMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    connect(menu, &QMenu::aboutToHide, menu, &QObject::deleteLater);
    menu->popup(QCursor::pos());
}

void CTrayIcon::activated(int reason)
{
    switch (QSystemTrayIcon::ActivationReason(reason)) {
    case QSystemTrayIcon::Context:
        showMenu();
        break;
    case QSystemTrayIcon::DoubleClick:
        emit restoreRequested();
        break;
    default:
        break;
    }
}

void CTrayIcon::HideToTray()
{
    if (!m_owner)
        return;
    // Without a notification area the window goes to the task bar instead.
    if (available() && visible())
        m_owner->hide();
    else
        m_owner->showMinimized();
}

void CTrayIcon::RestoreFromTray()
{
    if (!m_owner)
        return;
    if (m_owner->isMinimized())
        m_owner->showNormal();
    else
        m_owner->show();
    m_owner->raise();
    m_owner->activateWindow();
}

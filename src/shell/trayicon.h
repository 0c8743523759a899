#pragma once

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QString>

class QAction;
class QMenu;
#include <QMenuBar>
class QSystemTrayIcon;
class QWidget;

// The program's icon in the notification area. Its menu is a copy of the
// owner's menu bar (with the current check marks), a separator, "Restore"
// (the default) and "Exit"; a double click restores the owner.
class CTrayIcon : public QObject
{
    Q_OBJECT
public:
    explicit CTrayIcon(QObject* parent = nullptr);
    ~CTrayIcon() override;

    // Adds the icon; the tip keeps its first 127 characters.
    void Create(QWidget* owner, const QIcon& icon, const QString& tip);
    // The window hidden and restored (also before the icon is added).
    void setOwner(QWidget* owner) { m_owner = owner; }
    void SetIcon(const QIcon& icon);
    void Remove();
    // The menu bar copied at the top of the tray menu (when includeMainMenu).
    void setMenuBar(QMenuBar* menuBar) { m_menuBar = menuBar; }
    void setIncludeMainMenu(bool on) { m_includeMainMenu = on; }

    // The tray menu as the right button opens it; the caller owns it.
    QMenu* buildMenu() const;

    // Hides the owner into the tray; shows, restores and raises it again.
    void HideToTray();
    void RestoreFromTray();

    QString tipText() const { return m_tip; }
    bool visible() const;
    // A notification area is there to hide into.
    static bool available();

signals:
    void restoreRequested(); // "Restore" and a double click (command 140)
    void exitRequested();    // "Exit" (command 141)

private:
    void activated(int reason);
    void showMenu();

    QPointer<QWidget> m_owner;
    QPointer<QMenuBar> m_menuBar;
    QSystemTrayIcon* m_icon = nullptr;
    QString m_tip;
    bool m_includeMainMenu = true;
};

#include "shell/screenshotter.h"

#include "messenger/messengercontroller.h"
#include "shell/anidlg.h"
#include "shell/chatdlg.h"
#include "shell/messengerdlg.h"
#include "shell/shellui.h"
#include "shell/splitters.h"
#include "shell/trayicon.h"

#include <QApplication>
#include <QDir>
#include <QGuiApplication>
#include <QMenu>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

namespace {

// One picture after another, each once the windows had time to settle.
class Runner : public QObject
{
public:
    Runner(ShellUi& ui, MessengerController& controller, const QString& folder)
        : QObject(&ui), m_ui(ui), m_controller(controller), m_folder(folder)
    {
        QDir().mkpath(folder);
        m_expected = qEnvironmentVariableIntValue("ZEPHLINK_SCREENSHOTS_CONTACTS");
        m_block = qEnvironmentVariable("ZEPHLINK_SCREENSHOTS_BLOCK");
        m_chat = qEnvironmentVariable("ZEPHLINK_SCREENSHOTS_CHAT");
        m_poll.setInterval(200);
        connect(&m_poll, &QTimer::timeout, this, &Runner::waitForContacts);
        m_poll.start();
        // Whatever happens, the program does not stay behind.
        QTimer::singleShot(60000, this, [this] { finish(); });
    }

private:
    Contact* named(const QString& name) const
    {
        for (Contact* c : m_controller.contacts()) {
            if (DisplayName(*c) == name)
                return c;
        }
        return nullptr;
    }

    void waitForContacts()
    {
        if (m_controller.contactCount() < m_expected)
            return;
        Contact* chat = named(m_chat);
        if (!chat || m_controller.history(*chat).isEmpty())
            return;
        m_poll.stop();
        if (Contact* blocked = named(m_block))
            m_controller.Block(*blocked);
        const QByteArray rtf =
            "{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1033{\\fonttbl{\\f0\\fnil\\fcharset0 "
            "Verdana;}}{\\colortbl ;\\red0\\green0\\blue0;\\red200\\green30\\blue30;\\red20\\green"
            "90\\blue200;}\r\n\\viewkind4\\uc1\\pard\\cf1\\f0\\fs28 Sure! The \\b draft\\b0  is in "
            "the \\i Shared\\i0  folder, I'll send the \\cf2\\b final version\\cf1\\b0  "
            "tonight.\\par\r\n\\cf3\\ul See you at 7?\\ulnone\\cf1\\par\r\n}\r\n";
        m_controller.SendFromChatWindow(*chat, rtf);
        // A size people use rather than the smallest one.
        CMessengerDlg* window = m_ui.mainWindow();
        window->resize(760, 500);
        window->verticalBar()->moveTo(window->centralWidget()->width() - 250);
        window->captureLayout();
        m_ui.mainWindow()->selectOnly(*chat);
        QTimer::singleShot(2500, this, &Runner::mainWindow);
    }

    void save(const QPixmap& pixmap, const char* name)
    {
        pixmap.save(QDir(m_folder).filePath(QString::fromLatin1(name)));
    }

    void mainWindow()
    {
        save(m_ui.mainWindow()->grab(), "main-window.png");
        if (Contact* chat = named(m_chat))
            m_ui.showChatWindowAndFocus(*chat);
        QTimer::singleShot(1000, this, &Runner::chatWindow);
    }

    void chatWindow()
    {
        if (Contact* chat = named(m_chat)) {
            if (CChatDlg* dlg = m_ui.chatWindow(*chat)) {
                save(dlg->grab(), "chat-window.png");
                dlg->hide();
            }
        }
        CMessengerDlg* window = m_ui.mainWindow();
        m_menu = window->trayIcon()->buildMenu();
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        m_menu->popup(QPoint(screen.right() - 420, screen.bottom() - 330));
        // The View submenu open, as a user pointing at it sees it.
        for (QAction* a : m_menu->actions()) {
            if (a->text() == QLatin1String("&View"))
                m_menu->setActiveAction(a);
        }
        QTimer::singleShot(1200, this, &Runner::trayMenu);
    }

    void trayMenu()
    {
        QRect area = m_menu->geometry();
        for (QMenu* sub : m_menu->findChildren<QMenu*>()) {
            if (sub->isVisible())
                area = area.united(sub->geometry());
        }
        const QList<QWidget*> tops = QApplication::topLevelWidgets();
        for (QWidget* w : tops) {
            if (auto* m = qobject_cast<QMenu*>(w); m && m->isVisible())
                area = area.united(m->geometry());
        }
        area.adjust(-4, -4, 4, 4);
        save(QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(),
                                                          area.height()),
             "tray-menu.png");
        m_menu->close();
        m_menu->deleteLater();
        Contact* chat = named(m_chat);
        m_ui.popup(chat ? DisplayName(*chat) : QStringLiteral("Bob"),
                   QStringLiteral("Sent a Message"), chat ? chat->uid.bytes() : QByteArray());
        QTimer::singleShot(1500, this, &Runner::popup);
    }

    void popup()
    {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* p = qobject_cast<CAniDlg*>(w); p && p->isVisible()) {
                const QRect g = p->frameGeometry().adjusted(-40, -30, 10, 50);
                save(QGuiApplication::primaryScreen()->grabWindow(0, g.x(), g.y(), g.width(),
                                                                  g.height()),
                     "popup.png");
                save(p->grab(), "popup-face.png");
            }
        }
        finish();
    }

    void finish()
    {
        if (!m_controller.isExiting())
            m_controller.Exit();
    }

    ShellUi& m_ui;
    MessengerController& m_controller;
    QString m_folder;
    int m_expected = 1;
    QString m_block;
    QString m_chat;
    QTimer m_poll;
    QMenu* m_menu = nullptr;
};

} // namespace

void Screenshotter::startIfAsked(ShellUi& ui, MessengerController& controller)
{
    const QString folder = qEnvironmentVariable("ZEPHLINK_SCREENSHOTS");
    if (folder.isEmpty())
        return;
    new Runner(ui, controller, folder);
}

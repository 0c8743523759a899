#include "shell/screenshotter.h"

#include "messenger/messengercontroller.h"
#include "shell/acceptdlg.h"
#include "shell/anidlg.h"
#include "shell/chatdlg.h"
#include "shell/filedialogex.h"
#include "shell/listctrlex.h"
#include "shell/messengerdlg.h"
#include "shell/shellui.h"
#include "shell/splitters.h"
#include "shell/trayicon.h"
// The options and network helper windows' pictures.
#include "shell/ipdlg.h"
#include "shell/optionsdlg.h"
#include "shell/tabdlgctrl.h"
#include "shell/updatedlg.h"
#include "shell/upnpdlg.h"

#include "shell/xferdlg.h"
#include "transfers/transfermanager.h"
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
// The share browser's picture.
#include "shell/browsedlg.h"
#include "shell/shellshares.h"

#include <QApplication>
#include <QDir>
#include <QGuiApplication>
#include <QLineEdit>
#include <QLinearGradient>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <memory>

namespace {

bool transferShotsPending();

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
        QTimer::singleShot(90000, this, [this] { finish(); });
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

public:
    // The window's picture with a title bar (the virtual screen has no
    // window manager to draw one), on the backdrop.
    static QPixmap framed(QWidget* window)
    {
        const QPixmap content = window->grab();
        const int bar = 30;
        const int margin = 16;
        QPixmap canvas(content.width() + 2 * margin, content.height() + bar + 2 * margin);
        QPainter p(&canvas);
        p.setRenderHint(QPainter::Antialiasing);
        QLinearGradient backdrop(0, 0, 0, canvas.height());
        backdrop.setColorAt(0, QColor(86, 110, 140));
        backdrop.setColorAt(1, QColor(46, 62, 88));
        p.fillRect(canvas.rect(), backdrop);
        const QRect frame(margin, margin, content.width(), content.height() + bar);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 0, 0, 60));
        p.drawRoundedRect(frame.adjusted(-2, -1, 2, 4), 8, 8);
        QLinearGradient title(0, frame.top(), 0, frame.top() + bar);
        title.setColorAt(0, QColor(70, 74, 82));
        title.setColorAt(1, QColor(48, 51, 57));
        p.setBrush(title);
        p.drawRoundedRect(QRect(frame.left(), frame.top(), frame.width(), bar + 8), 7, 7);
        p.drawPixmap(frame.left(), frame.top() + bar, content);
        p.drawPixmap(frame.left() + 8, frame.top() + (bar - 18) / 2,
                     window->windowIcon().pixmap(18, 18));
        QFont f = window->font();
        f.setBold(true);
        p.setFont(f);
        p.setPen(QColor(235, 235, 235));
        p.drawText(QRect(frame.left() + 32, frame.top(), frame.width() - 110, bar),
                   Qt::AlignVCenter | Qt::AlignLeft, window->windowTitle());
        // Minimise, maximise and close.
        const int cy = frame.top() + bar / 2;
        const QColor buttons[] = {QColor(120, 124, 132), QColor(120, 124, 132),
                                  QColor(214, 80, 70)};
        for (int i = 0; i < 3; ++i) {
            p.setBrush(buttons[i]);
            p.drawEllipse(QPoint(frame.right() - 64 + i * 24, cy), 7, 7);
        }
        return canvas;
    }

    // The widgets' own pictures at their places in area, on a soft backdrop.
    static QPixmap onDesktop(const QRect& area, const QList<QWidget*>& widgets)
    {
        QPixmap canvas(area.size());
        QPainter p(&canvas);
        QLinearGradient backdrop(0, 0, 0, area.height());
        backdrop.setColorAt(0, QColor(86, 110, 140));
        backdrop.setColorAt(1, QColor(46, 62, 88));
        p.fillRect(canvas.rect(), backdrop);
        for (QWidget* w : widgets)
            p.drawPixmap(w->geometry().topLeft() - area.topLeft(), w->grab());
        return canvas;
    }

private:
    void save(const QPixmap& pixmap, const char* name)
    {
        pixmap.save(QDir(m_folder).filePath(QString::fromLatin1(name)));
    }

    void mainWindow()
    {
        save(framed(m_ui.mainWindow()), "main-window.png");
        if (Contact* chat = named(m_chat))
            m_ui.showChatWindowAndFocus(*chat);
        QTimer::singleShot(1000, this, &Runner::chatWindow);
    }

    void chatWindow()
    {
        if (Contact* chat = named(m_chat)) {
            if (CChatDlg* dlg = m_ui.chatWindow(*chat)) {
                save(framed(dlg), "chat-window.png");
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
        // The open menus drawn over a plain desktop colour (the virtual
        // screen behind them is black).
        QList<QWidget*> menus;
        QRect area;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* m = qobject_cast<QMenu*>(w); m && m->isVisible()) {
                menus << m;
                area = area.united(m->geometry());
            }
        }
        save(onDesktop(area.adjusted(-24, -24, 24, 24), menus), "tray-menu.png");
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
                save(onDesktop(p->geometry().adjusted(-40, -30, 10, 50), {p}), "popup.png");
                break;
            }
        }
        optionsPages();
    }

    // --- the options dialog, the router, IP helper and update windows ---

    // Runs next once ready() holds, looking every 200 ms for at most 20 s.
    void whenReady(std::function<bool()> ready, std::function<void()> next)
    {
        auto* timer = new QTimer(this);
        auto tries = std::make_shared<int>(100);
        connect(timer, &QTimer::timeout, this, [=, this] {
            if (!ready() && --*tries > 0)
                return;
            timer->deleteLater();
            next();
        });
        timer->start(200);
    }

    void optionsPages()
    {
        m_settings = m_controller.settings();
        m_own = m_controller.myIdentity();
        m_options = new COptionsDlg(m_settings, m_own, nullptr, m_ui.mainWindow());
        m_options->show();
        optionsPage(0);
    }

    void optionsPage(int index)
    {
        static const char* const names[] = {"options-connections.png", "options-notifications.png",
                                            "options-transfers.png", "options-advanced.png"};
        if (index == 4) {
            m_options->reject();
            m_options->deleteLater();
            routerDialog();
            return;
        }
        m_options->tabs()->setCurrentIndex(index);
        QTimer::singleShot(600, this, [this, index] {
            save(framed(m_options), names[index]);
            optionsPage(index + 1);
        });
    }

    void routerDialog()
    {
        CUPNPDlg* router = m_ui.mainWindow()->routerDialog();
        router->showAndRaise();
        router->AutoConfigure();
        const auto logEnds = [router](const char* line) {
            return [router, line] {
                return router->log()->toPlainText().endsWith(QLatin1String(line));
            };
        };
        whenReady(logEnds("Device Port Mapping Complete!"), [=, this] {
            router->GetMappings();
            whenReady(logEnds("End of List"), [=, this] {
                save(framed(router), "router-dialog.png");
                router->hide();
                ipHelper();
            });
        });
    }

    void ipHelper()
    {
        QPointer<CIPDlg> dlg = CIPDlg::open(m_ui.mainWindow(), m_controller.myIdentity().port);
        whenReady(
            [dlg] {
                return dlg && dlg->box(0)->text() != QLatin1String("Connecting to the Internet...");
            },
            [this, dlg] {
                if (dlg) {
                    save(framed(dlg), "ip-helper.png");
                    dlg->close();
                }
                updateDialog();
            });
    }

    void updateDialog()
    {
        CUpdateDlg* update = m_ui.mainWindow()->updateDialog();
        update->CheckForUpdates(1);
        whenReady([update] { return update->actionButton()->text() == UpdateLogic::UpdateCaption; },
                  [this, update] {
                      QTimer::singleShot(300, this, [this, update] {
                          save(framed(update), "update-dialog.png");
                          update->hide();
                          finish();
                      });
                  });
    }

    void finish()
    {
        // The transfers pictures take their own time.
        if (transferShotsPending()) {
            QTimer::singleShot(500, this, &Runner::finish);
            return;
        }
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
    Settings m_settings;
    Identity m_own;
    COptionsDlg* m_options = nullptr;
};

// --- the transfers window and the receiving prompts ---

bool g_transferShotsPending = false;
// The share browser's picture is still to come.
bool g_browseShotsPending = false;

bool transferShotsPending()
{
    return g_transferShotsPending || g_browseShotsPending;
}

// With ZEPHLINK_SCREENSHOTS_SAVE=<path>, the next offer is accepted into
// that path (where a partial file waits, so the resume prompt shows), each
// prompt is pictured on its way, and the transfers window once data flows.
class TransferShots : public QObject
{
public:
    TransferShots(ShellUi& ui, const QString& folder, const QString& savePath)
        : QObject(&ui), m_ui(ui), m_folder(folder), m_savePath(savePath)
    {
        g_transferShotsPending = true;
        connect(ui.prompts(), &TransferPrompts::promptShown, this, &TransferShots::prompt);
        QTimer::singleShot(55000, this, [] { g_transferShotsPending = false; });
    }

private:
    void save(const QPixmap& pixmap, const char* name)
    {
        pixmap.save(QDir(m_folder).filePath(QString::fromLatin1(name)));
    }

    void prompt(QWidget* w)
    {
        QPointer<QWidget> shown(w);
        if (auto* accept = qobject_cast<CAcceptDlg*>(w)) {
            QTimer::singleShot(1000, this, [this, shown, accept] {
                if (!shown)
                    return;
                save(Runner::framed(accept), "accept-prompt.png");
                accept->acceptButton()->click();
            });
        } else if (auto* picker = qobject_cast<CFileDialogEx*>(w)) {
            QTimer::singleShot(500, this, [this, shown, picker] {
                if (!shown)
                    return;
                if (auto* name = picker->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                    name->setText(m_savePath);
                picker->accept();
            });
        } else if (auto* resume = qobject_cast<CResumeDlg*>(w)) {
            QTimer::singleShot(1000, this, [this, shown, resume] {
                if (!shown)
                    return;
                save(Runner::framed(resume), "resume-prompt.png");
                resume->button(ResumeChoice::Resume)->click();
                QTimer::singleShot(2500, this, &TransferShots::transfersWindow);
            });
        }
    }

    void transfersWindow()
    {
        CXferDlg* xfer = m_ui.transfersWindow();
        if (!xfer) {
            g_transferShotsPending = false;
            return;
        }
        xfer->ShowTransfers(true);
        xfer->resize(900, 210);
        const int widths[] = {180, 150, 45, 140, 95, 165, 100};
        for (int c = 0; c < 7; ++c)
            xfer->list()->setColumnWidth(c, widths[c]);
        xfer->list()->setCurrentItem(xfer->list()->topLevelItem(0));
        QTimer::singleShot(1500, this, [this, xfer] {
            save(Runner::framed(xfer), "transfers-window.png");
            xfer->runCommand(int(TransferCommand::Properties), 0);
            QTimer::singleShot(800, this, [this, xfer] {
                const QList<CPropDlg*> boxes = xfer->propertyBoxes();
                if (!boxes.isEmpty()) {
                    save(Runner::framed(boxes.last()), "transfer-properties.png");
                    boxes.last()->close();
                }
                g_transferShotsPending = false;
            });
        });
    }

    ShellUi& m_ui;
    QString m_folder;
    QString m_savePath;
};

// --- the share browser ---

// With ZEPHLINK_SCREENSHOTS_BROWSE=<contact>, that contact's shares are
// browsed once it tells us it shares; the first folders are opened until
// files show, and the browser is pictured with that listing.
class BrowseShots : public QObject
{
public:
    BrowseShots(ShellUi& ui, MessengerController& controller, const QString& folder,
                const QString& contact)
        : QObject(&ui), m_ui(ui), m_controller(controller), m_folder(folder), m_contact(contact)
    {
        g_browseShotsPending = true;
        m_poll.setInterval(300);
        connect(&m_poll, &QTimer::timeout, this, &BrowseShots::step);
        m_poll.start();
        QTimer::singleShot(60000, this, [this] {
            m_poll.stop();
            g_browseShotsPending = false;
        });
    }

private:
    void step()
    {
        if (!m_ui.shares())
            return done();
        if (!m_window) {
            if (m_asked)
                return;
            for (Contact* c : m_controller.contacts()) {
                if (DisplayName(*c) == m_contact && c->peerShares && c->sessionThread != 0) {
                    connect(m_ui.shares(), &ShellShares::windowOpened, this,
                            [this](CBrowseDlg* w) { m_window = w; });
                    m_asked = m_controller.ViewRemoteShares(c->uid.bytes());
                }
            }
            return;
        }
        RemoteBrowser& b = m_window->browser();
        if (b.isBusy() || b.rows().isEmpty())
            return;
        // Down the first folders until files show.
        const bool files = std::any_of(b.rows().begin(), b.rows().end(),
                                       [](const ShareEntry& e) { return !e.folder; });
        if (!files && b.rows().first().folder && m_opened < 3) {
            ++m_opened;
            m_window->resize(600, 330);
            m_window->activateRow(0);
            return;
        }
        m_poll.stop();
        m_window->list()->setCurrentItem(m_window->list()->topLevelItem(1));
        QTimer::singleShot(1200, this, [this] {
            if (m_window)
                Runner::framed(m_window).save(QDir(m_folder).filePath(u"share-browser.png"_qs));
            done();
        });
    }

    void done()
    {
        m_poll.stop();
        g_browseShotsPending = false;
    }

    ShellUi& m_ui;
    MessengerController& m_controller;
    QString m_folder;
    QString m_contact;
    QTimer m_poll;
    QPointer<CBrowseDlg> m_window;
    bool m_asked = false;
    int m_opened = 0;
};

} // namespace

void Screenshotter::startIfAsked(ShellUi& ui, MessengerController& controller)
{
    const QString folder = qEnvironmentVariable("ZEPHLINK_SCREENSHOTS");
    if (folder.isEmpty())
        return;
    new Runner(ui, controller, folder);
    const QString savePath = qEnvironmentVariable("ZEPHLINK_SCREENSHOTS_SAVE");
    if (!savePath.isEmpty())
        new TransferShots(ui, folder, savePath);
    const QString browse = qEnvironmentVariable("ZEPHLINK_SCREENSHOTS_BROWSE");
    if (!browse.isEmpty())
        new BrowseShots(ui, controller, folder, browse);
}

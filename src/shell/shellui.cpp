#include "shell/shellui.h"

#include "messenger/messengercontroller.h"
#include "shell/acceptdlg.h"
#include "shell/anidlg.h"
#include "shell/chatdlg.h"
#include "shell/clientdlg.h"
#include "shell/editdlg.h"
#include "shell/icons.h"
#include "shell/listctrlex.h"
#include "shell/messengerdlg.h"
#include "shell/msgrichedit2.h"
#include "shell/shellfiles.h"
#include "shell/shellshares.h"
#include "shell/trayicon.h"
#include "shell/xferdlg.h"
#include "transfers/transfermanager.h"

#include <QApplication>
#include <QCursor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QPushButton>
#include <QSoundEffect>
#include <QUrl>
#include <QVBoxLayout>

namespace {

QMessageBox::Icon boxIcon(ProfileUi::Icon icon)
{
    switch (icon) {
    case ProfileUi::Icon::Information:
        return QMessageBox::Information;
    case ProfileUi::Icon::Warning:
        return QMessageBox::Warning;
    case ProfileUi::Icon::Error:
        return QMessageBox::Critical;
    }
    return QMessageBox::NoIcon;
}

} // namespace

ShellUi::ShellUi(QObject* parent) : QObject(parent), m_transferPrompts(new TransferPrompts(this)) {}

ShellUi::~ShellUi()
{
    deleteWindows();
}

void ShellUi::deleteWindows()
{
    qDeleteAll(m_chats);
    m_chats.clear();
    for (FileSessionId session : m_transferPrompts->sessions())
        m_transferPrompts->closePrompts(session);
    // The browse sessions end before the windows and the transfer manager.
    delete m_shares;
    m_shares = nullptr;
    delete m_xfer;
    delete m_window;
}

void ShellUi::attach(MessengerController& controller, TransferManager* transfers)
{
    m_controller = &controller;
    m_transfers = transfers;
    CChatDlg::setStatusIconProvider([](int status) { return Icons::statusIcon(status); });
    m_window = new CMessengerDlg(controller);
    m_window->setTransferManager(transfers);
    m_transferPrompts->setManager(transfers);
    if (transfers) {
        m_xfer = new CXferDlg(*transfers, m_window);
        connect(m_xfer, &CXferDlg::helpRequested, m_window,
                [this] { m_window->functionKey(Qt::Key_F1); });
        // A peer asked for something it may not have: the user hears of it.
        connect(transfers, &TransferManager::requestRefused, this,
                [this](const QByteArray& uid, const QString& path) {
                    const Contact* c = m_controller ? m_controller->findContact(uid) : nullptr;
                    eventLine(
                        TransferManager::RefusedRequestText(c ? DisplayName(*c) : QString(), path));
                });
        m_shares = new ShellShares(controller, *transfers, this);
    }
    connect(m_window, &CMessengerDlg::exitRequested, &controller, [this] {
        if (!m_controller->isExiting())
            m_controller->Exit();
    });
    connect(m_window, &CMessengerDlg::chatWindowRequested, this,
            [this](Contact& c) { showChatWindowAndFocus(c); });
    connect(m_window, &CMessengerDlg::historyCleared, this, [this](Contact& c) {
        if (CChatDlg* chat = chatOf(c))
            chat->showLine();
    });
    connect(&controller, &MessengerController::settingsChanged, m_window,
            &CMessengerDlg::applySettings);
    connect(&controller, &MessengerController::settingsChanged, this, &ShellUi::applyTranslucency);
}

void ShellUi::browsingRowsChanged()
{
    if (m_window)
        m_window->browsingContactsWindow()->refresh();
}

void ShellUi::applyTranslucency()
{
    if (!m_controller)
        return;
    const Settings& s = m_controller->settings();
    const qreal opacity =
        Settings::on(s.translucent) ? std::clamp(s.translucency, 0, 255) / 255.0 : 1.0;
    for (CChatDlg* chat : std::as_const(m_chats))
        chat->setWindowOpacity(opacity);
}

CChatDlg* ShellUi::chatOf(const Contact& contact) const
{
    return m_chats.value(&contact);
}

// --- panes and lines ---

void ShellUi::eventLine(const QString& text)
{
    if (m_window)
        m_window->showEventLine(text);
}

void ShellUi::mainStatusChanged(const QString& text)
{
    if (m_window)
        m_window->showTypingLine(text);
}

void ShellUi::chatStatusChanged(const Contact& contact, const QString& text)
{
    if (CChatDlg* chat = chatOf(contact))
        chat->setStatusText(text);
}

void ShellUi::lineAppended(const Contact* contact, const PaneLine&)
{
    if (!contact) {
        if (m_window)
            m_window->showMainHistory();
        return;
    }
    if (CChatDlg* chat = chatOf(*contact))
        chat->showLine();
}

void ShellUi::typingChanged(const Contact& contact, bool)
{
    if (CChatDlg* chat = chatOf(contact))
        chat->Refresh();
}

void ShellUi::myStatusChanged(int status, const QString& label,
                              const QList<StatusLabelColor>& colors)
{
    if (m_window)
        m_window->showMyStatus(status, label, colors);
}

// --- contact list ---

void ShellUi::contactAdded(const Contact& contact)
{
    if (!m_window || !m_controller)
        return;
    // The controller hands out its own (mutable) records; the chat window
    // keeps its geometry in the contact.
    Contact* c = const_cast<Contact*>(&contact);
    auto* chat = new CChatDlg(*m_controller, *c);
    m_chats.insert(c, chat);
    // Files dropped on a chat window go to its contact.
    connect(chat, &CChatDlg::filesDropped, m_window,
            [this, c](const QStringList& paths) { m_window->sendPaths(*c, paths); });
    connect(chat, &CChatDlg::notice, m_window,
            [this](int, const QString& caption, const QString& text) {
                ShowMessageBox(m_window, QMessageBox::Warning, caption, text);
            });
    connect(chat, &CChatDlg::functionKeyPressed, m_window,
            [this](int key) { m_window->functionKey(key); });
    applyTranslucency();
    m_window->addContactRow(*c);
}

void ShellUi::contactRemoving(const Contact& contact)
{
    if (CChatDlg* chat = m_chats.take(&contact))
        chat->deleteLater();
    if (m_window)
        m_window->removeContactRow(contact);
}

void ShellUi::contactChanged(const Contact& contact)
{
    if (m_window)
        m_window->relabel();
    if (CChatDlg* chat = chatOf(contact))
        chat->Refresh();
}

void ShellUi::contactListChanged()
{
    if (m_window)
        m_window->relabel();
}

// --- notices ---

void ShellUi::popup(const QString& firstLine, const QString& secondLine, const QByteArray& uid)
{
    auto* popup = new CAniDlg(firstLine, secondLine, uid, nullptr);
    connect(popup, &CAniDlg::talk, this, [this](const QByteArray& id) {
        if (m_controller)
            m_controller->Talk(id);
    });
    popup->open();
    emit popupOpened(popup);
}

void ShellUi::playSound(const QString& fileName)
{
    QSoundEffect* effect = m_sounds.value(fileName);
    if (!effect) {
        const QString path = ShippedFile(fileName);
        if (path.isEmpty())
            return;
        effect = new QSoundEffect(this);
        effect->setSource(QUrl::fromLocalFile(path));
        m_sounds.insert(fileName, effect);
    }
    effect->play();
}

void ShellUi::messageBox(ProfileUi::Icon icon, const QString& caption, const QString& text)
{
    ShowMessageBox(m_window, boxIcon(icon), caption, text);
}

bool ShellUi::askYesNo(const QString& caption, const QString& text)
{
    return askQuestion(QMessageBox::Question, caption, text);
}

bool ShellUi::askQuestion(int icon, const QString& caption, const QString& text)
{
    QMessageBox box(QMessageBox::Icon(icon), caption, text, QMessageBox::Yes | QMessageBox::No,
                    m_window);
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    return box.exec() == QMessageBox::Yes;
}

std::optional<QString> ShellUi::askText(const QString& title, const QString& text,
                                        const QString& prefill)
{
    return CEditDlg::ask(m_window, title, text, prefill);
}

// --- windows ---

bool ShellUi::isMainWindowVisible()
{
    return m_window && m_window->isVisible() && !m_window->isMinimized();
}

bool ShellUi::isMainWindowForeground()
{
    return m_window && m_window->isActiveWindow();
}

bool ShellUi::isChatWindowVisible(const Contact& contact)
{
    CChatDlg* chat = chatOf(contact);
    return chat && chat->isVisible();
}

bool ShellUi::isChatWindowForeground(const Contact& contact)
{
    CChatDlg* chat = chatOf(contact);
    return chat && chat->isForeground();
}

int ShellUi::selectedContactCount()
{
    return m_window ? int(m_window->selectedContacts().size()) : 0;
}

void ShellUi::showMainWindowInactive()
{
    if (!m_window || !m_window->mayShow())
        return;
    m_window->setAttribute(Qt::WA_ShowWithoutActivating);
    m_window->showMinimized();
    m_window->setAttribute(Qt::WA_ShowWithoutActivating, false);
}

void ShellUi::showChatWindowInactive(const Contact& contact)
{
    if (CChatDlg* chat = chatOf(contact))
        chat->showInactive();
}

void ShellUi::flashMainWindow()
{
    if (m_window)
        QApplication::alert(m_window);
}

void ShellUi::flashChatWindow(const Contact& contact)
{
    if (CChatDlg* chat = chatOf(contact))
        chat->flash();
}

void ShellUi::showChatWindowAndFocus(const Contact& contact)
{
    if (CChatDlg* chat = chatOf(contact))
        chat->ShowAndFocus();
}

void ShellUi::focusContactInMainWindow(const Contact& contact)
{
    if (!m_window)
        return;
    m_window->selectOnly(contact);
    m_window->restoreFromTray();
    m_window->input()->setFocus();
}

void ShellUi::showQueueViewer(const QString& title, const QList<QByteArray>& documents)
{
    auto* dlg = new QDialog(m_window);
    dlg->setAttribute(Qt::WA_DeleteOnClose);
    dlg->setWindowTitle(title);
    auto* view = new CMsgRichEdit2(dlg);
    view->InitHistory();
    for (const QByteArray& doc : documents)
        view->StreamInAtEnd(doc);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, dlg);
    connect(buttons, &QDialogButtonBox::rejected, dlg, &QDialog::close);
    auto* layout = new QVBoxLayout(dlg);
    layout->addWidget(view);
    layout->addWidget(buttons);
    dlg->resize(420, 300);
    dlg->show();
}

void ShellUi::refreshWindowPositions(WindowPositions& windows, const QList<Contact*>& contacts)
{
    if (m_window && m_window->isVisible()) {
        m_window->storePositions(windows);
        if (m_xfer)
            m_xfer->storeRectangle(windows);
    }
    if (m_xfer)
        m_xfer->storeColumnWidths(windows);
    for (Contact* c : contacts) {
        if (CChatDlg* chat = chatOf(*c); chat && chat->isVisible())
            chat->storeGeometry();
    }
}

void ShellUi::hideWindows()
{
    if (!m_window)
        return;
    m_window->trayIcon()->Remove();
    m_window->setExiting();
    m_window->hide();
    for (CChatDlg* chat : std::as_const(m_chats))
        chat->hide();
    if (m_xfer)
        m_xfer->hide();
}

CXferDlg* ShellUi::transfersWindow() const
{
    return m_xfer;
}

void ShellUi::restoreTransfersWindow(const WindowPositions& windows)
{
    if (m_xfer)
        m_xfer->restorePositions(windows);
}

// --- ProfileUi ---

void ShellUi::showMessage(ProfileUi::Icon icon, const QString& caption, const QString& text)
{
    messageBox(icon, caption, text);
}

bool ShellUi::askDynamicIp(const QString& caption, const QString& question)
{
    return askQuestion(QMessageBox::Information, caption, question);
}

std::optional<QString> ShellUi::askScreenName(const QString& title, const QString& prompt,
                                              const QString& current)
{
    return askText(title, prompt, current);
}

QPoint ShellUi::cursorPosition()
{
    return QCursor::pos();
}

// --- TransferUi: the receiving side's prompts and the transfers window ---

void ShellUi::askAccept(FileSessionId session, const QString& title, const QString& text,
                        const Transfer& offer)
{
    m_transferPrompts->askAccept(session, title, text, offer);
}

void ShellUi::acceptTextChanged(FileSessionId session, const QString& text)
{
    m_transferPrompts->acceptTextChanged(session, text);
}

void ShellUi::askSavePath(FileSessionId session, const QString& proposedName, bool folder)
{
    m_transferPrompts->askSavePath(session, proposedName, folder);
}

void ShellUi::askResume(FileSessionId session, const ResumePromptContent& content)
{
    m_transferPrompts->askResume(session, content);
}

void ShellUi::closePrompts(FileSessionId session)
{
    m_transferPrompts->closePrompts(session);
}

void ShellUi::showTransfers(bool activate)
{
    if (m_xfer && (!m_window || m_window->mayShow() || activate))
        m_xfer->ShowTransfers(activate);
}

void ShellUi::showProperties(const QString& text)
{
    if (m_xfer)
        m_xfer->showProperties(text);
}

void ShellUi::openPath(const QString& path)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void ShellUi::showInFolder(const QString& path)
{
    const QString folder = QFileInfo(path).absolutePath();
    const auto openFolder = [folder] { QDesktopServices::openUrl(QUrl::fromLocalFile(folder)); };
    // The file manager selects the file where the desktop offers it.
    const QString service = QStringLiteral("org.freedesktop.FileManager1");
    QDBusConnection bus = QDBusConnection::sessionBus();
    QDBusConnectionInterface* names = bus.isConnected() ? bus.interface() : nullptr;
    if (!names || (!names->isServiceRegistered(service).value() &&
                   !names->activatableServiceNames().value().contains(service))) {
        openFolder();
        return;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/FileManager1"),
                                       service, QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [openFolder](QDBusPendingCallWatcher* w) {
                if (w->isError())
                    openFolder();
                w->deleteLater();
            });
}

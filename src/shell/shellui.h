#pragma once

#include "messenger/messengerui.h"
#include "profile/profileui.h"
#include "transfers/transferui.h"

#include <QHash>
#include <QObject>
#include <QPointer>

#include <memory>

class CChatDlg;
class CXferDlg;
class ShellShares;
class TransferPrompts;
class CMessengerDlg;
class MessengerController;
class QSoundEffect;
class TransferManager;

// The desktop's face of the messenger: the main window, one chat window per
// contact, the tray icon, popups, sounds and message boxes. The controller,
// the profile and the transfer manager reach the user through it.
class ShellUi : public QObject,
                public MessengerUi,
                public ProfileUi,
                public IdleSource,
                public TransferUi
{
    Q_OBJECT
public:
    explicit ShellUi(QObject* parent = nullptr);
    ~ShellUi() override;

    // Makes the main window for the controller (before the controller starts).
    void attach(MessengerController& controller, TransferManager* transfers);
    CMessengerDlg* mainWindow() const { return m_window; }
    // Deletes every window (after the program's event loop ended, while the
    // controller still exists); later calls find no window to show.
    void deleteWindows();
    CChatDlg* chatWindow(const Contact& contact) const { return m_chats.value(&contact); }
    // The transfers window (none without a transfer manager) and the
    // receiving side's prompts.
    CXferDlg* transfersWindow() const;
    TransferPrompts* prompts() const { return m_transferPrompts; }
    // The shared folders' browse sessions and browser windows (none without
    // a transfer manager).
    ShellShares* shares() const { return m_shares; }
    // Puts the transfers window and its columns where WindowPos.cfg says.
    void restoreTransfersWindow(const WindowPositions& windows);

    // --- MessengerUi ---
    void eventLine(const QString& text) override;
    void mainStatusChanged(const QString& text) override;
    void chatStatusChanged(const Contact& contact, const QString& text) override;
    void lineAppended(const Contact* contact, const PaneLine& line) override;
    void typingChanged(const Contact& contact, bool typing) override;
    void myStatusChanged(int status, const QString& label,
                         const QList<StatusLabelColor>& colors) override;
    void contactAdded(const Contact& contact) override;
    void contactRemoving(const Contact& contact) override;
    void contactChanged(const Contact& contact) override;
    void contactListChanged() override;
    void popup(const QString& firstLine, const QString& secondLine, const QByteArray& uid) override;
    void playSound(const QString& fileName) override;
    // Both the controller and the transfer manager show their boxes here.
    void messageBox(ProfileUi::Icon icon, const QString& caption, const QString& text) override;
    bool askYesNo(const QString& caption, const QString& text) override;
    std::optional<QString> askText(const QString& title, const QString& text,
                                   const QString& prefill) override;
    bool isMainWindowVisible() override;
    bool isMainWindowForeground() override;
    bool isChatWindowVisible(const Contact& contact) override;
    bool isChatWindowForeground(const Contact& contact) override;
    int selectedContactCount() override;
    void showMainWindowInactive() override;
    void showChatWindowInactive(const Contact& contact) override;
    void flashMainWindow() override;
    void flashChatWindow(const Contact& contact) override;
    void showChatWindowAndFocus(const Contact& contact) override;
    void focusContactInMainWindow(const Contact& contact) override;
    void showQueueViewer(const QString& title, const QList<QByteArray>& documents) override;
    void refreshWindowPositions(WindowPositions& windows, const QList<Contact*>& contacts) override;
    void browsingRowsChanged() override;
    void hideWindows() override;

    // --- ProfileUi ---
    void showMessage(ProfileUi::Icon icon, const QString& caption, const QString& text) override;
    bool askDynamicIp(const QString& caption, const QString& question) override;
    std::optional<QString> askScreenName(const QString& title, const QString& prompt,
                                         const QString& current) override;

    // --- IdleSource ---
    QPoint cursorPosition() override;

    // --- TransferUi ---
    void askAccept(FileSessionId session, const QString& title, const QString& text,
                   const Transfer& offer) override;
    void askSavePath(FileSessionId session, const QString& proposedName, bool folder) override;
    void askResume(FileSessionId session, const ResumePromptContent& content) override;
    void acceptTextChanged(FileSessionId session, const QString& text) override;
    void closePrompts(FileSessionId session) override;
    void showTransfers(bool activate) override;
    void openPath(const QString& path) override;
    void showInFolder(const QString& path) override;
    void showProperties(const QString& text) override;

signals:
    // A popup opened (the screenshot script and tests watch for it).
    void popupOpened(QWidget* popup);

private:
    CChatDlg* chatOf(const Contact& contact) const;
    // A top-most Yes/No box; Yes is true.
    bool askQuestion(int icon, const QString& caption, const QString& text);
    // The translucency option on the main window and every chat window.
    void applyTranslucency();

    MessengerController* m_controller = nullptr;
    TransferManager* m_transfers = nullptr;
    QPointer<CMessengerDlg> m_window;
    QHash<const Contact*, CChatDlg*> m_chats;
    QHash<QString, QSoundEffect*> m_sounds;
    QPointer<CXferDlg> m_xfer;
    TransferPrompts* m_transferPrompts;
    ShellShares* m_shares = nullptr;
};

#pragma once

#include "records/contact.h"
#include "messenger/messengerui.h"
#include "profile/profilestore.h"
#include "shell/controlanchors.h"
#include "transfers/transfermanager.h"

#include <QHash>
#include <QMainWindow>
#include <QPointer>
#include <QStringList>

class CClientDlg;
class CHorzSplitter;
class CUPNPDlg;
class CUpdateDlg;
class CListCtrlEx;
class CMsgRichEdit2;
class CStaticColor;
class CTrayIcon;
class CVertSplitter;
class MessengerController;
class QAction;
class QMenu;
class QPushButton;
class QTreeWidgetItem;
class TransferManager;

// The main window: the conversation pane, the contact list with the own
// status above it, the message input with Send, the contact line and the
// typing line, and the menu bar. Every gesture becomes a call of the
// messenger controller or the transfer manager.
class CMessengerDlg : public QMainWindow
{
    Q_OBJECT
public:
    // Menu bar commands.
    enum Command {
        AddContact = 32771,
        DeleteSelected = 32772,
        ConnectAllContacts = 32773,
        ProgramOptions = 32774,
        FileTransfers = 32775,
        RemoteShares = 32776,
        BrowsingContacts = 32777,
        ViewAddress = 32778,
        ViewLargeIcons = 32779,
        ViewTranslucent = 32780,
        ViewAutoPopup = 32781,
        MyStatusOnline = 32782,
        MyStatusAway = 32783,
        MyStatusAwayMessage = 32784,
        MyStatusOffline = 32785,
        WhatIsMyIp = 32786,
        CheckUpdates = 32787,
        About = 32788,
        SetScreenName = 32789,
        RouterConfigure = 32790,
        HelpTopics = 32791,
        Restore = 140,
        ExitProgram = 141,
    };
    // Contact context menu commands.
    enum ContactCommand {
        SendFile = 201,
        Connect = 202,
        Disconnect = 203,
        Block = 204,
        UnBlock = 205,
        Delete = 206,
        ShowChat = 207,
        ClearMessages = 208,
        ViewRemoteFolders = 209,
        EditSharedFolders = 210,
        AutosaveToggle = 211,
        OpenDownloadFolder = 212,
        ConnectAll = 213,
        Properties = 214,
        PingIp = 250,
        PingDns = 251,
        CopyIp = 252,
        CopyDns = 253,
        EditIp = 254,
        EditPort = 255,
        EditKey = 256,
        EditAlias = 257,
        EditAutosavePath = 258,
        ViewQueue = 259,
        ClearQueue = 260,
    };
    static constexpr int MinWidth = 380;
    static constexpr int MinHeight = 300;
    // Bars closer than this to the window's left or top edge are put back.
    static constexpr int BarRule = 200;
    static constexpr int MaxDropItems = TransferManager::MaxDropItems;

    explicit CMessengerDlg(MessengerController& controller, QWidget* parent = nullptr);
    ~CMessengerDlg() override;

    void setTransferManager(TransferManager* manager) { m_transfers = manager; }
    CTrayIcon* trayIcon() const { return m_tray; }
    CListCtrlEx* contactList() const { return m_list; }
    CMsgRichEdit2* pane() const { return m_pane; }
    CMsgRichEdit2* input() const { return m_input; }
    CStaticColor* contactLine() const { return m_contactLine; }
    CStaticColor* typingLine() const { return m_typingLine; }
    CStaticColor* myStatusLabel() const { return m_myStatus; }
    CVertSplitter* verticalBar() const { return m_vbar; }
    CHorzSplitter* horizontalBar() const { return m_hbar; }
    QAction* action(int command) const { return m_actions.value(command); }

    // --- what the controller shows ---
    void addContactRow(const Contact& contact);
    void removeContactRow(const Contact& contact);
    // Labels and images of every row anew, sorted and grouped by status.
    void relabel();
    void showMyStatus(int status, const QString& label, const QList<StatusLabelColor>& colors);
    void showTypingLine(const QString& text);
    void showEventLine(const QString& text);
    void showMainHistory();
    // Settings changed (view options or the options dialog): check marks,
    // icons, labels and translucency follow.
    void applySettings();

    // --- contact list ---
    QList<Contact*> selectedContacts() const;
    Contact* selectedContact() const;
    QTreeWidgetItem* rowOf(const Contact& contact) const;
    Contact* contactOf(const QTreeWidgetItem* row) const;
    // Selects and focuses only this contact's row.
    void selectOnly(const Contact& contact);
    void refreshContactLine();
    // A letter or digit typed in the list; false when no row matched.
    bool searchKey(QChar key);
    // The right-click menu for the selected contact; the caller owns it.
    QMenu* contextMenu(Contact& contact);
    void runContactCommand(int command, Contact& contact);
    void runCommand(int command);

    // Files dropped on the window, in drop order.
    void dropFiles(const QStringList& paths);
    // Sends or queues each path to one contact.
    void sendPaths(Contact& contact, const QStringList& paths);
    // F1 to F4, from this window or a chat window.
    void functionKey(int key);

    // --- window state ---
    void setMayShow(bool on) { m_mayShow = on; }
    bool mayShow() const { return m_mayShow; }
    // Puts the window and bars where WindowPos.cfg says.
    void restorePositions(const WindowPositions& windows);
    // The window (screen) and the bars (client) into windows.
    void storePositions(WindowPositions& windows) const;
    // Takes the controls' places as the start of later resizes (2023).
    void captureLayout();
    // Moves a bar back from the window's left or top edge when it is too close.
    void applyBarRule();
    void setTranslucency(bool on, int value);
    // Shows the window again from the tray (command 140).
    void restoreFromTray();
    void hideToTray();
    // Exit removes the window for good; close then really closes.
    void setExiting() { m_exiting = true; }
    // The header colour: the theme's highlight colour, lightened.
    QColor headerColour() const;

    // Dialog units of the window's font in pixels.
    QRect dialogRect(int x, int y, int w, int h) const;

    // --- options and network helper windows ---
    // The router and update windows, made hidden with the main window.
    CUPNPDlg* routerDialog() const { return m_routerDlg; }
    CUpdateDlg* updateDialog() const { return m_updateDlg; }
    // "Contacts Browsing Our Shares..." (hidden until F4).
    CClientDlg* browsingContactsWindow() const { return m_clientDlg; }
    // "Program Options": applied through the controller on OK.
    void openOptions();
    // "Edit Shared Folders" of the contact menu.
    void editSharedFolders(Contact& contact);
    // "What is my IP?": a new IP helper each time.
    void openIpHelper();

    void setVisible(bool visible) override;

signals:
    void exitRequested();
    // Command 2024: a bar moved by offset pixels.
    void barMoved(int offset, int controlId);
    // "Show Chat Dialog" and "Clear Messages" of the contact menu.
    void chatWindowRequested(Contact& contact);
    void historyCleared(Contact& contact);

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void buildMenus();
    QAction* addCommand(QMenu* menu, const QString& text, int command, bool checkable = false);
    void updateHeaderColours();
    void sendMessage();
    void sendFileTo(Contact& contact);
    bool queueSend(Contact& contact, const QString& path);
    void showContextMenuAt(QTreeWidgetItem* row);
    std::optional<QString> prompt(const QString& caption, const QString& text,
                                  const QString& value);
    // A prompt about a contact; nothing when the contact left the list meanwhile.
    std::optional<QString> promptFor(Contact& contact, const QString& caption, const QString& text,
                                     const QString& value);
    void editAutosavePath(Contact& contact);
    void openDownloadFolder(Contact& contact);
    void showProperties(Contact& contact);
    void showAbout();
    void openHelp();
    void viewToggle(int32_t Settings::*word, int command);

    MessengerController& m_controller;
    TransferManager* m_transfers = nullptr;
    QWidget* m_client;
    CStaticColor* m_contactLine;
    CMsgRichEdit2* m_pane;
    CVertSplitter* m_vbar;
    CStaticColor* m_myStatus;
    CListCtrlEx* m_list;
    CHorzSplitter* m_hbar;
    CMsgRichEdit2* m_input;
    QPushButton* m_send;
    CStaticColor* m_typingLine;
    CTrayIcon* m_tray;
    ControlAnchors m_anchors;
    QHash<int, QAction*> m_actions;
    bool m_mayShow = true;
    bool m_exiting = false;
    bool m_layoutReady = false;
    int m_ownStatus = 0;
    CUPNPDlg* m_routerDlg = nullptr;
    CUpdateDlg* m_updateDlg = nullptr;
    CClientDlg* m_clientDlg = nullptr;
    void createHelperWindows();
};

#pragma once

#include "messenger/richtext.h"

#include "messenger/chathistory.h"
#include "messenger/chathost.h"
#include "messenger/chatsessions.h"
#include "records/contact.h"
#include "records/identity.h"
#include "messenger/messengerui.h"
#include "profile/profilestore.h"
#include "profile/settings.h"
#include "transport/sessionthread.h"

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPoint>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class CListenThread;
class QTimer;

// Periods of the controller's timers; tests shorten them.
struct ControllerTimings
{
    int startupDelayMs = 30000; // after a "-m" start, before the automatic work (timer 20)
    int idleCheckMs = 300000;   // idle check and dynamic-IP reconnection (timer 30)
    int leaveIdleMs = 1000;     // return from idle (timer 40)
    int dailyMs = 86400000;     // daily update check (timer 50)
    int exitFinalStepMs = 100;  // last step of exit after the threads ended (timer 10)
};

// The logic of the main window: owns the contact list, the own identity and
// the settings, starts the listener and the outgoing chat sessions, decides
// which identified peers are accepted, keeps presence up to date, turns
// session events into event lines, sounds and popups, sends and queues
// messages, and shuts every thread down in order at exit.
//
// Lives on the main thread. Chat sessions reach it through ChatHost (their
// calls arrive on the main thread); it reaches them by SessionId.
class MessengerController : public QObject, public ChatHost
{
    Q_OBJECT
public:
    // Offline message queues refuse new pieces at this length.
    static constexpr qsizetype QueueLimit = 10240;

    // ui and profileUi must outlive the controller; they may be one object.
    // Every thread the controller starts registers in registry.
    MessengerController(MessengerUi* ui, ProfileUi* profileUi,
                        ThreadRegistry& registry = ThreadRegistry::instance(),
                        QObject* parent = nullptr);
    ~MessengerController() override;

    // --- configuration, before start() ---
    // The profile folder (ending in '/'); default ProfileFolder().
    void setProfileFolder(const QString& folder);
    // The "-m" start: automatic work after startupDelayMs, connecting to all.
    void setMinimizedStart(bool on);
    void setTimings(const ControllerTimings& timings);
    // Address the listener binds (default any); tests use 127.0.0.1.
    void setListenAddress(const QHostAddress& address);
    // Own data port to use instead of the stored one (0 picks a free port);
    // written to MyInfo.cfg. Applied after the profile is loaded.
    void setPortOverride(int port);
    // Cursor position source; without one the user never becomes Idle.
    void setIdleSource(IdleSource* source);
    // The transfer rows' contact hooks (may be null).
    void setContactHooks(ContactHooks* hooks);
    // Plugs further session kinds (file, browse) into the listener before it starts.
    void setListenerSetup(std::function<void(CListenThread&)> setup);
    // Reads Transfers.cfg while the profile loads, right after the contacts
    // joined the list (not called when Contacts.cfg is missing).
    void setLoadTransfersHook(std::function<void(const QList<Contact*>&)> hook);
    // Writes Transfers.cfg at exit.
    void setSaveTransfersHook(std::function<void()> hook);
    // Runs as exit begins, before any session is told to end (the transfer
    // list stops starting transfers); the save hook runs once they have ended.
    void setStopTransfersHook(std::function<void()> hook);
    // The automatic work besides connecting: the update check (only called
    // when autoUpdate is on) and the router start-up step.
    void setUpdateCheckHook(std::function<void()> hook);
    void setRouterStartupHook(std::function<void()> hook);

    // Defaults, profile, own status, listener, automatic work, timers.
    void start();

    // --- state ---
    const Identity& myIdentity() const { return m_own; }
    // The own identity as a peer receives it: its password field holds the
    // password kept for that contact (the one typed when it was added), never
    // the own connection password. Without a contact it holds nothing.
    Identity identityForPeer(const Contact* contact = nullptr) const;
    const Settings& settings() const { return m_settings; }
    WindowPositions& windowPositions() { return m_windows; }
    // Valid after start().
    const ProfileStore& profileStore() const { return *m_store; }
    // The chat sessions this controller started or accepted.
    ChatSessions& chatSessions() { return *m_sessions; }
    ThreadRegistry& threadRegistry() const { return m_registry; }
    bool isExiting() const { return m_exiting; }
    // start() has run: the profile store exists.
    bool isStarted() const { return m_started; }
    // The port the listener listens on; 0 until it listens.
    quint16 listenPort() const { return m_listenPort; }

    int contactCount() const { return int(m_entries.size()); }
    Contact* contactAt(int row) const;
    QList<Contact*> contacts() const;
    int rowOf(const Contact* contact) const;
    Contact* findContact(const QByteArray& uid) const;
    Contact* findContactBySession(SessionId session) const;

    ChatHistory& mainHistory() { return m_mainHistory; }
    ChatHistory& history(const Contact& contact);
    QString mainStatusText() const { return m_mainStatus; }
    QString chatStatusText(const Contact& contact) const;
    // The own status label: "My Status: Online", "My Status: Away", "My
    // Status: <away message>", "My Status: Offline".
    static QString myStatusLabel(int status, const QString& awayMessage);

    // --- commands ---
    void Connect(Contact& contact);
    void ConnectAll();
    // A new contact from the add-contact dialog; it joins the list when the
    // peer is identified.
    void AddContact(const QString& host, int port, const QByteArray& password,
                    const QByteArray& key);
    void Disconnect(Contact& contact);
    void Block(Contact& contact);
    void Unblock(Contact& contact);
    // Null: "No contact selected to delete.". With confirm, asks first.
    // False when nothing was deleted (no contact, or the user said No).
    bool Delete(Contact* contact, bool confirm = true);
    void SetMyStatus(int status);
    // Prompts for the away message ("Set Away Message").
    void PromptAwayMessage();
    // Non-empty: Away with this message; empty: Away.
    void SetAwayMessage(const QString& text);
    // Prompts for a new screen name ("Set Screen Name").
    void PromptScreenName();
    // A non-empty name replaces the own name, is written to MyInfo.cfg and
    // sent to every session.
    bool SetScreenName(const QString& name);
    void SetAlias(Contact& contact, const QString& alias);
    void BroadcastIdentity();
    void BroadcastSharesFlag();
    // The options dialog closed with OK: new settings and own identity.
    void ApplyOptions(const Settings& settings, const Identity& own);
    // The same, with whether sharing with everyone was on (sharing enabled
    // and a non-empty all-contacts list) when the dialog opened: the shares
    // notice goes out only when that changed across the dialog.
    void ApplyOptions(const Settings& settings, const Identity& own, bool sharingBefore);
    // Sharing with everyone is on: sharing enabled and the all-contacts list
    // not empty.
    bool isSharingWithAll() const { return generalSharing(); }
    // A View menu toggle: one option word changes and Settings.cfg is
    // written at once, without the rest of what the options dialog applies.
    void SetViewOption(int32_t Settings::*word, int32_t value);
    // The user edited a contact's address, port, key or autosave path in
    // place: the transfer rows and the contact's windows follow.
    void ContactEdited(Contact& contact);

    // --- messages ---
    // Sending outcome of SendFromMain.
    struct SendResult
    {
        QStringList sent;   // display names that got the message or a queued copy
        QStringList failed; // display names whose queue was full
        bool queued = false;
        // The input is cleared (and focused) by the caller.
        bool clearInput = false;
    };
    // The main window's Send: the message to every selected contact, in list order.
    SendResult SendFromMain(const QList<Contact*>& selected, const QByteArray& rtf);
    // A chat window's Send; true when the input is to be cleared.
    bool SendFromChatWindow(Contact& contact, const QByteArray& rtf);
    // Appends a queued piece; false when the queue already holds QueueLimit
    // characters or more, or when the piece would make the queue longer than
    // QueMsgs.cfg can hold (MaxProfileText).
    bool QueueMessage(Contact& contact, const QByteArray& rtf);
    QByteArray TakeQueue(Contact& contact);
    // With confirm, asks first; false when the queue was kept.
    bool ClearQueue(Contact& contact, bool confirm = true);
    // Opens the queue viewer ("Offline Message Queue for %s").
    void ShowQueue(Contact& contact);
    static QList<QByteArray> queueDocuments(const Contact& contact);
    // True when the contact has a session and does not show itself Offline.
    static bool canTakeMessage(const Contact& contact);
    // The main input's typing flag changed, with the rows selected then.
    void MainInputTyping(int flag, const QList<Contact*>& selected);
    // A chat window's input typing flag changed.
    void ChatInputTyping(Contact& contact, int flag);
    // A popup's Talk button: open the conversation with that contact.
    void Talk(const QByteArray& uid);

    // Listener notices (socket layer failed, port in use).
    void listenerNotice(int code, int argument);

    // --- exit ---
    // Writes WindowPos.cfg, stops the listener, saves the transfers, ends every
    // thread (off the main thread), then writes Contacts.cfg, Messages.cfg,
    // QueMsgs.cfg, clears everything and emits exited().
    void Exit();
    // The system session ends: writes the files at once without waiting for
    // the threads, then emits exited().
    void SessionEnding();

    // --- ChatHost ---
    Identity ownIdentity() override;
    bool peerIdentified(SessionId session, const Contact& sessionContact, bool opened) override;
    void identityUpdated(SessionId session, const Contact& sessionContact) override;
    int ownSharesFlag(SessionId session) override;
    void peerSharesFlag(SessionId session, int flag) override;
    QByteArray takeQueue(SessionId session) override;
    void messageReceived(SessionId session, const QByteArray& rtf) override;
    void queueReceived(SessionId session, const QByteArray& rtf) override;
    void typingReceived(SessionId session, int flag) override;
    void sessionEnded(SessionId session, const Contact& sessionContact, EndReason reason,
                      bool opened) override;

    // --- shared folders ---
    // One row of the browsing-contacts window: "%s (%s)" (display name, ip)
    // and the owner-side browse session it stands for.
    struct BrowsingRow
    {
        quint64 browseSession = 0;
        QString text;
    };
    // The contact's own shares, then the shares for everybody (duplicates
    // kept); nothing for a uid that is not in the list.
    QList<QByteArray> EffectiveSharedPaths(const QByteArray& uid) const;
    // "Edit Shared Folders" closed with OK: the new list, and the contact's
    // shares flag to its chat session.
    void SetContactShares(Contact& contact, const QList<QByteArray>& shares);
    // Sharing switched or the list for everybody edited (as the options do):
    // stored in Settings.cfg; every chat session hears its flag when the
    // general sharing state changed.
    void SetGeneralSharing(bool enabled, const QList<QByteArray>& sharedPaths);
    // A viewer asked for its root list: popup "Is Browsing" when
    // animateBrowse is on, and a browsing row. Nothing for an unknown uid.
    void BrowsingStarted(quint64 browseSession, const QByteArray& uid);
    // That session ended: its row goes.
    void BrowsingEnded(quint64 browseSession);
    const QList<BrowsingRow>& browsingRows() const { return m_browsingRows; }
    // "Kick User": ends the row's browse session (the row goes when it ends).
    void KickUser(int row);
    // Ends a browse session; set by the shares code.
    void setBrowseEnder(std::function<void(quint64)> ender);
    // Notice 2: a browser opened; status line "Connected to "%s" shares".
    void SharesConnected(const QString& title);
    // "View Remote Shares" on a contact: the checks of the remote-contacts
    // window, then "Trying to connect to shares..." and the browse request to
    // its chat session. False when a message box said why not.
    bool ViewRemoteShares(const QByteArray& uid);
    // Adds a listener set-up after the ones set before.
    void addListenerSetup(std::function<void(CListenThread&)> setup);

signals:
    // The listener listens on this port (also after a port change).
    void listening(quint16 port);
    // Exit finished: files written, everything cleared.
    void exited();
    // The settings changed (options applied or a View option toggled).
    void settingsChanged();

private:
    struct Entry;

    Entry* entryOf(const Contact& contact) const;
    void addEntry(std::unique_ptr<Contact> contact);
    void removeContact(Contact& contact);
    SessionId startSession(const Contact& contact, const Identity& own);
    static void copyPeerIdentity(const Contact& from, Contact& to);
    void emitEvent(const QString& text);
    void setMainStatus(const QString& text);
    void setChatStatus(Contact& contact, const QString& text);
    void requestEnd(const Contact& contact, EndReason reason);
    void refreshContact(const Contact& contact);
    void refreshTypingLine();
    void announceOnline(const Contact& contact);
    void renameStep(Contact& contact, const QString& oldName);
    void noticeMessage(Contact& contact, bool queue);
    // A message is read once and the document goes into every pane it shows in.
    void appendOwnLine(const Contact* pane, bool queued, const QString& recipients,
                       const RichText& message);
    void appendPeerLine(Contact& contact, bool queue, const QByteArray& rtf);
    bool postMessage(Contact& contact, const QByteArray& rtf);
    int sharesFlagFor(const Contact& contact) const;
    bool generalSharing() const;
    void automaticWork(bool connectAll);
    void idleCheck();
    void leaveIdleCheck();
    void writeWindowPositions();
    void writeFinalFiles();
    void stopTimers();
    void clearAll();
    void finishExit();

    MessengerUi* m_ui;
    ThreadRegistry& m_registry;
    std::unique_ptr<ChatSessions> m_sessions;
    CListenThread* m_listenerWorker = nullptr;
    ProfileUi* m_profileUi;
    std::unique_ptr<ProfileStore> m_store;
    QString m_profileFolder;
    bool m_minimizedStart = false;
    ControllerTimings m_timings;
    QHostAddress m_listenAddress = QHostAddress::Any;
    int m_portOverride = -1;
    IdleSource* m_idleSource = nullptr;
    ContactHooks* m_hooks = nullptr;
    std::function<void(CListenThread&)> m_listenerSetup;
    std::function<void(const QList<Contact*>&)> m_loadTransfers;
    std::function<void()> m_saveTransfers;
    // Sessions opened from AddContact: the password typed there, kept with
    // the contact once the peer is identified.
    QHash<SessionId, QByteArray> m_addPasswords;
    std::function<void()> m_stopTransfers;
    std::function<void()> m_updateCheck;
    std::function<void()> m_routerStartup;

    Settings m_settings;
    Identity m_own;
    WindowPositions m_windows;
    std::vector<std::unique_ptr<Entry>> m_entries;
    ChatHistory m_mainHistory;
    QString m_mainStatus;

    SessionHandle m_listener;
    quint16 m_listenPort = 0;
    bool m_started = false;
    bool m_exiting = false;
    bool m_exited = false;
    QPoint m_idleSample;
    QTimer* m_startupTimer = nullptr;
    QTimer* m_idleTimer = nullptr;
    QTimer* m_leaveIdleTimer = nullptr;
    QTimer* m_dailyTimer = nullptr;
    QList<BrowsingRow> m_browsingRows;
    std::function<void(quint64)> m_browseEnder;
};

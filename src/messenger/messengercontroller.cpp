#include "messengercontroller.h"

#include "messenger/messengercontrollerdetail.h"
#include "messenger/rtfreader.h"
#include "profile/profilefolder.h"
#include "transport/listenthread.h"

#include <QDateTime>
#include <QLoggingCategory>
#include <QTimer>

#include <algorithm>

Q_LOGGING_CATEGORY(lcMessenger, "zephlink.messenger")

using namespace ControllerDetail;

MessengerController::MessengerController(MessengerUi* ui, ProfileUi* profileUi,
                                         ThreadRegistry& registry, QObject* parent)
    : QObject(parent), m_ui(ui), m_registry(registry),
      m_sessions(std::make_unique<ChatSessions>(*this, registry)), m_profileUi(profileUi)
{
    Q_ASSERT(ui);
    m_settings = Settings::defaults();
    m_own = DefaultIdentity();
}

MessengerController::~MessengerController()
{
    // Sessions must not report into a controller that is going away.
    m_sessions.reset();
    if (m_listener.isRunning())
        m_listener.end();
}

// --- configuration ---

void MessengerController::setProfileFolder(const QString& folder)
{
    m_profileFolder = folder;
}

void MessengerController::setMinimizedStart(bool on)
{
    m_minimizedStart = on;
}

void MessengerController::setTimings(const ControllerTimings& timings)
{
    m_timings = timings;
}

void MessengerController::setListenAddress(const QHostAddress& address)
{
    m_listenAddress = address;
}

void MessengerController::setPortOverride(int port)
{
    m_portOverride = port;
}

void MessengerController::setIdleSource(IdleSource* source)
{
    m_idleSource = source;
}

void MessengerController::setContactHooks(ContactHooks* hooks)
{
    m_hooks = hooks;
}

void MessengerController::setListenerSetup(std::function<void(CListenThread&)> setup)
{
    m_listenerSetup = std::move(setup);
}

void MessengerController::setLoadTransfersHook(std::function<void(const QList<Contact*>&)> hook)
{
    m_loadTransfers = std::move(hook);
}

void MessengerController::setSaveTransfersHook(std::function<void()> hook)
{
    m_saveTransfers = std::move(hook);
}

void MessengerController::setStopTransfersHook(std::function<void()> hook)
{
    m_stopTransfers = std::move(hook);
}

void MessengerController::setUpdateCheckHook(std::function<void()> hook)
{
    m_updateCheck = std::move(hook);
}

void MessengerController::setRouterStartupHook(std::function<void()> hook)
{
    m_routerStartup = std::move(hook);
}

// --- start-up ---

void MessengerController::start()
{
    if (m_started)
        return;
    m_started = true;

    // Defaults, then the profile over them.
    ProfileData data = ProfileData::withDefaults();
    m_store = std::make_unique<ProfileStore>(
        m_profileFolder.isEmpty() ? ProfileFolder() : m_profileFolder, m_profileUi);
    m_store->loadAll(data, [this](const QList<Contact>& loaded) {
        // The contacts are in the list before the transfers bind to them.
        for (const Contact& c : loaded)
            addEntry(std::make_unique<Contact>(c));
        if (m_loadTransfers)
            m_loadTransfers(contacts());
    });
    m_settings = data.settings;
    m_own = data.ownIdentity;
    m_windows = data.windows;
    if (m_entries.size() != size_t(data.contacts.size())) {
        // Loaded without the transfers step; the list is what the file held.
        for (const auto& e : m_entries)
            m_ui->contactRemoving(*e->contact);
        m_entries.clear();
        for (const Contact& c : data.contacts)
            addEntry(std::make_unique<Contact>(c));
    }
    // Queues and chat-window rectangles arrived after the contacts were read.
    for (qsizetype i = 0; i < data.contacts.size(); ++i)
        *m_entries[size_t(i)]->contact = data.contacts[i];
    m_mainHistory.setRtf(data.mainPaneRtf);
    for (qsizetype i = 0; i < data.histories.size() && size_t(i) < m_entries.size(); ++i)
        m_entries[size_t(i)]->history.setRtf(data.histories[i]);
    if (m_portOverride >= 0 && m_portOverride <= 65535 && m_own.port != m_portOverride) {
        m_own.port = m_portOverride;
        if (m_portOverride != 0)
            m_store->writeMyInfo(m_own);
    }
    m_ui->contactListChanged();

    SetMyStatus(StatusOnline);

    auto* listener = new CListenThread(quint16(std::clamp(m_own.port, 0, 65535)), m_registry);
    listener->setListenAddress(m_listenAddress);
    listener->setDefaultSessionKey(m_own.key.bytes());
    listener->setSessionFactory(ConnectionHello::Chat, m_sessions->acceptedSessionFactory());
    if (m_listenerSetup)
        m_listenerSetup(*listener);
    connect(listener, &CListenThread::notice, this, &MessengerController::listenerNotice);
    connect(listener, &CListenThread::listening, this, [this](quint16 port) {
        m_listenPort = port;
        if (m_portOverride == 0 && m_own.port != port) {
            // A free port was picked: peers must learn it.
            m_own.port = port;
            m_store->writeMyInfo(m_own);
            BroadcastIdentity();
        }
        emit listening(port);
    });
    m_listenerWorker = listener;
    m_listener = startSessionThread(listener, ThreadKind::Listener, m_registry);
    if (!m_listener.isValid())
        m_listenerWorker = nullptr;

    if (m_minimizedStart) {
        m_startupTimer = new QTimer(this);
        m_startupTimer->setSingleShot(true);
        connect(m_startupTimer, &QTimer::timeout, this, [this] { automaticWork(true); });
        m_startupTimer->start(m_timings.startupDelayMs);
    } else {
        automaticWork(Settings::on(m_settings.connectAllOnStartup));
    }

    m_idleSample = m_idleSource ? m_idleSource->cursorPosition() : QPoint();
    m_idleTimer = new QTimer(this);
    connect(m_idleTimer, &QTimer::timeout, this, &MessengerController::idleCheck);
    m_idleTimer->start(m_timings.idleCheckMs);
    m_leaveIdleTimer = new QTimer(this);
    connect(m_leaveIdleTimer, &QTimer::timeout, this, &MessengerController::leaveIdleCheck);
    m_leaveIdleTimer->start(m_timings.leaveIdleMs);
    m_dailyTimer = new QTimer(this);
    connect(m_dailyTimer, &QTimer::timeout, this, [this] {
        if (Settings::on(m_settings.autoUpdate) && m_updateCheck)
            m_updateCheck();
    });
    m_dailyTimer->start(m_timings.dailyMs);
}

void MessengerController::automaticWork(bool connectAll)
{
    if (m_exiting)
        return;
    if (connectAll)
        ConnectAll();
    if (Settings::on(m_settings.autoUpdate) && m_updateCheck)
        m_updateCheck();
    if (m_routerStartup)
        m_routerStartup();
}

void MessengerController::idleCheck()
{
    if (m_exiting)
        return;
    if (m_idleSource) {
        const QPoint pos = m_idleSource->cursorPosition();
        const bool idle = m_own.awayMessage.text() == IdleMessage;
        if (Settings::on(m_settings.idleAway)) {
            // Only an Online user turns Idle: an away message or Offline
            // chosen by hand stays.
            if (pos == m_idleSample && !idle && m_own.status == StatusOnline) {
                m_own.awayMessage.setText(IdleMessage);
                SetMyStatus(StatusAwayMessage);
            } else if (pos != m_idleSample && idle) {
                // The cursor moved since the last look: taking the new sample
                // without leaving idle would keep the user Idle.
                m_own.awayMessage.clear();
                SetMyStatus(StatusOnline);
            }
        }
        m_idleSample = pos;
    }
    if (Settings::on(m_settings.dynamicIp))
        ConnectAll();
}

void MessengerController::leaveIdleCheck()
{
    if (m_exiting || !m_idleSource || !Settings::on(m_settings.idleAway))
        return;
    const QPoint pos = m_idleSource->cursorPosition();
    if (pos != m_idleSample && m_own.awayMessage.text() == IdleMessage) {
        m_own.awayMessage.clear();
        m_idleSample = pos;
        SetMyStatus(StatusOnline);
    }
}

void MessengerController::listenerNotice(int code, int argument)
{
    const QString t = ListenNotice::text(code, argument);
    if (t.isEmpty())
        return;
    m_ui->messageBox(ListenNotice::icon(code) == ListenNotice::Icon::Error
                         ? MessengerUi::Icon::Error
                         : MessengerUi::Icon::Warning,
                     ListenNotice::caption(code), t);
}

// --- contact list ---

MessengerController::Entry* MessengerController::entryOf(const Contact& contact) const
{
    for (const auto& e : m_entries) {
        if (e->contact.get() == &contact)
            return e.get();
    }
    return nullptr;
}

void MessengerController::addEntry(std::unique_ptr<Contact> contact)
{
    auto entry = std::make_unique<Entry>();
    entry->contact = std::move(contact);
    const Contact& c = *entry->contact;
    m_entries.push_back(std::move(entry));
    m_ui->contactAdded(c);
}

void MessengerController::removeContact(Contact& contact)
{
    const auto it = std::find_if(m_entries.begin(), m_entries.end(),
                                 [&](const auto& e) { return e->contact.get() == &contact; });
    if (it == m_entries.end())
        return;
    if (m_hooks)
        m_hooks->contactRemoved(contact);
    m_ui->contactRemoving(contact);
    const bool wasTyping = contact.typing != 0;
    m_entries.erase(it);
    if (wasTyping)
        refreshTypingLine();
    m_ui->contactListChanged();
}

Contact* MessengerController::contactAt(int row) const
{
    if (row < 0 || size_t(row) >= m_entries.size())
        return nullptr;
    return m_entries[size_t(row)]->contact.get();
}

QList<Contact*> MessengerController::contacts() const
{
    QList<Contact*> list;
    list.reserve(qsizetype(m_entries.size()));
    for (const auto& e : m_entries)
        list.append(e->contact.get());
    return list;
}

int MessengerController::rowOf(const Contact* contact) const
{
    for (size_t i = 0; i < m_entries.size(); ++i) {
        if (m_entries[i]->contact.get() == contact)
            return int(i);
    }
    return -1;
}

Contact* MessengerController::findContact(const QByteArray& uid) const
{
    for (const auto& e : m_entries) {
        if (e->contact->uid.bytes() == uid)
            return e->contact.get();
    }
    return nullptr;
}

Contact* MessengerController::findContactBySession(SessionId session) const
{
    if (session == 0)
        return nullptr;
    for (const auto& e : m_entries) {
        if (e->contact->sessionThread == session)
            return e->contact.get();
    }
    return nullptr;
}

ChatHistory& MessengerController::history(const Contact& contact)
{
    Entry* e = entryOf(contact);
    Q_ASSERT(e);
    return e->history;
}

QString MessengerController::chatStatusText(const Contact& contact) const
{
    const Entry* e = entryOf(contact);
    return e ? e->status : QString();
}

void MessengerController::emitEvent(const QString& text)
{
    qCDebug(lcMessenger) << "event:" << text;
    m_ui->eventLine(text);
}

void MessengerController::setMainStatus(const QString& text)
{
    m_mainStatus = text;
    m_ui->mainStatusChanged(text);
}

void MessengerController::setChatStatus(Contact& contact, const QString& text)
{
    Entry* e = entryOf(contact);
    if (!e)
        return;
    e->status = text;
    m_ui->chatStatusChanged(contact, text);
}

void MessengerController::requestEnd(const Contact& contact, EndReason reason)
{
    Entry* e = entryOf(contact);
    // A delete is not weakened by a later block.
    if (e && e->requestedEnd != EndReason::Delete)
        e->requestedEnd = reason;
}

void MessengerController::refreshContact(const Contact& contact)
{
    m_ui->contactChanged(contact);
}

// --- commands ---

Identity MessengerController::identityForPeer(const Contact* contact) const
{
    Identity own = m_own;
    if (contact)
        own.password = contact->password;
    else
        own.password.clear();
    return own;
}

SessionId MessengerController::startSession(const Contact& contact, const Identity& own)
{
    const SessionId session = m_sessions->startOpened(own, CopyContact(contact, false));
    if (session == 0)
        qCDebug(lcMessenger) << "no session started: the program is closing";
    return session;
}

void MessengerController::Connect(Contact& contact)
{
    emitEvent(QStringLiteral("Trying to connect to: %1:%2...")
                  .arg(DisplayName(contact))
                  .arg(contact.port));
    if (contact.sessionThread != 0)
        return;
    contact.blocked = 0;
    contact.status = StatusOffline;
    refreshContact(contact);
    startSession(contact, identityForPeer(&contact));
}

void MessengerController::ConnectAll()
{
    if (m_entries.empty()) {
        emitEvent(QStringLiteral("You have no contacts"));
        return;
    }
    emitEvent(QStringLiteral("Trying to connect to all contacts..."));
    int started = 0;
    for (const auto& e : m_entries) {
        Contact& c = *e->contact;
        if (c.blocked != 0 || c.sessionThread != 0)
            continue;
        c.status = StatusOffline;
        startSession(c, identityForPeer(&c));
        ++started;
    }
    if (started == 0)
        emitEvent(QStringLiteral("No offline contacts to connect to"));
    else
        m_ui->contactListChanged();
}

void MessengerController::AddContact(const QString& host, int port, const QByteArray& password,
                                     const QByteArray& key)
{
    Contact c = NewContact();
    c.ip.setText(host);
    c.port = port;
    c.password.set(password);
    if (!key.isEmpty())
        c.key.set(key);
    emitEvent(QStringLiteral("Trying to connect to: %1:%2...").arg(c.ip.text()).arg(c.port));
    // The peer checks the password it receives against its own; the contact
    // keeps it for later connections.
    const SessionId session = startSession(c, identityForPeer(&c));
    if (session != 0)
        m_addPasswords.insert(session, password);
}

void MessengerController::Disconnect(Contact& contact)
{
    if (contact.sessionThread != 0)
        m_sessions->end(contact.sessionThread, EndReason::Disconnect);
}

void MessengerController::Block(Contact& contact)
{
    // With a session the rest happens when it has ended. A session that is
    // already ending refuses the post, but its end is still to be reported
    // (the report clears sessionThread), so the block waits for it as well.
    if (contact.sessionThread != 0) {
        m_sessions->end(contact.sessionThread, EndReason::Block);
        requestEnd(contact, EndReason::Block);
        return;
    }
    contact.status = StatusBlocked;
    contact.blocked = 1;
    refreshContact(contact);
}

void MessengerController::Unblock(Contact& contact)
{
    if (contact.blocked == 0 && contact.status != StatusBlocked)
        return;
    contact.status = StatusOffline;
    contact.blocked = 0;
    refreshContact(contact);
}

bool MessengerController::Delete(Contact* contact, bool confirm)
{
    if (!contact || !entryOf(*contact)) {
        m_ui->messageBox(MessengerUi::Icon::Warning, QStringLiteral("No Selection"),
                         QStringLiteral("No contact selected to delete."));
        return false;
    }
    if (confirm) {
        const QString where = contact->dns.isEmpty() ? contact->ip.text() : contact->dns.text();
        if (!m_ui->askYesNo(QStringLiteral("Delete Contact?"),
                            QStringLiteral("Are you sure you want to delete:\n%1 (%2)")
                                .arg(DisplayName(*contact), where)))
            return false;
    }
    // With a session, even one that is already ending, the row goes when the
    // session reports its end.
    if (contact->sessionThread != 0) {
        m_sessions->end(contact->sessionThread, EndReason::Delete);
        requestEnd(*contact, EndReason::Delete);
        return true;
    }
    removeContact(*contact);
    return true;
}

QString MessengerController::myStatusLabel(int status, const QString& awayMessage)
{
    switch (status) {
    case StatusOnline:
        return QStringLiteral("My Status: Online");
    case StatusAway:
        return QStringLiteral("My Status: Away");
    case StatusAwayMessage:
        return QStringLiteral("My Status: %1").arg(awayMessage);
    case StatusOffline:
        return QStringLiteral("My Status: Offline");
    default:
        return QString();
    }
}

void MessengerController::SetMyStatus(int status)
{
    if (status < StatusOnline || status > StatusOffline)
        return;
    m_own.status = status;
    QList<StatusLabelColor> colors;
    switch (status) {
    case StatusOnline:
        colors = {{0, 255, 0}, {0, 50, 0}, {0, 175, 0}};
        break;
    case StatusAway:
    case StatusAwayMessage:
        colors = {{75, 75, 75}, {175, 175, 0}, {255, 255, 0}};
        break;
    default:
        colors = {{255, 0, 0}, {50, 0, 0}, {165, 0, 0}};
        break;
    }
    m_ui->myStatusChanged(status, myStatusLabel(status, m_own.awayMessage.text()), colors);
    BroadcastIdentity();
}

void MessengerController::PromptAwayMessage()
{
    const std::optional<QString> answer =
        m_ui->askText(QStringLiteral("Set Away Message"),
                      QStringLiteral("\nType a short away message."), m_own.awayMessage.text());
    if (answer)
        SetAwayMessage(*answer);
}

void MessengerController::SetAwayMessage(const QString& text)
{
    m_own.awayMessage.setText(text);
    SetMyStatus(m_own.awayMessage.isEmpty() ? StatusAway : StatusAwayMessage);
}

void MessengerController::PromptScreenName()
{
    const std::optional<QString> answer = m_ui->askText(
        ProfileStore::screenNameTitle(), ProfileStore::screenNamePrompt(), m_own.name.text());
    if (answer)
        SetScreenName(*answer);
}

bool MessengerController::SetScreenName(const QString& name)
{
    if (name.isEmpty())
        return false;
    m_own.name.setText(name);
    if (m_store)
        m_store->writeMyInfo(m_own);
    BroadcastIdentity();
    return true;
}

void MessengerController::SetAlias(Contact& contact, const QString& alias)
{
    contact.alias.setText(alias);
    if (m_hooks)
        m_hooks->contactNameOrAddressChanged(contact);
    refreshContact(contact);
}

void MessengerController::BroadcastIdentity()
{
    for (const auto& e : m_entries) {
        if (e->contact->sessionThread != 0)
            m_sessions->postOwnIdentity(e->contact->sessionThread,
                                        identityForPeer(e->contact.get()));
    }
}

void MessengerController::BroadcastSharesFlag()
{
    for (const auto& e : m_entries) {
        if (e->contact->sessionThread != 0)
            m_sessions->postSharesFlag(e->contact->sessionThread, sharesFlagFor(*e->contact));
    }
}

bool MessengerController::generalSharing() const
{
    return Settings::on(m_settings.sharingEnabled) && !m_settings.sharedPaths.isEmpty();
}

int MessengerController::sharesFlagFor(const Contact& contact) const
{
    return Settings::on(m_settings.sharingEnabled) &&
                   (!contact.shares.isEmpty() || !m_settings.sharedPaths.isEmpty())
               ? 1
               : 0;
}

void MessengerController::ApplyOptions(const Settings& settings, const Identity& own)
{
    ApplyOptions(settings, own, generalSharing());
}

void MessengerController::ApplyOptions(const Settings& settings, const Identity& own,
                                       bool sharingBefore)
{
    m_settings = settings;
    const int32_t status = m_own.status;
    const auto uid = m_own.uid;
    m_own = own;
    // Presence and uid are not options.
    m_own.status = status;
    m_own.uid = uid;
    // The windows take the translucency first, then the listener moves.
    emit settingsChanged();
    if (m_listenerWorker && m_own.port >= 0 && m_own.port <= 65535) {
        CListenThread* listener = m_listenerWorker;
        const quint16 port = quint16(m_own.port);
        m_listener.post([listener, port] { listener->changePort(port); });
    }
    if (m_store) {
        m_store->writeSettings(m_settings);
        m_store->writeMyInfo(m_own);
    }
    BroadcastIdentity();
    if (generalSharing() != sharingBefore)
        BroadcastSharesFlag();
}

void MessengerController::SetViewOption(int32_t Settings::*word, int32_t value)
{
    m_settings.*word = value;
    if (m_store)
        m_store->writeSettings(m_settings);
    emit settingsChanged();
}

void MessengerController::ContactEdited(Contact& contact)
{
    if (!entryOf(contact))
        return;
    if (m_hooks)
        m_hooks->contactNameOrAddressChanged(contact);
    m_ui->contactChanged(contact);
}

// --- exit ---

void MessengerController::writeWindowPositions()
{
    QList<Contact*> list = contacts();
    m_ui->refreshWindowPositions(m_windows, list);
    QList<Contact> copies;
    for (const Contact* c : list)
        copies.append(*c);
    m_store->writeWindowPos(m_windows, copies);
}

void MessengerController::writeFinalFiles()
{
    if (!m_store)
        return;
    QList<Contact> copies;
    QList<QByteArray> histories;
    for (const auto& e : m_entries) {
        copies.append(*e->contact);
        histories.append(e->history.GetRtf());
    }
    m_store->writeContacts(copies);
    m_store->writeMessages(m_mainHistory.GetRtf(), histories);
    m_store->writeQueMsgs(copies);
}

void MessengerController::stopTimers()
{
    for (QTimer* t : {m_startupTimer, m_idleTimer, m_leaveIdleTimer, m_dailyTimer}) {
        if (t)
            t->stop();
    }
}

void MessengerController::Exit()
{
    if (m_exiting)
        return;
    m_exiting = true;
    stopTimers();
    if (m_store)
        writeWindowPositions();
    m_ui->hideWindows();
    m_listener.end();
    if (m_stopTransfers)
        m_stopTransfers();
    // Ending sessions report to this thread while the registry waits for
    // them, so the waiting happens elsewhere. The transfer list is saved
    // after they have ended: what they reported last is what is stored.
    m_registry.shutdownAllAsync(this, [this] {
        if (m_saveTransfers)
            m_saveTransfers();
        QTimer::singleShot(m_timings.exitFinalStepMs, this, &MessengerController::finishExit);
    });
}

void MessengerController::finishExit()
{
    if (m_exited)
        return;
    writeFinalFiles();
    clearAll();
    m_exited = true;
    emit exited();
}

void MessengerController::SessionEnding()
{
    if (m_exited)
        return;
    m_exiting = true;
    stopTimers();
    if (m_store)
        writeWindowPositions();
    m_ui->hideWindows();
    writeFinalFiles();
    if (m_stopTransfers)
        m_stopTransfers();
    if (m_saveTransfers)
        m_saveTransfers();
    m_exited = true;
    emit exited();
}

void MessengerController::clearAll()
{
    for (const auto& e : m_entries)
        m_ui->contactRemoving(*e->contact);
    m_entries.clear();
    m_mainHistory.Clear();
    m_ui->contactListChanged();
}

// --- shared folders ---

QList<QByteArray> MessengerController::EffectiveSharedPaths(const QByteArray& uid) const
{
    const Contact* c = findContact(uid);
    if (!c)
        return {};
    return c->shares + m_settings.sharedPaths;
}

void MessengerController::SetContactShares(Contact& contact, const QList<QByteArray>& shares)
{
    contact.shares = shares;
    if (contact.sessionThread != 0)
        m_sessions->postSharesFlag(contact.sessionThread, sharesFlagFor(contact));
}

void MessengerController::SetGeneralSharing(bool enabled, const QList<QByteArray>& sharedPaths)
{
    const bool before = generalSharing();
    m_settings.sharingEnabled = enabled ? 1 : 0;
    m_settings.sharedPaths = sharedPaths;
    if (m_store)
        m_store->writeSettings(m_settings);
    if (generalSharing() != before)
        BroadcastSharesFlag();
}

void MessengerController::BrowsingStarted(quint64 browseSession, const QByteArray& uid)
{
    const Contact* c = findContact(uid);
    if (!c)
        return;
    if (Settings::on(m_settings.animateBrowse))
        m_ui->popup(DisplayName(*c), QStringLiteral("Is Browsing"), c->uid.bytes());
    m_browsingRows.append(
        {browseSession, QStringLiteral("%1 (%2)").arg(DisplayName(*c), c->ip.text())});
    m_ui->browsingRowsChanged();
}

void MessengerController::BrowsingEnded(quint64 browseSession)
{
    const qsizetype removed = m_browsingRows.removeIf(
        [browseSession](const BrowsingRow& r) { return r.browseSession == browseSession; });
    if (removed > 0)
        m_ui->browsingRowsChanged();
}

void MessengerController::KickUser(int row)
{
    if (row >= 0 && row < m_browsingRows.size() && m_browseEnder)
        m_browseEnder(m_browsingRows[row].browseSession);
}

void MessengerController::setBrowseEnder(std::function<void(quint64)> ender)
{
    m_browseEnder = std::move(ender);
}

void MessengerController::SharesConnected(const QString& title)
{
    setMainStatus(QStringLiteral("Connected to \"%1\" shares").arg(title));
}

bool MessengerController::ViewRemoteShares(const QByteArray& uid)
{
    Contact* c = findContact(uid);
    QString caption, text;
    if (!c) {
        caption = QStringLiteral("Invalid Contact");
        text = QStringLiteral("Contact you are trying to view shares for was Deleted");
    } else if (!c->peerShares) {
        caption = QStringLiteral("Sharing Status Changed");
        text = QStringLiteral("Contact you are trying to view shares for is No Longer Sharing");
    } else if (c->status == StatusOffline || c->sessionThread == 0) {
        caption = QStringLiteral("Contact Not Online");
        text = QStringLiteral("Contact you are trying to view shares for is not Online anymore");
    }
    if (!text.isEmpty()) {
        m_ui->messageBox(MessengerUi::Icon::Warning, caption, text);
        return false;
    }
    setMainStatus(QStringLiteral("Trying to connect to shares..."));
    m_sessions->postBrowse(c->sessionThread);
    return true;
}

void MessengerController::addListenerSetup(std::function<void(CListenThread&)> setup)
{
    m_listenerSetup = [before = std::move(m_listenerSetup),
                       setup = std::move(setup)](CListenThread& listener) {
        if (before)
            before(listener);
        setup(listener);
    };
}

#include "transfers/transfermanager.h"

#include "messenger/messengercontroller.h"
#include "records/contact.h"
#include "transfers/acceptresume.h"
#include "transfers/headcrc.h"
#include "transfers/pathguard.h"
#include "transfers/sessionresult.h"
#include "transfers/transferformat.h"
#include "transfers/transferlist.h"
#include "transfers/transfermanagerdetail.h"
#include "transfers/transferslog.h"
#include "transport/connectionhello.h"
#include "transport/listenthread.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QMutexLocker>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <map>

using namespace TransferManagerDetail;

// Load and write errors of Transfers.cfg go to the transfers' user.
class TransferManager::ProfileMessages : public ProfileUi
{
public:
    explicit ProfileMessages(TransferUi* ui) : m_ui(ui) {}
    void showMessage(Icon icon, const QString& caption, const QString& text) override
    {
        if (m_ui)
            m_ui->messageBox(icon, caption, text);
    }
    bool askDynamicIp(const QString&, const QString&) override { return false; }
    std::optional<QString> askScreenName(const QString&, const QString&, const QString&) override
    {
        return std::nullopt;
    }

private:
    TransferUi* m_ui;
};

TransferManager::TransferManager(MessengerController& controller, TransferUi* ui, QObject* parent)
    : QObject(parent), m_controller(controller), m_ui(ui),
      m_profileMessages(std::make_unique<ProfileMessages>(ui)),
      m_files(std::make_unique<FileSessions>(*this, controller.threadRegistry()))
{
    m_scheduler = new QTimer(this);
    m_scheduler->setSingleShot(true);
    m_scheduler->setInterval(SchedulerPeriodMs);
    connect(m_scheduler, &QTimer::timeout, this, &TransferManager::ScheduleTick);
}

TransferManager::~TransferManager()
{
    if (m_attached) {
        m_controller.setContactHooks(nullptr);
        m_controller.setLoadTransfersHook({});
        m_controller.setSaveTransfersHook({});
        m_controller.setStopTransfersHook({});
    }
    // Sessions end and report to nobody; walks stop and nobody hears of it.
    m_files.reset();
    for (const auto& row : m_rows) {
        if (row->calc.isValid())
            row->calc.stop();
    }
}

void TransferManager::attach()
{
    m_attached = true;
    m_controller.setContactHooks(this);
    const SessionFactory accepted = m_files->acceptedSessionFactory();
    m_controller.setListenerSetup([accepted](CListenThread& listener) {
        listener.setSessionFactory(ConnectionHello::File, accepted);
    });
    m_controller.chatSessions().setDataSessionStarter(m_files->dataSessionStarter());
    m_controller.setLoadTransfersHook([this](const QList<Contact*>&) { LoadTransfers(); });
    // Exit stops the scheduler at once and saves the list once the sessions
    // have ended, so every row is stored with its final progress.
    m_controller.setStopTransfersHook([this] { shutdown(); });
    m_controller.setSaveTransfersHook([this] { SaveTransfers(); });
    if (m_scheduler->interval() > 0)
        m_scheduler->start();
}

// --- timing ---

void TransferManager::setSchedulerPeriod(int ms)
{
    if (ms <= 0) {
        m_scheduler->stop();
        m_scheduler->setInterval(0);
        return;
    }
    m_scheduler->setInterval(ms);
    if (m_scheduler->isActive())
        m_scheduler->start();
}

void TransferManager::setConnectTimeout(int seconds)
{
    m_connectTimeout = seconds;
}

void TransferManager::setClock(std::function<int64_t()> clock)
{
    m_clock = std::move(clock);
}

int64_t TransferManager::now() const
{
    return m_clock ? m_clock() : QDateTime::currentSecsSinceEpoch();
}

// --- contacts ---

const Contact* TransferManager::boundContact(const Transfer& t) const
{
    return t.contactBound ? m_controller.findContact(t.contactUid) : nullptr;
}

bool TransferManager::contactOnline(const Transfer& t) const
{
    const Contact* c = boundContact(t);
    return c && c->sessionThread != 0;
}

bool TransferManager::contactOffline(const Transfer& t) const
{
    const Contact* c = boundContact(t);
    return !c || c->status == StatusOffline;
}

// A new send row: a folder's size is unknown until its walk ends, a file's
// size and head checksum are taken now. Fills t's size fields to match.
std::unique_ptr<TransferRow> TransferManager::newSendRow(Transfer& t, const Contact* contact) const
{
    auto row = std::make_unique<TransferRow>();
    row->contactText = contactText(contact);
    row->speedText = IdleSpeedText;
    if (t.isFolder) {
        row->sizeText = CalculatingText;
        t.sizeUnknown = 1;
        t.entries = NewEntryList();
        t.headCrc = 0;
    } else {
        t.totalSize = FileSize(t.senderPath);
        t.headCrc = HeadCrc(t.senderPath);
        row->sizeText = FormatSize(t.totalSize);
    }
    return row;
}

QString TransferManager::contactText(const Contact* contact) const
{
    // A row without a contact shows nothing rather than an empty " ()".
    if (!contact)
        return QString();
    return ContactColumnText(DisplayName(*contact), contact->ip.text());
}

QString TransferManager::RefusedRequestText(const QString& contactName, const QString& path)
{
    return QStringLiteral("Refused a request from %1 for a file that is not shared: %2")
        .arg(contactName.isEmpty() ? QStringLiteral("an unknown contact") : contactName,
             PathNamePart(path));
}

// --- rows ---

int TransferManager::firstRowWhere(const std::function<bool(const TransferRow&)>& match) const
{
    for (int i = 0; i < rowCount(); ++i) {
        if (match(*m_rows[size_t(i)]))
            return i;
    }
    return -1;
}

int TransferManager::rowOfKey(quint64 key) const
{
    return firstRowWhere([key](const TransferRow& r) { return r.key == key; });
}

int TransferManager::rowOfSession(uint32_t sessionId) const
{
    if (sessionId == 0)
        return -1;
    return firstRowWhere(
        [sessionId](const TransferRow& r) { return r.transfer.sessionThreadId == sessionId; });
}

int TransferManager::rowOfCalc(uint32_t calcId) const
{
    if (calcId == 0)
        return -1;
    return firstRowWhere(
        [calcId](const TransferRow& r) { return r.transfer.calcThreadId == calcId; });
}

QString TransferManager::columnText(int index, int column) const
{
    const TransferRow& r = row(index);
    const Transfer& t = r.transfer;
    switch (column) {
    case 0:
        return TransferDisplayName(t);
    case 1:
        return r.sizeText;
    case 2:
        return TransferTypeText(t);
    case 3:
        return r.contactText;
    case 4:
        return r.speedText;
    case 5:
        return t.statusText;
    case 6:
        return t.percent < 0 ? QString() : QString::number(t.percent);
    default:
        return QString();
    }
}

void TransferManager::insertRow(std::unique_ptr<TransferRow> row, int at)
{
    row->key = m_nextKey++;
    m_rows.insert(m_rows.begin() + at, std::move(row));
    emit rowInserted(at);
}

void TransferManager::changed(int row)
{
    emit rowChanged(row);
}

void TransferManager::deleteRow(int row)
{
    m_rows.erase(m_rows.begin() + row);
    emit rowRemoved(row);
}

// --- queueing and starting ---

int TransferManager::QueueSend(const Contact& contact, const QString& path, bool quiet)
{
    Transfer t = NewTransfer();
    t.contactUid = contact.uid.bytes();
    t.isSend = 1;
    const QFileInfo info(path);
    t.isFolder = info.isDir() ? 1 : 0;
    t.senderPath = withoutTrailingSeparators(QDir::cleanPath(info.absoluteFilePath()));
    return QueueTransfer(std::move(t), quiet);
}

int TransferManager::QueueRequestedSend(const QString& path, const QByteArray& contactUid)
{
    const Contact* contact = m_controller.findContact(contactUid);
    if (!contact)
        return -1;
    const bool offline = contact->status == StatusOffline;
    const int result = QueueSend(*contact, path, true);
    return offline ? -1 : 50 + result;
}

int TransferManager::QueueTransfer(Transfer t, bool quiet)
{
    const Contact* contact = m_controller.findContact(t.contactUid);
    t.contactBound = contact != nullptr;
    t.isSend = 1;
    if (t.isFolder)
        t.senderPath = withoutTrailingSeparators(t.senderPath);

    for (int i = 0; i < rowCount(); ++i) {
        TransferRow& r = *m_rows[size_t(i)];
        if (r.removeWhenStopped || !r.transfer.isSend || r.transfer.contactUid != t.contactUid ||
            !sameLocalPath(r.transfer.senderPath, t.senderPath))
            continue;
        if (quiet) {
            const TransferState before = r.transfer.state;
            if (!isRunningState(before)) {
                r.transfer.state = TransferState::Queued;
                changed(i);
            }
            return int(before);
        }
        if (m_ui)
            m_ui->messageBox(
                TransferUi::Icon::Warning, QStringLiteral("Duplicate Send"),
                QStringLiteral("The %1 you are trying to send to this contact\nis "
                               "already in the transfer list.")
                    .arg(t.isFolder ? QStringLiteral("folder") : QStringLiteral("file")));
        return 0;
    }

    t.queueTime = int32_t(now());
    t.statusText = QStringLiteral("Queued");
    auto row = newSendRow(t, contact);
    row->transfer = std::move(t);
    if (row->transfer.isFolder)
        startWalk(*row);
    insertRow(std::move(row), 0);

    if (!Settings::on(m_controller.settings().sendQueueEnabled))
        StartTransfer(0);
    if (!quiet && m_ui)
        m_ui->showTransfers(false);
    return 0;
}

bool TransferManager::StartTransfer(int index)
{
    if (index < 0 || index >= rowCount())
        return false;
    TransferRow& r = *m_rows[size_t(index)];
    Transfer& t = r.transfer;
    if (r.removeWhenStopped)
        return false;
    const Contact* contact = boundContact(t);
    if (!contact || contact->sessionThread == 0) {
        t.state = TransferState::ManualRetry;
        changed(index);
        return false;
    }
    t.connectTryTime = int32_t(now());
    // The session learns the entry list from the row once it knows its peer.
    Transfer copy = CopyTransfer(t);
    copy.contactBound = false;
    copy.entries.reset();
    if (copy.isSend)
        copy.statusText = OfferSizeText(copy);
    const QByteArray image = EncodeTransfer(copy);
    ChatSessions& chats = m_controller.chatSessions();
    const bool posted = t.isSend ? chats.postSendTransfer(contact->sessionThread, image)
                                 : chats.postReceiveTransfer(contact->sessionThread, image);
    if (!posted) {
        qCDebug(lcTransfers) << "chat session gone, transfer not started:" << t.senderPath;
        return false;
    }
    t.state = TransferState::Connecting;
    t.statusText = QStringLiteral("Trying to connect...");
    t.percent = -1;
    changed(index);
    return true;
}

void TransferManager::ScheduleTick()
{
    const int64_t t = now();
    int active = 0;
    int candidate = -1;
    for (int i = 0; i < rowCount(); ++i) {
        TransferRow& r = *m_rows[size_t(i)];
        Transfer& tr = r.transfer;
        if (r.removeWhenStopped)
            continue;
        if (tr.state == TransferState::Connecting && tr.connectTryTime != 0 &&
            t > int64_t(tr.connectTryTime) + m_connectTimeout) {
            tr.percent = std::max(tr.percent, 0);
            tr.statusText = QStringLiteral("Connect failed");
            tr.state = TransferState::ManualRetry;
            changed(i);
            continue;
        }
        if (isRunningState(tr.state))
            ++active;
        else if (tr.state == TransferState::Queued && !contactOffline(tr))
            candidate = i;
        else if (tr.state == TransferState::Failed && tr.isSend && !contactOffline(tr))
            candidate = i;
    }
    // The oldest candidate goes first; receives count against the limit too.
    const Settings& settings = m_controller.settings();
    if (candidate >= 0 && (!Settings::on(settings.sendQueueEnabled) ||
                           active < std::max(1, int(settings.maxSendTransfers))))
        StartTransfer(candidate);
    if (!m_shuttingDown && m_scheduler->interval() > 0)
        m_scheduler->start();
}

void TransferManager::ShowTransfers()
{
    if (m_ui)
        m_ui->showTransfers(true);
}

// --- commands ---

QList<TransferMenuItem> TransferManager::MenuItems(int index) const
{
    QList<TransferMenuItem> items;
    if (index < 0 || index >= rowCount())
        return items;
    const Transfer& t = row(index).transfer;
    const bool online = contactOnline(t);
    const auto command = [&items](TransferCommand c, const QString& text, bool enabled = true) {
        items.append({TransferMenuItem::Command, c, text, enabled});
    };
    const auto separator = [&items] { items.append({TransferMenuItem::Separator, {}, {}, false}); };

    switch (t.state) {
    case TransferState::Queued:
        command(TransferCommand::Start, QStringLiteral("Start Transfer Now"), online);
        command(TransferCommand::Remove, QStringLiteral("Remove From Que"));
        break;
    case TransferState::Waiting:
    case TransferState::Transferring:
        command(TransferCommand::Cancel, QStringLiteral("Cancel Transfer"));
        break;
    case TransferState::Completed:
        if (t.isSend) {
            if (t.isFolder && t.calcThreadId == 0)
                command(TransferCommand::ResendAll, QStringLiteral("Resend All Files"), online);
            else
                command(TransferCommand::Start, QStringLiteral("Resend Transfer"), online);
        }
        command(TransferCommand::Remove, QStringLiteral("Remove From List"));
        break;
    case TransferState::Failed:
    case TransferState::Canceled:
    case TransferState::ManualRetry:
        command(TransferCommand::Remove, QStringLiteral("Remove From List"));
        command(TransferCommand::Start, QStringLiteral("Retry Transfer"), online);
        break;
    case TransferState::Connecting: {
        // A late tick may leave the attempt a moment past its time-out.
        const int64_t left =
            std::max<int64_t>(0, int64_t(t.connectTryTime) - now() + m_connectTimeout);
        items.append(
            {TransferMenuItem::Info, {}, QStringLiteral("Timeout in %1sec").arg(left), false});
        break;
    }
    }
    separator();
    command(TransferCommand::ClearCompleted, QStringLiteral("Clear Completed"));
    command(TransferCommand::ClearIncomplete, QStringLiteral("Clear Incomplete"));
    command(TransferCommand::ClearCompletedAndIncomplete,
            QStringLiteral("Clear Completed && Incomplete"));
    command(TransferCommand::ClearQueued, QStringLiteral("Clear All Queued"));
    separator();
    command(TransferCommand::Open,
            t.isFolder ? QStringLiteral("Open Folder") : QStringLiteral("Open File"),
            t.isFolder || t.isSend || t.state == TransferState::Completed);
    command(TransferCommand::OpenContainingFolder, QStringLiteral("Open Containing Folder"));
    separator();
    command(TransferCommand::Properties, QStringLiteral("Properties"));
    return items;
}

bool TransferManager::Command(TransferCommand command, int index)
{
    switch (command) {
    case TransferCommand::ClearCompleted:
        return clearRows([](TransferState s) { return s == TransferState::Completed; }) > 0;
    case TransferCommand::ClearIncomplete:
        return clearRows(isIncomplete) > 0;
    case TransferCommand::ClearCompletedAndIncomplete:
        return clearRows([](TransferState s) {
                   return s == TransferState::Completed || isIncomplete(s);
               }) > 0;
    case TransferCommand::ClearQueued:
        return clearRows([](TransferState s) { return s == TransferState::Queued; }) > 0;
    default:
        break;
    }
    if (index < 0 || index >= rowCount())
        return false;
    TransferRow& r = *m_rows[size_t(index)];
    Transfer& t = r.transfer;
    switch (command) {
    case TransferCommand::ResendAll:
        if (t.state != TransferState::Completed || !t.isSend || !t.isFolder ||
            t.calcThreadId != 0 || r.removeWhenStopped || !contactOnline(t))
            return false;
        releaseEntries(t);
        t.totalSize = 0;
        t.bytesDone = 0;
        t.sizeUnknown = 1;
        t.entries = NewEntryList();
        startWalk(r);
        t.statusText = CalculatingText;
        r.sizeText = CalculatingText;
        changed(index);
        StartTransfer(index);
        return true;
    case TransferCommand::Start:
        if (isRunningState(t.state) || !contactOnline(t))
            return false;
        return StartTransfer(index);
    case TransferCommand::Remove:
        return removeRow(index);
    case TransferCommand::Cancel:
        if (t.state != TransferState::Waiting && t.state != TransferState::Transferring)
            return false;
        return m_files->postCancel(t.sessionThreadId);
    case TransferCommand::Open:
        return openPath(index, false);
    case TransferCommand::OpenContainingFolder:
        return openPath(index, true);
    case TransferCommand::Properties:
        if (m_ui)
            m_ui->showProperties(Properties(index));
        return true;
    default:
        return false;
    }
}

bool TransferManager::removeRow(int index)
{
    TransferRow& r = *m_rows[size_t(index)];
    Transfer& t = r.transfer;
    if (isRunningState(t.state))
        return false;
    if (r.removeWhenStopped)
        return true;
    if (t.calcThreadId != 0 && r.calc.isValid()) {
        // The walk may still append to the list, and its one report is still
        // to come: the row goes with that report.
        r.removeWhenStopped = true;
        r.calc.stop();
        return true;
    }
    releaseEntries(t);
    deleteRow(index);
    return true;
}

int TransferManager::clearRows(const std::function<bool(TransferState)>& which)
{
    int removed = 0;
    for (int i = rowCount() - 1; i >= 0; --i) {
        if (which(m_rows[size_t(i)]->transfer.state) && removeRow(i))
            ++removed;
    }
    return removed;
}

bool TransferManager::openPath(int index, bool containingFolder)
{
    const Transfer& t = row(index).transfer;
    QString path;
    if (t.isSend)
        path = t.senderPath;
    else if (t.state == TransferState::Completed || (containingFolder && t.isFolder))
        path = t.savedPath;
    else if (containingFolder && !t.savedPath.isEmpty())
        path = t.savedPath + PartialSuffix; // the data so far
    else if (!containingFolder)
        return false; // an unfinished receive has nothing to open yet

    if (path.isEmpty() || !QFileInfo::exists(path)) {
        if (m_ui)
            m_ui->messageBox(
                TransferUi::Icon::Warning, QStringLiteral("File not found"),
                QStringLiteral("The file no longer exist, it may have been deleted or moved."));
        return false;
    }
    if (m_ui) {
        if (containingFolder)
            m_ui->showInFolder(path);
        else
            m_ui->openPath(path);
    }
    return true;
}

QString TransferManager::Properties(int index) const
{
    const Transfer& t = row(index).transfer;
    const Contact* contact = m_controller.findContact(t.contactUid);
    return PropertiesText(t, contact ? DisplayName(*contact) : QString(), now());
}

// --- folder walks and entry lists ---

bool TransferManager::startWalk(TransferRow& r)
{
    auto* walk = new CCalcThread(r.transfer.senderPath, r.transfer.entries);
    connect(walk, &CCalcThread::walkFinished, this, &TransferManager::onWalkFinished);
    connect(walk, &CCalcThread::walkStopped, this, &TransferManager::onWalkStopped);
    r.calc = CCalcThread::launch(walk, m_controller.threadRegistry());
    r.transfer.calcThreadId = r.calc.id();
    return r.calc.isValid();
}

void TransferManager::onWalkFinished(quint32 id, quint64 total)
{
    const int index = rowOfCalc(id);
    if (index < 0)
        return;
    TransferRow& r = *m_rows[size_t(index)];
    Transfer& t = r.transfer;
    r.calc = CalcHandle();
    t.calcThreadId = 0;
    if (r.removeWhenStopped) {
        // The walk had finished before the stop request reached it.
        releaseEntries(t);
        deleteRow(index);
        return;
    }
    t.sizeUnknown = 0;
    t.totalSize = total;
    r.sizeText = FormatSize(total);
    if (t.sessionThreadId != 0)
        m_files->postSizeKnown(t.sessionThreadId, total);
    changed(index);
}

void TransferManager::onWalkStopped(quint32 id, quint64)
{
    const int index = rowOfCalc(id);
    if (index < 0)
        return;
    TransferRow& r = *m_rows[size_t(index)];
    r.calc = CalcHandle();
    // A walk stopped at exit has an unfinished list: the row keeps its walk
    // mark, so the list file stores it as one to walk again.
    if (m_shuttingDown)
        return;
    r.transfer.calcThreadId = 0;
    // Only a removal stops a walk while the program runs.
    if (r.removeWhenStopped && !isRunningState(r.transfer.state)) {
        releaseEntries(r.transfer);
        deleteRow(index);
    }
}

void TransferManager::releaseEntries(Transfer& t)
{
    EntryListPtr list = std::move(t.entries);
    t.entries.reset();
    // A list someone else still holds is freed by its last holder.
    if (!list || m_shuttingDown || list.use_count() > 1)
        return;
    qsizetype paths = 0;
    {
        QMutexLocker locker(&list->lock);
        paths = list->paths.size();
    }
    if (paths < LargeEntryList)
        return;
    // Freeing a very long list takes a while; the window keeps working.
    QThread* worker = QThread::create([list = std::move(list)]() mutable { list.reset(); });
    if (!m_controller.threadRegistry().Register(worker, ThreadKind::EntryListRelease, [] {})) {
        delete worker;
        return;
    }
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    worker->start();
}

// --- answers to prompts ---

bool TransferManager::answerAccept(FileSessionId session, const QString& savePath)
{
    return m_files->answerAccept(session, savePath);
}

bool TransferManager::answerDeny(FileSessionId session)
{
    return m_files->answerDeny(session);
}

bool TransferManager::answerSavePath(FileSessionId session, const QString& path)
{
    return m_files->answerSavePath(session, path);
}

bool TransferManager::answerResume(FileSessionId session, ResumeChoice choice)
{
    return m_files->answerResume(session, choice);
}

// --- the transfer list file ---

void TransferManager::LoadTransfers()
{
    if (!m_controller.isStarted())
        return;
    const QString path = m_controller.profileStore().filePath(TransfersFileName);
    std::map<uint32_t, CalcHandle> walks;
    TransferListHooks hooks;
    hooks.startCalculation = [this, &walks](Transfer& t) -> uint32_t {
        auto* walk = new CCalcThread(t.senderPath, t.entries);
        connect(walk, &CCalcThread::walkFinished, this, &TransferManager::onWalkFinished);
        connect(walk, &CCalcThread::walkStopped, this, &TransferManager::onWalkStopped);
        const CalcHandle handle = CCalcThread::launch(walk, m_controller.threadRegistry());
        if (!handle.isValid())
            return 0;
        walks[handle.id()] = handle;
        return handle.id();
    };
    hooks.contactKnown = [this](const QByteArray& uid) {
        return m_controller.findContact(uid) != nullptr;
    };
    // The walks report to this thread only after the rows are in place.
    const QList<TransferListRow> loaded = LoadTransferList(path, m_profileMessages.get(), hooks);
    for (const TransferListRow& l : loaded) {
        auto row = std::make_unique<TransferRow>();
        row->transfer = l.transfer;
        row->contactText = l.contactText;
        row->speedText = IdleSpeedText;
        const uint32_t walkId = row->transfer.calcThreadId;
        row->sizeText = walkId != 0 ? CalculatingText : FormatSize(row->transfer.totalSize);
        if (walkId != 0)
            row->calc = walks[walkId];
        insertRow(std::move(row), rowCount());
    }
}

void TransferManager::SaveTransfers()
{
    if (!m_controller.isStarted() || !m_controller.profileStore().isWritable())
        return;
    QList<TransferListRow> rows;
    rows.reserve(rowCount());
    for (const auto& r : m_rows) {
        // A row the user removed goes as soon as its walk has stopped.
        if (!r->removeWhenStopped)
            rows.append({r->transfer, r->contactText});
    }
    SaveTransferList(m_controller.profileStore().filePath(TransfersFileName), rows,
                     m_profileMessages.get());
}

void TransferManager::shutdown()
{
    m_shuttingDown = true;
    m_scheduler->stop();
}

// --- contact hooks ---

void TransferManager::contactIdentified(Contact& contact)
{
    // Every row of that contact, not only the newest: older queued rows
    // would otherwise never start.
    for (const auto& r : m_rows) {
        if (r->transfer.contactUid == contact.uid.bytes())
            r->transfer.contactBound = true;
    }
}

void TransferManager::contactRemoved(const Contact& contact)
{
    for (const auto& r : m_rows) {
        if (r->transfer.contactUid == contact.uid.bytes())
            r->transfer.contactBound = false;
    }
}

void TransferManager::contactNameOrAddressChanged(const Contact& contact)
{
    const QString text = contactText(&contact);
    for (int i = 0; i < rowCount(); ++i) {
        TransferRow& r = *m_rows[size_t(i)];
        if (!r.transfer.contactBound || r.transfer.contactUid != contact.uid.bytes() ||
            r.contactText == text)
            continue;
        r.contactText = text;
        changed(i);
    }
}

void TransferManager::contactRenamed(const Contact& contact, const QString& oldName)
{
    contactNameOrAddressChanged(contact);
    const Settings& settings = m_controller.settings();
    if (Settings::on(settings.autosaveSubfolders))
        RenameAutosaveFolder(contact.autosavePath.text(), settings.autosaveDirText(),
                             contact.alias.text(), oldName, contact.name.text(), true);
}

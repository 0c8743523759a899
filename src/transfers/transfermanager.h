#pragma once

#include "messenger/messengerui.h"
#include "transfers/calcthread.h"
#include "transfers/filesessions.h"
#include "transfers/transfer.h"
#include "transfers/transferhost.h"
#include "transfers/transferui.h"

#include <QList>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class MessengerController;
class QTimer;
struct Contact;

// One row of the transfers list: the transfer and the column texts that do
// not follow from it alone.
struct TransferRow
{
    Transfer transfer;
    QString sizeText;    // "Size": a size, "Calculating..." or the progress text
    QString contactText; // "Contact": "%s (%s)" with name and address
    QString speedText;   // "Speed": "0 KB/s" when idle
    // Stays with the row while it lives, whatever its place in the list.
    quint64 key = 0;
    // The folder walk that fills the entry list (transfer.calcThreadId).
    CalcHandle calc;
    // The user removed the row while its walk ran: it goes when the walk
    // has stopped.
    bool removeWhenStopped = false;
};

// The commands of a row's context menu, by their identifiers.
enum class TransferCommand : int {
    ResendAll = 249,
    Start = 250, // "Start Transfer Now", "Resend Transfer", "Retry Transfer"
    Remove = 251,
    Cancel = 252,
    ClearCompleted = 253,
    ClearIncomplete = 254,
    ClearCompletedAndIncomplete = 255,
    ClearQueued = 256,
    Open = 257,
    OpenContainingFolder = 258,
    Properties = 259,
};

// One entry of a row's context menu.
struct TransferMenuItem
{
    enum Kind { Command, Separator, Info };
    Kind kind = Command;
    TransferCommand command = TransferCommand::Properties; // Command only
    QString text;
    bool enabled = true; // Info items are always grayed
};

// The logic of the transfers window: owns the list of transfers, queues new
// sends and refuses duplicates, starts transfers through the contact's chat
// session, limits how many run at once, retries failed sends, times out
// connection attempts, applies the reports of the file sessions and of the
// folder walks to the rows, and carries out the user's commands on a row.
//
// Lives on the main thread, beside the messenger controller it asks about
// contacts and settings. Views follow the rowInserted/rowChanged/rowRemoved
// signals; row 0 is the newest.
class TransferManager : public QObject, public TransferHost, public ContactHooks
{
    Q_OBJECT
public:
    static constexpr int SchedulerPeriodMs = 1000;
    // A start attempt that has not reached the peer this many seconds later
    // needs the user ("Connect failed").
    static constexpr int ConnectTimeoutSecs = 35;
    // Entry lists with at least this many paths are freed on a worker thread
    // (a million paths take some 40 ms to free; a hundred thousand, 2 ms).
    static constexpr int LargeEntryList = 100000;

    // ui may be null (nothing shown, prompts denied). Threads register in
    // the controller's thread registry.
    TransferManager(MessengerController& controller, TransferUi* ui, QObject* parent = nullptr);
    ~TransferManager() override;

    // Plugs the manager into the controller before it starts: contact hooks,
    // file sessions for the listener (hello kind 1) and for the chat
    // sessions, Transfers.cfg loaded after the contacts and saved at exit;
    // starts the scheduler.
    void attach();

    FileSessions& fileSessions() { return *m_files; }

    // --- timing (tests shorten or drive it) ---
    void setSchedulerPeriod(int ms);
    void setConnectTimeout(int seconds);
    // Seconds since 1970; the system clock when not set.
    void setClock(std::function<int64_t()> clock);

    // --- the rows ---
    int rowCount() const { return int(m_rows.size()); }
    const TransferRow& row(int index) const { return *m_rows[index]; }
    // The row with this key, or -1.
    int rowOfKey(quint64 key) const;
    // The texts of the seven columns: name, size, type, contact, speed,
    // status, progress (the percent; empty while unknown).
    QString columnText(int row, int column) const;

    // --- queueing and starting ---
    // Takes a new send (isSend 1, contactUid, isFolder, senderPath set).
    // 0, or for a duplicate with quiet set the state its row had before
    // (the row is queued again unless it runs). A duplicate without quiet
    // shows "Duplicate Send".
    int QueueTransfer(Transfer t, bool quiet);
    // Queues the file or folder at path for the contact.
    int QueueSend(const Contact& contact, const QString& path, bool quiet = false);
    // The peer asked through share browsing to be sent this path: -1 when
    // the contact is Offline (queued all the same) or unknown (nothing
    // queued), else 50 + the result of QueueTransfer.
    int QueueRequestedSend(const QString& path, const QByteArray& contactUid);
    // Starts the row through its contact's chat session: Connecting, or
    // Manual retry required without contact or chat session. False when the
    // row did not become Connecting.
    bool StartTransfer(int row);
    // The 1-second scheduler step.
    void ScheduleTick();
    void ShowTransfers();

    // --- the row commands ---
    // The context menu of a row, in order.
    QList<TransferMenuItem> MenuItems(int row) const;
    // Runs a command on a row (the clears ignore it). False when the command
    // did nothing (not offered in the row's state, contact offline, path
    // missing, ...).
    bool Command(TransferCommand command, int row);
    // The properties text of a row (the snapshot the box shows).
    QString Properties(int row) const;
    // The event line of a request the peer was refused (requestRefused).
    static QString RefusedRequestText(const QString& contactName, const QString& path);
    // The most items one drop of files may send.
    static constexpr int MaxDropItems = 100;

    // --- answers to a receiving session's prompts ---
    bool answerAccept(FileSessionId session, const QString& savePath = QString());
    bool answerDeny(FileSessionId session);
    bool answerSavePath(FileSessionId session, const QString& path);
    bool answerResume(FileSessionId session, ResumeChoice choice);

    // --- the transfer list file ---
    // Appends the rows of Transfers.cfg in the profile folder.
    void LoadTransfers();
    // Writes Transfers.cfg; running transfers are stored as they are.
    void SaveTransfers();
    // Stops starting new transfers and frees entry lists directly.
    void shutdown();

    // --- TransferHost ---
    Identity ownIdentity() override;
    QString autosaveFolder(const QByteArray& contactUid) override;
    TransferContactInfo contactInfo(const QByteArray& contactUid) override;
    bool savedPathTrusted(const Transfer& offer) override;
    bool sendingSessionIdentified(Transfer& s) override;
    void selectingSavePath(const Transfer& s) override;
    void progress(const Transfer& s, const QString& progressText,
                  const QString& speedText) override;
    void receiveAccepted(const Transfer& s) override;
    void sessionEnded(int result, const Transfer& s) override;
    void askAccept(FileSessionId session, const QString& title, const QString& text,
                   const Transfer& offer) override;
    void acceptTextChanged(FileSessionId session, const QString& text) override;
    void askSavePath(FileSessionId session, const QString& proposedName, bool folder) override;
    void askResume(FileSessionId session, const ResumePromptContent& content) override;
    void closePrompts(FileSessionId session) override;

    // --- ContactHooks ---
    void contactIdentified(Contact& contact) override;
    void contactRemoved(const Contact& contact) override;
    void contactNameOrAddressChanged(const Contact& contact) override;
    void contactRenamed(const Contact& contact, const QString& oldName) override;

signals:
    void rowInserted(int row);
    void rowChanged(int row);
    void rowRemoved(int row);
    // A peer asked to be sent a path that is neither listed nor shared with
    // it; the session was refused before it offered anything.
    void requestRefused(const QByteArray& contactUid, const QString& path);

private:
    class ProfileMessages;

    int64_t now() const;
    const Contact* boundContact(const Transfer& t) const;
    bool contactOnline(const Transfer& t) const;
    bool contactOffline(const Transfer& t) const;
    QString contactText(const Contact* contact) const;
    std::unique_ptr<TransferRow> newSendRow(Transfer& t, const Contact* contact) const;
    int firstRowWhere(const std::function<bool(const TransferRow&)>& match) const;
    int rowOfSession(uint32_t sessionId) const;
    int rowOfCalc(uint32_t calcId) const;
    void insertRow(std::unique_ptr<TransferRow> row, int at);
    void changed(int row);
    void deleteRow(int row);
    // 251: removes the row unless it runs; a running walk is stopped first.
    bool removeRow(int row);
    int clearRows(const std::function<bool(TransferState)>& which);
    bool startWalk(TransferRow& row);
    void releaseEntries(Transfer& t);
    bool sharedWith(const Contact& contact, const QString& path) const;
    bool openPath(int row, bool containingFolder);
    void onWalkFinished(quint32 id, quint64 total);
    void onWalkStopped(quint32 id, quint64 totalSoFar);

    MessengerController& m_controller;
    TransferUi* m_ui;
    std::unique_ptr<ProfileMessages> m_profileMessages;
    std::unique_ptr<FileSessions> m_files;
    std::vector<std::unique_ptr<TransferRow>> m_rows;
    quint64 m_nextKey = 1;
    QTimer* m_scheduler = nullptr;
    int m_connectTimeout = ConnectTimeoutSecs;
    std::function<int64_t()> m_clock;
    bool m_shuttingDown = false;
    bool m_attached = false;
};

// Transfer managers on real controllers talking over 127.0.0.1, with real
// files in temporary folders.

#include "messenger/messengercontroller.h"
#include "profile/profilestore.h"
#include "testsupport.h"
#include "transferpeer.h"
#include "transfers/transferformat.h"
#include "transfers/transferlist.h"
#include "transfers/transfermanager.h"
#include "tst_filesession_support.h"

#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QHostAddress>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using testsupport::readAll;
using testsupport::writeAll;
using S = TransferState;
using Cmd = TransferCommand;
using transfertest::connectPair;
using transfertest::makeFile;
using transfertest::stored;

class Recorder : public transfertest::QuietUi
{
public:
    struct Prompt
    {
        FileSessionId session;
        QString title;
    };
    QList<Prompt> accepts;
    QList<FileSessionId> closed;

    void messageBox(ProfileUi::Icon icon, const QString& caption, const QString& text) override
    {
        QuietUi::messageBox(icon, caption, text);
    }
    void askAccept(FileSessionId session, const QString& title, const QString&,
                   const Transfer&) override
    {
        accepts.append({session, title});
    }
    void askSavePath(FileSessionId, const QString&, bool) override {}
    void askResume(FileSessionId, const ResumePromptContent&) override {}
    void closePrompts(FileSessionId session) override { closed.append(session); }
};

// One program with the recorder as its user.
struct Peer : transfertest::PeerBase<Recorder>
{
    using PeerBase::PeerBase;

    // The row showing this name.
    int rowNamed(const QString& name) const
    {
        for (int i = 0; i < m->rowCount(); ++i) {
            if (m->columnText(i, 0) == name)
                return i;
        }
        return -1;
    }
    QList<S> states() const
    {
        QList<S> out;
        for (int i = 0; i < m->rowCount(); ++i)
            out.append(t(i).state);
        return out;
    }
};

Settings settings(const QString& inbox = QString(), bool queue = false, int max = 1,
                  bool autoAccept = true)
{
    Settings s = Settings::defaults();
    s.connectAllOnStartup = 0;
    s.dynamicIp = 0;
    s.sendQueueEnabled = queue ? 1 : 0;
    s.maxSendTransfers = max;
    s.autoAcceptAll = autoAccept ? 1 : 0;
    s.autosaveSubfolders = 0;
    s.autosaveDir = inbox.toUtf8();
    return s;
}

TransferListRow listed(S state, bool send, const QByteArray& uid, const QString& senderPath,
                       const QString& savedPath = QString())
{
    Transfer t = NewTransfer();
    t.state = state;
    t.isSend = send ? 1 : 0;
    t.contactUid = uid;
    t.senderPath = senderPath;
    t.savedPath = savedPath;
    t.totalSize = 3;
    return {t, QStringLiteral("Old (1.2.3.4)")};
}

class TestTransferManager : public QObject
{
    Q_OBJECT

private slots:
    void sendStartsAtOnceAndCompletes_data();
    void sendStartsAtOnceAndCompletes();
    void duplicates_data();
    void duplicates();
    void simultaneousLimit();
    void connectTimeout();
    void schedulerCandidates_data();
    void schedulerCandidates();
    void acceptPrompt_data();
    void acceptPrompt();
    void listSurvivesRestart();
    void listSavedAfterSessionsEnd();
    void removeWaitsForWalk();
    void clears_data();
    void clears();
    void peerRequests_data();
    void peerRequests();
    void refusedRequestSendsNothing_data();
    void refusedRequestSendsNothing();
    void contactHooksReachEveryRow();
};

void TestTransferManager::sendStartsAtOnceAndCompletes_data()
{
    QTest::addColumn<bool>("folder");
    QTest::addColumn<bool>("receiverOpened");
    QTest::newRow("file, sender opened the chat") << false << false;
    QTest::newRow("file, receiver opened the chat") << false << true;
    QTest::newRow("folder") << true << false;
}

void TestTransferManager::sendStartsAtOnceAndCompletes()
{
    QFETCH(bool, folder);
    QFETCH(bool, receiverOpened);
    Peer a(QStringLiteral("Alice"), "uid-a"), b(QStringLiteral("Bob"), "uid-b");
    a.prepare(settings());
    b.prepare(settings(b.path(QStringLiteral("inbox"))));
    QVERIFY(a.start() && b.start());
    QVERIFY(receiverOpened ? connectPair(b, a) : connectPair(a, b));

    const QStringList files =
        folder ? QStringList{QStringLiteral("x.txt"), QStringLiteral("sub/y.bin"),
                             QStringLiteral("sub/empty")}
               : QStringList{QString()};
    const QString source =
        a.path(folder ? QStringLiteral("out/tree") : QStringLiteral("out/a.bin"));
    for (int i = 0; i < files.size(); ++i)
        makeFile(files[i].isEmpty() ? source : source + QLatin1Char('/') + files[i],
                 i == 2 ? 0 : 200000 + i);

    QCOMPARE(a.m->QueueSend(a.contact("uid-b"), source), 0);
    // The send queue is off: started without waiting for the scheduler.
    QCOMPARE(a.t(0).state, S::Connecting);
    QCOMPARE(a.m->columnText(0, 5), QStringLiteral("Trying to connect..."));

    QTRY_COMPARE_WITH_TIMEOUT(a.t(0).state, S::Completed, 15000);
    QTRY_COMPARE_WITH_TIMEOUT(b.m->rowCount() == 1 && b.t(0).state == S::Completed, true, 15000);
    const QString name = folder ? QStringLiteral("tree") : QStringLiteral("a.bin");
    QCOMPARE(a.m->columnText(0, 0), name);
    QCOMPARE(a.m->columnText(0, 2), QStringLiteral("To:"));
    QCOMPARE(a.m->columnText(0, 3), QStringLiteral("Bob (127.0.0.1)"));
    QCOMPARE(a.m->columnText(0, 5), QStringLiteral("Transfer Complete"));
    QCOMPARE(a.m->columnText(0, 6), QStringLiteral("100"));
    QCOMPARE(b.m->columnText(0, 0), name);
    QCOMPARE(b.m->columnText(0, 2), QStringLiteral("From:"));
    QCOMPARE(b.m->columnText(0, 3), QStringLiteral("Alice (127.0.0.1)"));
    QCOMPARE(b.t(0).bytesDone, a.t(0).totalSize);
    for (const QString& f : files) {
        const QString rel = QStringLiteral("inbox/") + name + (f.isEmpty() ? f : u'/' + f);
        QVERIFY2(QFileInfo::exists(b.path(rel)), qPrintable(rel));
        QCOMPARE(readAll(b.path(rel)), readAll(f.isEmpty() ? source : source + u'/' + f));
    }
}

void TestTransferManager::duplicates_data()
{
    QTest::addColumn<bool>("quiet");
    QTest::addColumn<bool>("folder");
    QTest::addColumn<int>("listedState");
    QTest::addColumn<QString>("second");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QList<S>>("after");
    const QString sameFile = QStringLiteral("a.bin");
    const QString message =
        QStringLiteral("Duplicate Send|The %1 you are trying to send to this contact\nis already "
                       "in the transfer list.");
    QTest::newRow("file") << false << false << int(S::Queued) << sameFile << 0
                          << message.arg(QStringLiteral("file")) << QList<S>{S::Queued};
    QTest::newRow("folder") << false << true << int(S::Completed) << sameFile << 0
                            << message.arg(QStringLiteral("folder")) << QList<S>{S::Completed};
    QTest::newRow("quiet, finished row queued again")
        << true << false << int(S::Completed) << sameFile << int(S::Completed) << QString()
        << QList<S>{S::Queued};
    QTest::newRow("quiet, connecting row left alone")
        << true << false << int(S::Connecting) << sameFile << int(S::Connecting) << QString()
        << QList<S>{S::Connecting};
    // File names that differ in case name different files here.
    QTest::newRow("other letter case")
        << false << false << int(S::Queued) << QStringLiteral("A.bin") << 0 << QString()
        << QList<S>{S::Queued, S::Queued};
}

void TestTransferManager::duplicates()
{
    QFETCH(bool, quiet);
    QFETCH(bool, folder);
    QFETCH(int, listedState);
    QFETCH(QString, second);
    QFETCH(int, result);
    QFETCH(QString, box);
    QFETCH(QList<S>, after);
    Peer a(QStringLiteral("Alice"), "uid-a");
    const QString first = a.path(QStringLiteral("a.bin"));
    if (folder)
        QDir().mkpath(first);
    TransferListRow row = listed(S(listedState), true, "uid-b", first);
    row.transfer.isFolder = folder ? 1 : 0;
    a.prepare(settings(QString(), true), {stored(QStringLiteral("Bob"), "uid-b")}, {row});
    QVERIFY(a.start());

    QCOMPARE(a.m->QueueSend(a.contact("uid-b"), a.path(second), quiet), result);
    QCOMPARE(a.ui.boxes, box.isEmpty() ? QStringList() : QStringList{box});
    QCOMPARE(a.states(), after);
}

void TestTransferManager::simultaneousLimit()
{
    Peer a(QStringLiteral("Alice"), "uid-a"), b(QStringLiteral("Bob"), "uid-b");
    a.prepare(settings(QString(), true, 2));
    b.prepare(settings(b.path(QStringLiteral("inbox")), false, 1, false));
    QVERIFY(a.start() && b.start());
    QVERIFY(connectPair(a, b));
    for (const char* n : {"1.bin", "2.bin", "3.bin"})
        a.m->QueueSend(a.contact("uid-b"), makeFile(a.path(QLatin1String(n)), 1000));
    const auto state = [&a](const char* n) { return a.t(a.rowNamed(QLatin1String(n))).state; };
    QCOMPARE(a.states(), QList<S>({S::Queued, S::Queued, S::Queued}));

    // One start per tick, oldest first, up to two at once.
    a.m->ScheduleTick();
    QCOMPARE(state("1.bin"), S::Connecting);
    QCOMPARE(state("2.bin"), S::Queued);
    a.m->ScheduleTick();
    QCOMPARE(state("2.bin"), S::Connecting);
    a.m->ScheduleTick();
    QCOMPARE(state("3.bin"), S::Queued);

    // Both wait for the receiving user.
    QTRY_COMPARE_WITH_TIMEOUT(b.ui.accepts.size(), 2, 10000);
    QTRY_COMPARE(state("1.bin") == S::Waiting && state("2.bin") == S::Waiting, true);
    QCOMPARE(a.m->columnText(a.rowNamed(QStringLiteral("1.bin")), 5),
             QStringLiteral("Waiting for acceptance..."));
    a.m->ScheduleTick();
    QCOMPARE(state("3.bin"), S::Queued);

    b.m->answerDeny(b.ui.accepts[0].session);
    QTRY_COMPARE_WITH_TIMEOUT(int(a.states().count(S::ManualRetry)), 1, 10000);
    a.m->ScheduleTick();
    QCOMPARE(state("3.bin"), S::Connecting);
}

void TestTransferManager::connectTimeout()
{
    // The peer takes no file sessions: the attempt never reaches it.
    Peer a(QStringLiteral("Alice"), "uid-a"), b(QStringLiteral("Bob"), "uid-b", QString(), false);
    a.prepare(settings());
    b.prepare(settings());
    QVERIFY(a.start() && b.start());
    QVERIFY(connectPair(a, b));
    int64_t now = QDateTime::currentSecsSinceEpoch();
    a.m->setClock([&now] { return now; });

    a.m->QueueSend(a.contact("uid-b"), makeFile(a.path(QStringLiteral("a.bin")), 10));
    QCOMPARE(a.t(0).state, S::Connecting);
    QCOMPARE(a.m->MenuItems(0).first().text, QStringLiteral("Timeout in 35sec"));
    now += 35;
    a.m->ScheduleTick();
    QCOMPARE(a.t(0).state, S::Connecting);
    QCOMPARE(a.m->MenuItems(0).first().text, QStringLiteral("Timeout in 0sec"));
    now += 1;
    a.m->ScheduleTick();
    QCOMPARE(a.t(0).state, S::ManualRetry);
    QCOMPARE(a.t(0).statusText, QStringLiteral("Connect failed"));
    QCOMPARE(a.t(0).percent, 0);
    // Manual retry required waits for the user.
    a.m->ScheduleTick();
    QCOMPARE(a.t(0).state, S::ManualRetry);
    const QList<TransferMenuItem> menu = a.m->MenuItems(0);
    QCOMPARE(menu[1].text, QStringLiteral("Retry Transfer"));
    QVERIFY(menu[1].enabled);
}

void TestTransferManager::schedulerCandidates_data()
{
    QTest::addColumn<int>("listedState");
    QTest::addColumn<bool>("send");
    QTest::addColumn<bool>("online");
    QTest::addColumn<int>("after");
    QTest::newRow("failed send") << int(S::Failed) << true << true << int(S::Connecting);
    QTest::newRow("failed receive") << int(S::Failed) << false << true << int(S::Failed);
    QTest::newRow("manual retry") << int(S::ManualRetry) << true << true << int(S::ManualRetry);
    QTest::newRow("queued") << int(S::Queued) << true << true << int(S::Connecting);
    QTest::newRow("queued, contact offline") << int(S::Queued) << true << false << int(S::Queued);
    QTest::newRow("failed send, contact offline")
        << int(S::Failed) << true << false << int(S::Failed);
}

void TestTransferManager::schedulerCandidates()
{
    QFETCH(int, listedState);
    QFETCH(bool, send);
    QFETCH(bool, online);
    QFETCH(int, after);
    Peer a(QStringLiteral("Alice"), "uid-a"), b(QStringLiteral("Bob"), "uid-b");
    const QString file = makeFile(a.path(QStringLiteral("a.bin")), 3);
    a.prepare(settings(a.path(QStringLiteral("inbox"))), {stored(QStringLiteral("Bob"), "uid-b")},
              {listed(S(listedState), send, "uid-b", file, a.path(QStringLiteral("inbox/a.bin")))});
    b.prepare(settings(b.path(QStringLiteral("inbox"))));
    QVERIFY(a.start() && b.start());
    if (online)
        QVERIFY(connectPair(a, b));
    a.m->ScheduleTick();
    QCOMPARE(int(a.t(0).state), after);
}

void TestTransferManager::acceptPrompt_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<int>("senderState");
    QTest::addColumn<QString>("senderStatus");
    QTest::newRow("accept") << QStringLiteral("accept") << int(S::Completed)
                            << QStringLiteral("Transfer Complete");
    QTest::newRow("deny") << QStringLiteral("deny") << int(S::ManualRetry)
                          << QStringLiteral("Transfer Denied");
    QTest::newRow("sender cancels")
        << QStringLiteral("cancel") << int(S::Canceled) << QStringLiteral("Transfer Canceled");
}

void TestTransferManager::acceptPrompt()
{
    QFETCH(QString, answer);
    QFETCH(int, senderState);
    QFETCH(QString, senderStatus);
    Peer a(QStringLiteral("Alice"), "uid-a"), b(QStringLiteral("Bob"), "uid-b");
    a.prepare(settings());
    b.prepare(settings(b.path(QStringLiteral("inbox")), false, 1, false));
    QVERIFY(a.start() && b.start());
    QVERIFY(connectPair(b, a));
    const QString file = makeFile(a.path(QStringLiteral("a.bin")), 70000);
    a.m->QueueSend(a.contact("uid-b"), file);
    QTRY_COMPARE_WITH_TIMEOUT(b.ui.accepts.size(), 1, 10000);
    QCOMPARE(b.ui.accepts[0].title, QStringLiteral("Accept File Transfer?"));
    QTRY_COMPARE(a.t(0).state, S::Waiting);

    const FileSessionId session = b.ui.accepts[0].session;
    const QString chosen = b.path(QStringLiteral("chosen/mine.bin"));
    QDir().mkpath(QFileInfo(chosen).path());
    if (answer == QLatin1String("accept"))
        QVERIFY(b.m->answerAccept(session, chosen));
    else if (answer == QLatin1String("deny"))
        QVERIFY(b.m->answerDeny(session));
    else
        QVERIFY(a.m->Command(Cmd::Cancel, 0));
    QTRY_COMPARE_WITH_TIMEOUT(int(a.t(0).state), senderState, 10000);
    QCOMPARE(a.t(0).statusText, senderStatus);
    if (answer == QLatin1String("accept")) {
        QTRY_COMPARE(b.m->rowCount() == 1 && b.t(0).state == S::Completed, true);
        QCOMPARE(b.t(0).savedPath, chosen);
        QCOMPARE(readAll(chosen), readAll(file));
    } else {
        QTRY_VERIFY(b.ui.closed.contains(session));
        QCOMPARE(b.m->rowCount(), 0);
    }
}

void TestTransferManager::listSurvivesRestart()
{
    QTemporaryDir root;
    const QString bob = QStringLiteral("Bob");
    QString tree;
    {
        Peer a(QStringLiteral("Alice"), "uid-a", root.path());
        a.prepare(settings(QString(), true), {stored(bob, "uid-b")});
        QVERIFY(a.start());
        tree = a.path(QStringLiteral("tree"));
        for (const char* f : {"1", "sub/2", "sub/3"})
            makeFile(tree + u'/' + QLatin1String(f), 1000);
        a.m->QueueSend(a.contact("uid-b"), tree);
        // A receive with data flowing, as its session reports it.
        Transfer s = NewTransfer();
        s.contactUid = "uid-b";
        s.senderPath = QStringLiteral("C:\\peer\\movie.avi");
        s.savedPath = a.path(QStringLiteral("inbox/movie.avi"));
        s.totalSize = 5000;
        s.bytesDone = 1000;
        s.sessionThreadId = 4242;
        a.m->receiveAccepted(s);
        QCOMPARE(a.t(0).state, S::Transferring);
        // The list is saved once every thread has ended: the walk has reported.
        QVERIFY(a.t(1).calcThreadId != 0);
        QVERIFY(a.exit());
        QCOMPARE(a.t(1).calcThreadId, 0u);
    }
    // The folder was stored with the list its walk made.
    int walksAsked = 0;
    TransferListHooks count;
    count.startCalculation = [&walksAsked](Transfer&) {
        ++walksAsked;
        return 0u;
    };
    const QString file = root.path() + QStringLiteral("/Profiles/u/") + TransfersFileName;
    QCOMPARE(LoadTransferList(file, nullptr, count).size(), 2);
    QCOMPARE(walksAsked, 0);

    Peer again(QStringLiteral("Alice"), "uid-a", root.path());
    QVERIFY(again.start());
    QCOMPARE(again.m->rowCount(), 2);
    QCOMPARE(again.t(0).state, S::Failed);
    QCOMPARE(again.t(0).statusText, QStringLiteral("Transfer Incomplete"));
    QCOMPARE(again.m->columnText(0, 0), QStringLiteral("movie.avi"));
    QCOMPARE(again.m->columnText(0, 2), QStringLiteral("From:"));
    QCOMPARE(again.m->columnText(0, 3), QStringLiteral("Bob (127.0.0.1)"));
    QCOMPARE(again.t(0).bytesDone, quint64(1000));
    QCOMPARE(again.t(1).senderPath, tree);
    QTRY_COMPARE(again.m->columnText(1, 1), FormatSize(3000));
    QCOMPARE(again.t(1).sizeUnknown, 0);
    QCOMPARE(again.t(1).entries->paths.size(), 3);
}

// A send waits for the peer's answer when Alice exits: its session ends
// during the exit, and the list file holds how it ended.
void TestTransferManager::listSavedAfterSessionsEnd()
{
    Peer a(QStringLiteral("Alice"), "uid-a"), b(QStringLiteral("Bob"), "uid-b");
    a.prepare(settings());
    b.prepare(settings(b.path(QStringLiteral("inbox")), false, 1, false));
    QVERIFY(a.start() && b.start());
    QVERIFY(connectPair(b, a));
    a.m->QueueSend(a.contact("uid-b"), makeFile(a.path(QStringLiteral("a.bin")), 70000));
    QTRY_COMPARE_WITH_TIMEOUT(b.ui.accepts.size(), 1, 10000);
    QTRY_COMPARE(a.t(0).state, S::Waiting);
    QVERIFY(a.exit());
    QVERIFY(a.t(0).state != S::Waiting);
    const QList<TransferListRow> saved =
        LoadTransferList(a.folder + TransfersFileName, nullptr, {});
    QCOMPARE(saved.size(), 1);
    QCOMPARE(saved[0].transfer.state, a.t(0).state);
    QCOMPARE(saved[0].transfer.statusText, a.t(0).statusText);
}

void TestTransferManager::removeWaitsForWalk()
{
    Peer a(QStringLiteral("Alice"), "uid-a");
    a.prepare(settings(QString(), true), {stored(QStringLiteral("Bob"), "uid-b")});
    QVERIFY(a.start());
    const QString tree = a.path(QStringLiteral("tree"));
    makeFile(tree + QStringLiteral("/a"), 10);
    a.m->QueueSend(a.contact("uid-b"), tree);
    a.m->QueueSend(a.contact("uid-b"), makeFile(a.path(QStringLiteral("f.bin")), 10));

    QVERIFY(a.m->Command(Cmd::Remove, 1));
    QCOMPARE(a.m->rowCount(), 2); // the walk still holds the list
    a.m->SaveTransfers();
    const QList<TransferListRow> saved =
        LoadTransferList(a.folder + TransfersFileName, nullptr, {});
    QCOMPARE(saved.size(), 1);
    QCOMPARE(saved[0].transfer.senderPath, a.path(QStringLiteral("f.bin")));
    QVERIFY(a.m->Command(Cmd::Remove, 0));
    QCOMPARE(a.m->rowCount(), 1);
    QTRY_COMPARE(a.m->rowCount(), 0);
}

void TestTransferManager::clears_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<QList<S>>("left");
    QTest::newRow("completed") << int(Cmd::ClearCompleted)
                               << QList<S>{S::Queued, S::Failed, S::Canceled, S::ManualRetry,
                                           S::Connecting};
    QTest::newRow("incomplete") << int(Cmd::ClearIncomplete)
                                << QList<S>{S::Queued, S::Completed, S::Connecting};
    QTest::newRow("completed and incomplete")
        << int(Cmd::ClearCompletedAndIncomplete) << QList<S>{S::Queued, S::Connecting};
    QTest::newRow("queued") << int(Cmd::ClearQueued)
                            << QList<S>{S::Completed, S::Failed, S::Canceled, S::ManualRetry,
                                        S::Connecting};
}

void TestTransferManager::clears()
{
    QFETCH(int, command);
    QFETCH(QList<S>, left);
    Peer a(QStringLiteral("Alice"), "uid-a");
    QList<TransferListRow> rows;
    for (S s : {S::Queued, S::Completed, S::Failed, S::Canceled, S::ManualRetry, S::Connecting})
        rows.append(listed(s, true, "uid-b", a.path(QString::number(int(s)))));
    a.prepare(settings(QString(), true), {stored(QStringLiteral("Bob"), "uid-b")}, rows);
    QVERIFY(a.start());
    a.m->Command(Cmd(command), -1);
    QCOMPARE(a.states(), left);
}

void TestTransferManager::peerRequests_data()
{
    QTest::addColumn<bool>("shared");
    QTest::newRow("shared with the peer") << true;
    QTest::newRow("not listed, not shared") << false;
}

void TestTransferManager::peerRequests()
{
    // The receiver retries a transfer the sender no longer lists.
    QFETCH(bool, shared);
    Peer a(QStringLiteral("Alice"), "uid-a"), b(QStringLiteral("Bob"), "uid-b");
    Settings sa = settings();
    sa.setSharedPathTexts({a.path(shared ? QStringLiteral("out") : QStringLiteral("public"))});
    a.prepare(sa);
    const QString file = makeFile(a.path(QStringLiteral("out/doc.bin")), 50000);
    const QString target = b.path(QStringLiteral("inbox/doc.bin"));
    QDir().mkpath(QFileInfo(target).path());
    b.prepare(settings(), {stored(QStringLiteral("Alice"), "uid-a")},
              {listed(S::Failed, false, "uid-a", file, target)});
    QVERIFY(a.start() && b.start());
    QVERIFY(connectPair(b, a));
    QSignalSpy refused(a.m.get(), &TransferManager::requestRefused);

    QCOMPARE(b.m->MenuItems(0)[1].text, QStringLiteral("Retry Transfer"));
    QVERIFY(b.m->Command(Cmd::Start, 0));
    if (shared) {
        QTRY_COMPARE_WITH_TIMEOUT(b.t(0).state, S::Completed, 10000);
        QCOMPARE(readAll(target), readAll(file));
        QCOMPARE(a.m->rowCount(), 1);
        QCOMPARE(a.m->columnText(0, 2), QStringLiteral("To:"));
        QTRY_COMPARE(a.t(0).state, S::Completed);
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(refused.count(), 1, 10000);
        QCOMPARE(refused[0][1].toString(), file);
        QTRY_COMPARE(a.m->fileSessions().count() + b.m->fileSessions().count(), 0);
        QCOMPARE(a.m->rowCount(), 0);
        QVERIFY(!QFileInfo::exists(target));
    }
}

void TestTransferManager::refusedRequestSendsNothing_data()
{
    QTest::addColumn<QString>("requested"); // below Alice's data root; "out" is shared
    QTest::addColumn<bool>("served");
    QTest::newRow("shared file") << "out/doc.bin" << true;
    QTest::newRow("neither listed nor shared") << "private/doc.bin" << false;
    QTest::newRow("through a linked folder in the share") << "out/docs/doc.bin" << false;
}

void TestTransferManager::refusedRequestSendsNothing()
{
    // Bob's side is spoken by hand, to see every byte Alice sends.
    QFETCH(QString, requested);
    QFETCH(bool, served);
    Peer a(QStringLiteral("Alice"), "uid-a");
    Settings sa = settings();
    sa.setSharedPathTexts({a.path(QStringLiteral("out"))});
    a.prepare(sa, {stored(QStringLiteral("Bob"), "uid-b")});
    makeFile(a.path(QStringLiteral("out/doc.bin")), 5000);
    makeFile(a.path(QStringLiteral("private/doc.bin")), 7000);
    QVERIFY(QFile::link(a.path(QStringLiteral("private")), a.path(QStringLiteral("out/docs"))));
    QVERIFY(a.start());
    QSignalSpy refused(a.m.get(), &TransferManager::requestRefused);

    const QByteArray key = a.c->myIdentity().key.bytes();
    filetest::RawPeer bob(key);
    QVERIFY(bob.open(a.port()));
    bob.sendFrame(1, filetest::makeIdentity("uid-b", "Bob", key.constData()).encode());
    QCOMPARE(bob.readFrame().first, uint8_t(2));
    Transfer request = NewTransfer();
    request.senderPath = a.path(requested);
    request.totalSize = 7000;
    bob.sendFrame(3, EncodeTransfer(request));
    const auto [type, payload] = bob.readFrame();
    if (served) {
        QCOMPARE(type, uint8_t(4));
        QCOMPARE(refused.count(), 0);
        return;
    }
    // Denied, and nothing of the file before it.
    QCOMPARE(type, uint8_t(11));
    QCOMPARE(qFromLittleEndian<quint32>(payload.constData()), quint32(1));
    QCOMPARE(refused.count(), 1);
    QCOMPARE(a.m->rowCount(), 0);
}

void TestTransferManager::contactHooksReachEveryRow()
{
    Peer a(QStringLiteral("Alice"), "uid-a"), b(QStringLiteral("Bob"), "uid-b");
    a.prepare(settings(QString(), true), {},
              {listed(S::Queued, true, "uid-b", a.path(QStringLiteral("1"))),
               listed(S::Queued, true, "uid-b", a.path(QStringLiteral("2")))});
    b.prepare(settings());
    QVERIFY(a.start() && b.start());
    QVERIFY(!a.t(0).contactBound && !a.t(1).contactBound);
    QVERIFY(connectPair(a, b));
    QVERIFY(a.t(0).contactBound && a.t(1).contactBound);

    b.c->SetScreenName(QStringLiteral("Bobby"));
    QTRY_COMPARE(a.m->columnText(0, 3), QStringLiteral("Bobby (127.0.0.1)"));
    QCOMPARE(a.m->columnText(1, 3), QStringLiteral("Bobby (127.0.0.1)"));

    QVERIFY(a.c->Delete(&a.contact("uid-b"), false));
    QTRY_VERIFY(!a.t(0).contactBound && !a.t(1).contactBound);
    a.m->ScheduleTick();
    QCOMPARE(a.states(), QList<S>({S::Queued, S::Queued}));
}

QTEST_GUILESS_MAIN(TestTransferManager)
#include "tst_transfermanager.moc"

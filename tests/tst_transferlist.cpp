#include "testsupport.h"

#include "profile/profileui.h"
#include "transfers/transferlist.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>

#include <csignal>

using testsupport::hex;

namespace {

struct Message
{
    ProfileUi::Icon icon;
    QString caption;
    QString text;
};

class RecordingUi : public ProfileUi
{
public:
    void showMessage(Icon icon, const QString& caption, const QString& text) override
    {
        messages.append({icon, caption, text});
    }
    bool askDynamicIp(const QString&, const QString&) override { return false; }
    std::optional<QString> askScreenName(const QString&, const QString&, const QString&) override
    {
        return std::nullopt;
    }
    QList<Message> messages;
};

// One stored entry: a completed folder send of "/s" to uid "u1" with the
// entries "a" and "d/b" still listed.
const char HandEntry[] = "03000000 01000000 01000000 00000000" // state .. sizeUnknown
                         "10000000 00000000 00000000 00000000" // queueTime .. stopTime
                         "75310000 00000000 00000000 00000000"
                         "00000000 00000000 00000000 00000000" // contactUid
                         "64000000 00000000"                   // percent, headCrc
                         "03000000 00000000 03000000 00000000" // bytesDone, totalSize
                         "03000000 6f6b00"                     // "ok"
                         "03000000 2f7300"                     // "/s"
                         "01000000 00"                         // ""
                         "06000000 42202831 2900"              // "B (1)"
                         "00000000 01000000"                   // no walk, list follows
                         "06000000 6100 642f6200";             // "a", "d/b"

const char FileHead[] = "70170000"; // 6000

QByteArray Le32(uint32_t v)
{
    QByteArray b(4, '\0');
    for (int i = 0; i < 4; ++i)
        b[i] = char((v >> (8 * i)) & 0xff);
    return b;
}

QByteArray Counted(const QByteArray& text)
{
    return Le32(uint32_t(text.size() + 1)) + text + QByteArray(1, '\0');
}

// An entry without a list, written field by field.
QByteArray PlainEntry(int state, const QByteArray& status, uint32_t calcFlag = 0, int isSend = 1,
                      int isFolder = 0)
{
    QByteArray block(88, '\0');
    block.replace(0, 4, Le32(uint32_t(state)));
    block.replace(4, 4, Le32(uint32_t(isSend)));
    block.replace(8, 4, Le32(uint32_t(isFolder)));
    block.replace(64, 4, Le32(uint32_t(-1)));
    return block + Counted(status) + Counted("/src/x") + Counted("/dst/x") + Counted("C (ip)") +
           Le32(calcFlag) + Le32(0);
}

TransferListRow SampleRow()
{
    TransferListRow row;
    Transfer& t = row.transfer;
    t.state = TransferState::Completed;
    t.isSend = 1;
    t.isFolder = 1;
    t.queueTime = 16;
    t.contactUid = "u1";
    t.percent = 100;
    t.bytesDone = 3;
    t.totalSize = 3;
    t.statusText = QStringLiteral("ok");
    t.senderPath = QStringLiteral("/s");
    t.entries = NewEntryList();
    t.entries->paths = {QStringLiteral("a"), QStringLiteral("d/b")};
    // Never stored: no session runs after a restart.
    t.sessionThreadId = 77;
    row.contactText = QStringLiteral("B (1)");
    return row;
}

} // namespace

class TestTransferList : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void savedFileIsByteExact();
    void loadReadsHandWrittenFile();
    void roundTripKeepsOrderAndFields();
    void runningTransfersComeBackFailed_data();
    void runningTransfersComeBackFailed();
    void unfinishedWalkIsStartedAgain();
    void walkFlagOnlyRestartsFolderSends_data();
    void walkFlagOnlyRestartsFolderSends();
    void entryListPieces();
    void damagedFileKeepsRowsReadSoFar_data();
    void damagedFileKeepsRowsReadSoFar();
    void missingFileIsSilent();
    void failedWriteKeepsPreviousFile();
    void unwritableFolderIsReported();

private:
    QString listPath() const { return m_dir->filePath(QStringLiteral("Transfers.cfg")); }

    std::unique_ptr<QTemporaryDir> m_dir;
    RecordingUi m_ui;
};

void TestTransferList::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_ui.messages.clear();
}

void TestTransferList::savedFileIsByteExact()
{
    QVERIFY(SaveTransferList(listPath(), {SampleRow()}, &m_ui));
    const QByteArray expected = hex(FileHead) + hex("01000000") + hex(HandEntry);
    QCOMPARE(testsupport::readAll(listPath()).toHex(), expected.toHex());
    QVERIFY(m_ui.messages.isEmpty());
}

void TestTransferList::loadReadsHandWrittenFile()
{
    QVERIFY(testsupport::writeAll(listPath(), hex(FileHead) + hex("01000000") + hex(HandEntry)));
    const QList<TransferListRow> rows = LoadTransferList(
        listPath(), &m_ui, {{}, [](const QByteArray& uid) { return uid == "u1"; }});
    QVERIFY(m_ui.messages.isEmpty());
    QCOMPARE(rows.size(), 1);
    const Transfer& t = rows[0].transfer;
    QCOMPARE(t.state, TransferState::Completed);
    QCOMPARE(t.isSend, 1);
    QCOMPARE(t.isFolder, 1);
    QCOMPARE(t.queueTime, 16);
    QCOMPARE(t.contactUid, QByteArray("u1"));
    QCOMPARE(t.percent, 100);
    QCOMPARE(t.bytesDone, 3u);
    QCOMPARE(t.totalSize, 3u);
    QCOMPARE(t.statusText, QStringLiteral("ok"));
    QCOMPARE(t.senderPath, QStringLiteral("/s"));
    QCOMPARE(t.savedPath, QString());
    QCOMPARE(rows[0].contactText, QStringLiteral("B (1)"));
    QVERIFY(t.entries);
    QCOMPARE(t.entries->paths, (QStringList{QStringLiteral("a"), QStringLiteral("d/b")}));
    QCOMPARE(t.calcThreadId, 0u);
    QVERIFY(t.contactBound);
    QVERIFY(QFile::exists(listPath()));
}

void TestTransferList::roundTripKeepsOrderAndFields()
{
    QList<TransferListRow> rows;
    for (int i = 0; i < 3; ++i) {
        TransferListRow row;
        row.transfer.state = TransferState::Queued;
        row.transfer.isSend = i % 2;
        row.transfer.contactUid = QByteArray("uid") + QByteArray::number(i);
        row.transfer.totalSize = quint64(5) << 32 | quint64(i);
        row.transfer.headCrc = 0xdeadbeef - i;
        row.transfer.senderPath = QStringLiteral("C:\\Users\\Zoë\\%1.txt").arg(i);
        row.transfer.savedPath = QStringLiteral("/home/zoë/%1.txt").arg(i);
        row.transfer.statusText = QStringLiteral("Queued");
        row.contactText = QStringLiteral("Zoë (10.0.0.%1)").arg(i);
        rows.append(row);
    }
    QVERIFY(SaveTransferList(listPath(), rows, &m_ui));
    const QList<TransferListRow> back = LoadTransferList(listPath(), &m_ui);
    QVERIFY(m_ui.messages.isEmpty());
    QCOMPARE(back.size(), 3);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(back[i].transfer.contactUid, rows[i].transfer.contactUid);
        QCOMPARE(back[i].transfer.isSend, rows[i].transfer.isSend);
        QCOMPARE(back[i].transfer.totalSize, rows[i].transfer.totalSize);
        QCOMPARE(back[i].transfer.headCrc, rows[i].transfer.headCrc);
        QCOMPARE(back[i].transfer.senderPath, rows[i].transfer.senderPath);
        QCOMPARE(back[i].transfer.savedPath, rows[i].transfer.savedPath);
        QCOMPARE(back[i].contactText, rows[i].contactText);
        QVERIFY(!back[i].transfer.entries);
        QVERIFY(!back[i].transfer.contactBound);
    }
}

void TestTransferList::runningTransfersComeBackFailed_data()
{
    QTest::addColumn<int>("savedState");
    QTest::addColumn<int>("loadedState");
    QTest::addColumn<QString>("status");
    const QString incomplete = QStringLiteral("Transfer Incomplete");
    QTest::newRow("transferring") << 2 << 4 << incomplete;
    // A waiting row had a session too; kept as it was it would hold a place
    // among the running transfers for ever.
    QTest::newRow("waiting") << 1 << 4 << incomplete;
    QTest::newRow("connecting") << 7 << 7 << QStringLiteral("was");
    QTest::newRow("queued") << 0 << 0 << QStringLiteral("was");
    QTest::newRow("manual retry") << 6 << 6 << QStringLiteral("was");
}

void TestTransferList::runningTransfersComeBackFailed()
{
    QFETCH(int, savedState);
    QFETCH(int, loadedState);
    QFETCH(QString, status);
    QVERIFY(
        testsupport::writeAll(listPath(), hex(FileHead) + Le32(1) + PlainEntry(savedState, "was")));
    const QList<TransferListRow> rows = LoadTransferList(listPath(), &m_ui);
    QCOMPARE(rows.size(), 1);
    QCOMPARE(int(rows[0].transfer.state), loadedState);
    QCOMPARE(rows[0].transfer.statusText, status);
}

void TestTransferList::unfinishedWalkIsStartedAgain()
{
    TransferListRow row = SampleRow();
    row.transfer.calcThreadId = 42; // the walk still runs: its list is not saved
    row.transfer.sizeUnknown = 1;
    TransferListRow done = SampleRow();
    done.transfer.senderPath = QStringLiteral("/done");
    QVERIFY(SaveTransferList(listPath(), {row, done}, &m_ui));

    QStringList walked;
    EntryList* givenList = nullptr;
    TransferListHooks hooks;
    hooks.startCalculation = [&](Transfer& t) {
        walked.append(t.senderPath);
        givenList = t.entries.get();
        return uint32_t(555);
    };
    const QList<TransferListRow> rows = LoadTransferList(listPath(), &m_ui, hooks);
    QCOMPARE(rows.size(), 2);
    QCOMPARE(walked, QStringList{QStringLiteral("/s")});
    const Transfer& t = rows[0].transfer;
    QCOMPARE(t.sizeUnknown, 1);
    QCOMPARE(t.calcThreadId, 555u);
    QVERIFY(t.entries);
    QCOMPARE(t.entries.get(), givenList);
    QVERIFY(t.entries->paths.isEmpty());
    // The finished folder keeps its list and has no walk.
    QCOMPARE(rows[1].transfer.calcThreadId, 0u);
    QCOMPARE(rows[1].transfer.entries->paths.size(), 2);
    QCOMPARE(rows[1].transfer.sessionThreadId, 0u);
}

void TestTransferList::walkFlagOnlyRestartsFolderSends_data()
{
    QTest::addColumn<int>("isSend");
    QTest::addColumn<int>("isFolder");
    QTest::addColumn<bool>("restarted");
    QTest::newRow("folder send") << 1 << 1 << true;
    QTest::newRow("folder receive") << 0 << 1 << false;
    QTest::newRow("file send") << 1 << 0 << false;
}

void TestTransferList::walkFlagOnlyRestartsFolderSends()
{
    QFETCH(int, isSend);
    QFETCH(int, isFolder);
    QFETCH(bool, restarted);
    QVERIFY(testsupport::writeAll(listPath(), hex(FileHead) + Le32(1) +
                                                  PlainEntry(3, "s", 9, isSend, isFolder)));
    int starts = 0;
    const QList<TransferListRow> rows = LoadTransferList(
        listPath(), &m_ui, {[&starts](Transfer&) { return uint32_t(++starts); }, {}});
    QCOMPARE(rows.size(), 1);
    QCOMPARE(starts, restarted ? 1 : 0);
    QCOMPARE(rows[0].transfer.calcThreadId, restarted ? 1u : 0u);
    QCOMPARE(bool(rows[0].transfer.entries), restarted);
}

void TestTransferList::entryListPieces()
{
    // Empty pieces are entries too; a final piece without its zero runs to
    // the end of the list; a walk flag next to a stored list is stale.
    QByteArray entry = PlainEntry(3, "s", 0, 1, 1);
    entry.chop(8);
    entry += Le32(7) + Le32(1) + Le32(7) + QByteArray("a\0\0b\0cd", 7);
    QVERIFY(testsupport::writeAll(listPath(), hex(FileHead) + Le32(1) + entry));
    int starts = 0;
    const QList<TransferListRow> rows = LoadTransferList(
        listPath(), &m_ui, {[&starts](Transfer&) { return uint32_t(++starts); }, {}});
    QVERIFY(m_ui.messages.isEmpty());
    QCOMPARE(rows.size(), 1);
    QCOMPARE(
        rows[0].transfer.entries->paths,
        (QStringList{QStringLiteral("a"), QString(), QStringLiteral("b"), QStringLiteral("cd")}));
    QCOMPARE(rows[0].transfer.calcThreadId, 0u);
    QCOMPARE(starts, 0);
}

void TestTransferList::damagedFileKeepsRowsReadSoFar_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("rowsKept");
    QTest::addColumn<bool>("damaged");

    const QByteArray good = PlainEntry(3, "first");
    // The status text's length word sits right after the block.
    const QByteArray maxText =
        good.left(88) + Counted(QByteArray(65534, 't')) + good.sliced(88 + 10);
    const QByteArray overText =
        good.left(88) + Le32(65536) + QByteArray(65536, 't') + good.sliced(88 + 10);
    QByteArray listEntry = PlainEntry(3, "s", 0, 1, 1);
    listEntry.chop(4);
    const QByteArray overList = listEntry + Le32(1) + Le32(104857601);
    const QByteArray shortList = listEntry + Le32(1) + Le32(100) + QByteArray(99, 'x');

    QTest::newRow("good") << hex(FileHead) + Le32(2) + good + good << 2 << false;
    QTest::newRow("version 5999") << hex("6f170000") + Le32(1) + good << 0 << true;
    QTest::newRow("only the version") << hex(FileHead) << 0 << true;
    QTest::newRow("count above the rows") << hex(FileHead) + Le32(3) + good + good << 2 << true;
    QTest::newRow("cut inside a row")
        << hex(FileHead) + Le32(2) + good + good.left(100) << 1 << true;
    QTest::newRow("text of 65535 bytes with its zero")
        << hex(FileHead) + Le32(2) + good + maxText << 2 << false;
    QTest::newRow("text length 65536") << hex(FileHead) + Le32(2) + good + overText << 1 << true;
    QTest::newRow("entry list over 100 MiB")
        << hex(FileHead) + Le32(2) + good + overList << 1 << true;
    QTest::newRow("entry list cut") << hex(FileHead) + Le32(2) + good + shortList << 1 << true;
}

void TestTransferList::damagedFileKeepsRowsReadSoFar()
{
    QFETCH(QByteArray, content);
    QFETCH(int, rowsKept);
    QFETCH(bool, damaged);
    QVERIFY(testsupport::writeAll(listPath(), content));
    const QList<TransferListRow> rows = LoadTransferList(listPath(), &m_ui);
    QCOMPARE(rows.size(), rowsKept);
    if (rowsKept > 0)
        QCOMPARE(rows[0].transfer.statusText, QStringLiteral("first"));
    QCOMPARE(QFile::exists(listPath()), !damaged);
    QCOMPARE(m_ui.messages.size(), damaged ? 1 : 0);
    if (damaged) {
        QCOMPARE(m_ui.messages[0].icon, ProfileUi::Icon::Error);
        QCOMPARE(m_ui.messages[0].caption, QStringLiteral("Disk Read Error"));
        QCOMPARE(m_ui.messages[0].text, QStringLiteral("Unable to load \"Transfers.cfg\" file!"));
    }
}

void TestTransferList::missingFileIsSilent()
{
    QVERIFY(LoadTransferList(listPath(), &m_ui).isEmpty());
    QVERIFY(m_ui.messages.isEmpty());
}

void TestTransferList::failedWriteKeepsPreviousFile()
{
    const QByteArray previous = hex(FileHead) + Le32(1) + hex(HandEntry);
    QVERIFY(testsupport::writeAll(listPath(), previous));

    QList<TransferListRow> rows;
    TransferListRow big = SampleRow();
    for (int i = 0; i < 2000; ++i)
        big.transfer.entries->paths.append(QStringLiteral("folder/file number %1").arg(i));
    rows.append(big);

    // The file size limit makes the write fail part-way, as a full disk would.
    struct rlimit old;
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
    struct rlimit small = old;
    small.rlim_cur = 4096;
    const auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool saved = SaveTransferList(listPath(), rows, &m_ui);
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);

    QVERIFY(!saved);
    QCOMPARE(testsupport::readAll(listPath()), previous);
    QCOMPARE(m_ui.messages.size(), 1);
    QCOMPARE(m_ui.messages[0].icon, ProfileUi::Icon::Error);
    QCOMPARE(m_ui.messages[0].caption, QStringLiteral("Disk Write Error"));
    QCOMPARE(m_ui.messages[0].text, QStringLiteral("Unable to write to \"Transfers.cfg\" file!"));
    // No temporary file is left behind.
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files),
             QStringList{QStringLiteral("Transfers.cfg")});
    // Without the limit the same list is written.
    QVERIFY(SaveTransferList(listPath(), rows, &m_ui));
    QCOMPARE(LoadTransferList(listPath(), &m_ui).value(0).transfer.entries->paths.size(), 2002);
}

void TestTransferList::unwritableFolderIsReported()
{
    const QString path = m_dir->filePath(QStringLiteral("no such folder/Transfers.cfg"));
    QVERIFY(!SaveTransferList(path, {SampleRow()}, &m_ui));
    QCOMPARE(m_ui.messages.size(), 1);
    QCOMPARE(m_ui.messages[0].caption, QStringLiteral("Disk Write Error"));
}

QTEST_GUILESS_MAIN(TestTransferList)
#include "tst_transferlist.moc"

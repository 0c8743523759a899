// Transfers between headless node processes on 127.0.0.1, driven over their
// consoles.

#include "nodeprocess.h"
#include "testsupport.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using testsupport::readAll;
using testsupport::writeAll;

class TestNodeTransfers : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void sendShowsCompletedOnBoth();
    void acceptPrompt_data();
    void acceptPrompt();

private:
    // Alice and Bob connected, Bob saving into inbox/ of his home.
    bool startPair(bool bobAcceptsAll);
    QString path(const QString& relative) const { return m_dir->path() + u'/' + relative; }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<NodeProcess> m_alice;
    std::unique_ptr<NodeProcess> m_bob;
    QByteArray m_data;
};

void TestNodeTransfers::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_data = QByteArray(300000, '\0');
    for (int i = 0; i < m_data.size(); ++i)
        m_data[i] = char(i * 7 + (i >> 9));
    writeAll(path(QStringLiteral("data.bin")), m_data);
}

void TestNodeTransfers::cleanup()
{
    if (QTest::currentTestFailed()) {
        for (NodeProcess* n : {m_alice.get(), m_bob.get()}) {
            if (n)
                qWarning().noquote() << "node output:\n" << n->lines().join(u'\n');
        }
    }
    m_alice.reset();
    m_bob.reset();
    m_dir.reset();
}

bool TestNodeTransfers::startPair(bool bobAcceptsAll)
{
    m_alice = std::make_unique<NodeProcess>(QStringLiteral(ZEPHLINK_NODE_PATH));
    m_bob = std::make_unique<NodeProcess>(QStringLiteral(ZEPHLINK_NODE_PATH));
    const QString on = bobAcceptsAll ? QStringLiteral("on") : QStringLiteral("off");
    return m_alice->start(path(QStringLiteral("alice")), {QStringLiteral("--name"), u"Alice"_qs}) &&
           m_bob->start(path(QStringLiteral("bob")), {QStringLiteral("--name"), u"Bob"_qs}) &&
           m_bob->command(u"set autosaveDir "_qs + path(QStringLiteral("bob/inbox"))) == u"ok" &&
           m_bob->command(u"set autoAcceptAll "_qs + on) == u"ok" &&
           m_alice->command(u"add 127.0.0.1 %1"_qs.arg(m_bob->port())) == u"ok" &&
           !m_alice->waitForLine(u"^event New Contact Bob "_qs).isEmpty() &&
           !m_bob->waitForLine(u"^event New Contact Alice "_qs).isEmpty();
}

void TestNodeTransfers::sendShowsCompletedOnBoth()
{
    QVERIFY(startPair(true));
    // The chat session may still be settling: the scheduler starts a send
    // that could not start at once.
    QCOMPARE(m_alice->command(u"send Bob "_qs + path(u"data.bin"_qs)), u"ok"_qs);
    const QString done = u"^transfer 1\tCompleted\t100\tTransfer Complete$"_qs;
    QVERIFY(!m_alice->waitForLine(done).isEmpty());
    QVERIFY(!m_bob->waitForLine(done).isEmpty());

    const QString size = QString::number(m_data.size());
    QStringList rows;
    QCOMPARE(m_alice->command(u"transfers"_qs, &rows, u"row"_qs), u"ok"_qs);
    QCOMPARE(
        rows,
        QStringList{u"1\tCompleted\tTo:\tdata.bin\t%1\t%1\t100\tTransfer Complete"_qs.arg(size)});
    QCOMPARE(m_bob->command(u"transfers"_qs, &rows, u"row"_qs), u"ok"_qs);
    QCOMPARE(
        rows,
        QStringList{u"1\tCompleted\tFrom:\tdata.bin\t%1\t%1\t100\tTransfer Complete"_qs.arg(size)});
    // Autosave subfolders are on by default.
    QCOMPARE(readAll(path(u"bob/inbox/Alice/data.bin"_qs)), m_data);

    // A second send of the same file is a duplicate.
    QCOMPARE(m_alice->command(u"send Bob "_qs + path(u"data.bin"_qs)),
             u"error already in the transfer list"_qs);
    QCOMPARE(m_alice->command(u"retry 2"_qs), u"error no such row: 2"_qs);
}

void TestNodeTransfers::acceptPrompt_data()
{
    QTest::addColumn<QString>("answer");    // the answer to the accept prompt
    QTest::addColumn<QString>("existing");  // a different file already at the target
    QTest::addColumn<QString>("resume");    // the answer to the resume prompt
    QTest::addColumn<QString>("savedAs");   // where the data ends up ("" = nowhere)
    QTest::addColumn<QString>("aliceLine"); // Alice's row at the end
    const QString complete = u"Completed\t100\tTransfer Complete"_qs;
    QTest::newRow("accept into the autosave folder")
        << u"accept %1"_qs << QString() << QString() << u"bob/inbox/data.bin"_qs << complete;
    QTest::newRow("accept to a path")
        << u"accept %1 %2"_qs << QString() << QString() << u"bob/mine/x.bin"_qs << complete;
    QTest::newRow("existing file renamed")
        << u"accept %1 %2"_qs << u"bob/mine/x.bin"_qs << u"autorename"_qs
        << u"bob/mine/x_001.bin"_qs << complete;
    QTest::newRow("existing file, resume question canceled")
        << u"accept %1 %2"_qs << u"bob/mine/x.bin"_qs << u"cancel"_qs << QString()
        << u"ManualRetry\t0\tTransfer Denied"_qs;
    QTest::newRow("deny") << u"deny %1"_qs << QString() << QString() << QString()
                          << u"ManualRetry\t0\tTransfer Denied"_qs;
}

void TestNodeTransfers::acceptPrompt()
{
    QFETCH(QString, answer);
    QFETCH(QString, existing);
    QFETCH(QString, resume);
    QFETCH(QString, savedAs);
    QFETCH(QString, aliceLine);
    QVERIFY(startPair(false));
    if (!existing.isEmpty()) {
        QDir().mkpath(QFileInfo(path(existing)).path());
        writeAll(path(existing), QByteArrayLiteral("something else"));
    }

    QCOMPARE(m_alice->command(u"send Bob "_qs + path(u"data.bin"_qs)), u"ok"_qs);
    const QString prompt = m_bob->waitForLine(
        u"^prompt accept\t\\d+\tfile\tdata.bin\t292.97 KB\tAlice \\(127.0.0.1\\)$"_qs);
    QVERIFY(!prompt.isEmpty());
    const QString n = prompt.split(u'\t').at(1);
    QVERIFY(!m_alice->waitForLine(u"^transfer 1\tWaiting\t-1\tWaiting for acceptance...$"_qs)
                 .isEmpty());
    QCOMPARE(
        m_bob->command(answer.replace(u"%1"_qs, n).replace(u"%2"_qs, path(u"bob/mine/x.bin"_qs))),
        u"ok"_qs);

    if (!resume.isEmpty()) {
        QVERIFY(
            !m_bob->waitForLine(u"^prompt resume\t%1\tFile Already Exist\t"_qs.arg(n)).isEmpty());
        QCOMPARE(m_bob->command(u"resume %1 resume"_qs.arg(n)), u"error resume is not offered"_qs);
        QCOMPARE(m_bob->command(u"resume %1 %2"_qs.arg(n, resume)), u"ok"_qs);
    }
    QVERIFY(!m_alice->waitForLine(u"^transfer 1\t"_qs + aliceLine + u'$').isEmpty());
    QVERIFY(!m_bob->waitForLine(u"^prompt closed\t%1$"_qs.arg(n)).isEmpty());
    if (!savedAs.isEmpty()) {
        QVERIFY(!m_bob->waitForLine(u"^transfer 1\tCompleted\t100\t"_qs).isEmpty());
        QCOMPARE(readAll(path(savedAs)), m_data);
    }
    if (!existing.isEmpty())
        QCOMPARE(readAll(path(existing)), QByteArrayLiteral("something else"));
    QCOMPARE(m_bob->command(u"deny %1"_qs.arg(n)), u"error no such prompt: "_qs + n);
}

QTEST_GUILESS_MAIN(TestNodeTransfers)
#include "tst_node_transfers.moc"

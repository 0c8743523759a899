#include "testsupport.h"

#include "transfers/calcthread.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

// Collects the walk's reports in the test's thread.
class Recorder : public QObject
{
    Q_OBJECT
public:
    void watch(CCalcThread* walk)
    {
        connect(walk, &CCalcThread::walkFinished, this, &Recorder::onFinished);
        connect(walk, &CCalcThread::walkStopped, this, &Recorder::onStopped);
    }
    int finished = 0;
    int stopped = 0;
    quint32 id = 0;
    quint64 total = 0;

public slots:
    void onFinished(quint32 walkId, quint64 t)
    {
        ++finished;
        id = walkId;
        total = t;
    }
    void onStopped(quint32 walkId, quint64 t)
    {
        ++stopped;
        id = walkId;
        total = t;
    }
};

void MakeFile(const QString& path, qint64 size)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QVERIFY(f.resize(size));
}

// Depth first over the names in the order the file system lists them: a
// sub-folder's files come where the sub-folder was met.
void ReferenceWalk(const QString& folder, const QString& prefix, QStringList& out)
{
    const QStringList names = QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QString& name : names) {
        const QFileInfo info(folder + u'/' + name);
        if (info.isDir() && !info.isSymLink())
            ReferenceWalk(info.filePath(), prefix + name + u'/', out);
        else if (info.isFile() && (!info.isSymLink() || name != u"leak.bin"))
            out.append(prefix + name);
    }
}

} // namespace

class TestCalcThread : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void walksNestedTreeDepthFirst();
    void emptyOrMissingRoot_data();
    void emptyOrMissingRoot();
    void stopMidWalkReportsOnce();
    void stopAfterFinishingDoesNothing();
    void totalsBeyondFourGiB();

private:
    QString at(const QString& relative) const { return m_dir->filePath(relative); }
    std::unique_ptr<QTemporaryDir> m_dir;
    ThreadRegistry m_registry;
};

void TestCalcThread::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestCalcThread::walksNestedTreeDepthFirst()
{
    const QString root = at(QStringLiteral("root"));
    MakeFile(root + QStringLiteral("/a.txt"), 3);
    MakeFile(root + QStringLiteral("/sub/b.txt"), 5);
    MakeFile(root + QStringLiteral("/sub/deeper/c.txt"), 7);
    MakeFile(root + QStringLiteral("/sub/deeper/d.txt"), 11);
    MakeFile(root + QStringLiteral("/sub/e.txt"), 13);
    MakeFile(root + QStringLiteral("/other/f.txt"), 17);
    MakeFile(root + QStringLiteral("/.hidden"), 19);
    MakeFile(root + QStringLiteral("/z.txt"), 23);
    QVERIFY(QDir().mkpath(root + QStringLiteral("/empty/inner")));
    MakeFile(at(QStringLiteral("outside/big.bin")), 1000);
    // A link back up the tree and one out of it are not followed; a link to
    // a file inside counts as that file, one to a file outside is not
    // listed; a pipe is no file to send.
    QVERIFY(QFile::link(root, root + QStringLiteral("/sub/loop")));
    QVERIFY(QFile::link(at(QStringLiteral("outside")), root + QStringLiteral("/out")));
    QVERIFY(QFile::link(root + QStringLiteral("/a.txt"), root + QStringLiteral("/alias.txt")));
    QVERIFY(
        QFile::link(at(QStringLiteral("outside/big.bin")), root + QStringLiteral("/sub/leak.bin")));
    QCOMPARE(mkfifo(QFile::encodeName(root + QStringLiteral("/pipe")).constData(), 0600), 0);

    EntryListPtr entries = NewEntryList();
    auto* walk = new CCalcThread(root + QStringLiteral("/"), entries);
    const quint32 id = walk->id();
    QVERIFY(id != 0);
    Recorder recorder;
    recorder.watch(walk);
    const CalcHandle handle = CCalcThread::launch(walk, m_registry);
    QVERIFY(handle.isValid());
    QCOMPARE(handle.id(), id);
    QTRY_COMPARE(recorder.finished, 1);
    QVERIFY(handle.wait(10000));
    QCoreApplication::sendPostedEvents();
    QCOMPARE(recorder.stopped, 0);
    QCOMPARE(recorder.finished, 1);
    QCOMPARE(recorder.id, id);
    QCOMPARE(recorder.total, quint64(3 + 5 + 7 + 11 + 13 + 17 + 19 + 23 + 3));

    QMutexLocker locker(&entries->lock);
    const QStringList paths = entries->paths;
    const QSet<QString> expected{QStringLiteral("a.txt"),
                                 QStringLiteral("sub/b.txt"),
                                 QStringLiteral("sub/deeper/c.txt"),
                                 QStringLiteral("sub/deeper/d.txt"),
                                 QStringLiteral("sub/e.txt"),
                                 QStringLiteral("other/f.txt"),
                                 QStringLiteral(".hidden"),
                                 QStringLiteral("z.txt"),
                                 QStringLiteral("alias.txt")};
    QCOMPARE(paths.size(), expected.size());
    QCOMPARE(QSet<QString>(paths.cbegin(), paths.cend()), expected);
    QStringList order;
    ReferenceWalk(root, QString(), order);
    QCOMPARE(paths, order);
    QCOMPARE(m_registry.count(ThreadKind::FolderCalculation), 0);
}

void TestCalcThread::emptyOrMissingRoot_data()
{
    QTest::addColumn<bool>("exists");
    QTest::newRow("empty folder") << true;
    QTest::newRow("missing folder") << false;
}

void TestCalcThread::emptyOrMissingRoot()
{
    QFETCH(bool, exists);
    const QString root = at(QStringLiteral("nothing"));
    if (exists)
        QVERIFY(QDir().mkpath(root + QStringLiteral("/only/folders")));
    EntryListPtr entries = NewEntryList();
    auto* walk = new CCalcThread(root, entries);
    Recorder recorder;
    recorder.watch(walk);
    const CalcHandle handle = CCalcThread::launch(walk, m_registry);
    QTRY_COMPARE(recorder.finished, 1);
    QVERIFY(handle.wait(10000));
    QCoreApplication::sendPostedEvents();
    QCOMPARE(recorder.stopped, 0);
    QCOMPARE(recorder.total, 0u);
    QVERIFY(entries->paths.isEmpty());
}

void TestCalcThread::stopMidWalkReportsOnce()
{
    const QString root = at(QStringLiteral("many"));
    for (int i = 0; i < 600; ++i)
        MakeFile(root + QStringLiteral("/d%1/f%2").arg(i % 7).arg(i), 10);

    EntryListPtr entries = NewEntryList();
    auto* walk = new CCalcThread(root, entries);
    Recorder recorder;
    recorder.watch(walk);
    CalcHandle handle;
    {
        // Holding the list keeps the walk at its first append at most.
        QMutexLocker locker(&entries->lock);
        handle = CCalcThread::launch(walk, m_registry);
        QVERIFY(handle.isValid());
        QCOMPARE(m_registry.count(ThreadKind::FolderCalculation), 1);
        handle.stop();
        handle.stop();
    }
    QTRY_COMPARE(recorder.stopped, 1);
    QVERIFY(handle.wait(10000));
    QVERIFY(!handle.isRunning());
    handle.stop();
    QCoreApplication::sendPostedEvents();
    QCOMPARE(recorder.stopped, 1);
    QCOMPARE(recorder.finished, 0);
    QMutexLocker locker(&entries->lock);
    QVERIFY(entries->paths.size() <= 1);
    QCOMPARE(recorder.total, quint64(entries->paths.size()) * 10);
}

void TestCalcThread::stopAfterFinishingDoesNothing()
{
    const QString root = at(QStringLiteral("small"));
    MakeFile(root + QStringLiteral("/one"), 1);
    auto* walk = new CCalcThread(root, NewEntryList());
    Recorder recorder;
    recorder.watch(walk);
    const CalcHandle handle = CCalcThread::launch(walk, m_registry);
    QTRY_COMPARE(recorder.finished, 1);
    QVERIFY(handle.wait(10000));
    handle.stop();
    QCoreApplication::sendPostedEvents();
    QCOMPARE(recorder.stopped, 0);
    QCOMPARE(recorder.finished, 1);
}

void TestCalcThread::totalsBeyondFourGiB()
{
    // Sparse files: the sizes are real, the disk space is not used.
    const QString root = at(QStringLiteral("huge"));
    MakeFile(root + QStringLiteral("/a.bin"), qint64(3) << 30);
    MakeFile(root + QStringLiteral("/b/c.bin"), (qint64(3) << 30) + 1);
    auto* walk = new CCalcThread(root, NewEntryList());
    Recorder recorder;
    recorder.watch(walk);
    const CalcHandle handle = CCalcThread::launch(walk, m_registry);
    QTRY_COMPARE(recorder.finished, 1);
    QCOMPARE(recorder.total, (quint64(6) << 30) + 1);
    QVERIFY(handle.wait(10000));
}

QTEST_GUILESS_MAIN(TestCalcThread)
#include "tst_calcthread.moc"

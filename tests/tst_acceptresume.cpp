#include "testsupport.h"

#include "profile/settings.h"
#include "records/contact.h"
#include "transfers/acceptresume.h"
#include "transfers/headcrc.h"
#include "transfers/pathguard.h"
#include "transfers/targetclaim.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>

#include <sys/file.h>

namespace {

constexpr qsizetype MiB = 1048576;

QByteArray Pattern(qsizetype size, int seed = 0)
{
    QByteArray bytes(size, '\0');
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((i + seed) % 253);
    return bytes;
}

// A file, a folder, or nothing at a path, as one column of a table.
// "dir" makes a folder, "link:<target>" a symbolic link, anything else is
// taken as the file's content; a null array means nothing is there.
void Place(const QString& path, const QByteArray& what)
{
    if (what.isNull())
        return;
    QDir().mkpath(QFileInfo(path).path());
    if (what == "dir")
        QVERIFY(QDir().mkpath(path));
    else if (what.startsWith("link:"))
        QVERIFY(QFile::link(QString::fromUtf8(what.sliced(5)), path));
    else
        QVERIFY(testsupport::writeAll(path, what));
}

Contact MakeContact(const QString& alias, const QString& screenName, bool autosave)
{
    Contact c = NewContact();
    c.alias.setText(alias);
    c.name.setText(screenName);
    c.autosave = autosave;
    return c;
}

} // namespace

class TestAcceptResume : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void autosaveFolder_data();
    void autosaveFolder();
    void autosaveFolderFromSettings();
    void renameAutosaveFolder_data();
    void renameAutosaveFolder();

    void classify_data();
    void classify();
    void autoRename_data();
    void autoRename();

    void safeRelativePath_data();
    void safeRelativePath();
    void isInside_data();
    void isInside();
    void claimUnderTwoNames();
    void ownReceiveMatch_data();
    void ownReceiveMatch();

    void decideOffer_data();
    void decideOffer();
    void pickedPath_data();
    void pickedPath();

    void resumePrompts_data();
    void resumePrompts();
    void acceptPrompt();

private:
    QString at(const QString& relative) const { return m_dir->filePath(relative); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestAcceptResume::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestAcceptResume::autosaveFolder_data()
{
    QTest::addColumn<QString>("pathTemplate");
    QTest::addColumn<QString>("autosaveDir");
    QTest::addColumn<QString>("alias");
    QTest::addColumn<QString>("screenName");
    QTest::addColumn<bool>("acceptAll");
    QTest::addColumn<bool>("contactFlag");
    QTest::addColumn<bool>("subfolders");
    QTest::addColumn<QString>("folder");

    const QString tmpl = QStringLiteral("%autosavedir%\\%contactname%");
    const QString dl = QStringLiteral("/home/u/Downloads");
    QTest::newRow("subfolder for the contact")
        << tmpl << dl << QString() << QStringLiteral("Team 7!") << true << false << true
        << QStringLiteral("/home/u/Downloads/Team7");
    QTest::newRow("subfolders off")
        << tmpl << dl << QString() << QStringLiteral("Team 7!") << true << false << false << dl;
    QTest::newRow("alias before screen name")
        << tmpl << dl << QStringLiteral("Bö b") << QStringLiteral("Robert") << true << false << true
        << QStringLiteral("/home/u/Downloads/Bb");
    QTest::newRow("contact's own flag") << tmpl << dl << QString() << QStringLiteral("Ann") << false
                                        << true << true << QStringLiteral("/home/u/Downloads/Ann");
    QTest::newRow("neither flag asks the user")
        << tmpl << dl << QString() << QStringLiteral("Ann") << false << false << true << QString();
    QTest::newRow("a name cannot climb out")
        << tmpl << dl << QString() << QStringLiteral("../../etc") << true << false << true
        << QStringLiteral("/home/u/Downloads/etc");
    QTest::newRow("trailing separators removed")
        << QStringLiteral("%autosavedir%/in/%contactname%\\/") << dl << QString()
        << QStringLiteral("!!") << true << false << true << QStringLiteral("/home/u/Downloads/in");
    QTest::newRow("root kept") << tmpl << QStringLiteral("/") << QString() << QStringLiteral("Ann")
                               << true << false << false << QStringLiteral("/");
    QTest::newRow("template without placeholders")
        << QStringLiteral("/srv/inbox") << dl << QString() << QStringLiteral("Ann") << true << false
        << true << QStringLiteral("/srv/inbox");
}

void TestAcceptResume::autosaveFolder()
{
    QFETCH(QString, pathTemplate);
    QFETCH(QString, autosaveDir);
    QFETCH(QString, alias);
    QFETCH(QString, screenName);
    QFETCH(bool, acceptAll);
    QFETCH(bool, contactFlag);
    QFETCH(bool, subfolders);
    QFETCH(QString, folder);
    Contact c = MakeContact(alias, screenName, contactFlag);
    c.autosavePath.setText(pathTemplate);
    QCOMPARE(AutosaveFolder(c, acceptAll, subfolders, autosaveDir), folder);
}

void TestAcceptResume::autosaveFolderFromSettings()
{
    Settings settings = Settings::defaults();
    settings.autosaveDir = "/data/in";
    settings.autoAcceptAll = 0;
    settings.autosaveSubfolders = 1;
    Contact c = MakeContact(QString(), QStringLiteral("Eve 2"), true);
    QCOMPARE(AutosaveFolder(c, settings), QStringLiteral("/data/in/Eve2"));
    c.autosave = 0;
    QCOMPARE(AutosaveFolder(c, settings), QString());
    settings.autoAcceptAll = 0x01010101;
    settings.autosaveSubfolders = 0;
    QCOMPARE(AutosaveFolder(c, settings), QStringLiteral("/data/in"));
}

void TestAcceptResume::renameAutosaveFolder_data()
{
    QTest::addColumn<QString>("alias");
    QTest::addColumn<QString>("oldName");
    QTest::addColumn<QString>("newName");
    QTest::addColumn<bool>("subfolders");
    QTest::addColumn<bool>("newExists");
    QTest::addColumn<bool>("moved");
    QTest::newRow("moved") << QString() << QStringLiteral("Bob 1") << QStringLiteral("Rob!") << true
                           << false << true;
    QTest::newRow("subfolders off")
        << QString() << QStringLiteral("Bob 1") << QStringLiteral("Rob") << false << false << false;
    // The folder is named after the alias; Bob1 may be someone else's.
    QTest::newRow("contact has an alias") << QStringLiteral("Bobby") << QStringLiteral("Bob 1")
                                          << QStringLiteral("Rob") << true << false << false;
    QTest::newRow("new folder exists")
        << QString() << QStringLiteral("Bob 1") << QStringLiteral("Rob") << true << true << false;
    QTest::newRow("new name filters to nothing")
        << QString() << QStringLiteral("Bob 1") << QStringLiteral("?!") << true << false << false;
    QTest::newRow("same folder name")
        << QString() << QStringLiteral("Bob 1") << QStringLiteral("Bob1") << true << false << false;
}

void TestAcceptResume::renameAutosaveFolder()
{
    QFETCH(QString, alias);
    QFETCH(QString, oldName);
    QFETCH(QString, newName);
    QFETCH(bool, subfolders);
    QFETCH(bool, newExists);
    QFETCH(bool, moved);
    const QString oldFolder = at(QStringLiteral("in/") + FolderSafeName(oldName));
    const QString newFolder = at(QStringLiteral("in/") + FolderSafeName(newName));
    Place(oldFolder + QStringLiteral("/kept.txt"), "data");
    if (newExists)
        Place(newFolder, "dir");
    const QString tmpl = QStringLiteral("%autosavedir%\\%contactname%");
    QCOMPARE(
        RenameAutosaveFolder(tmpl, at(QStringLiteral("in")), alias, oldName, newName, subfolders),
        moved);
    QCOMPARE(QFile::exists(oldFolder + QStringLiteral("/kept.txt")), !moved);
    if (newFolder != oldFolder)
        QCOMPARE(QFile::exists(newFolder + QStringLiteral("/kept.txt")), moved);
}

void TestAcceptResume::classify_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("partial");
    QTest::addColumn<QByteArray>("sender");
    QTest::addColumn<int>("code");
    QTest::addColumn<quint64>("offset");
    // What is on disk afterwards: the target's content (null: nothing there)
    // and whether the partial file is still there.
    QTest::addColumn<QByteArray>("targetAfter");
    QTest::addColumn<bool>("partialAfter");

    const QByteArray sender = Pattern(3 * MiB);
    const QByteArray none;
    QByteArray sameSizeOtherHead = sender;
    sameSizeOtherHead[10] = 'x';
    QByteArray sameHeadOtherTail = sender;
    sameHeadOtherTail[2 * MiB] = 'x';
    const QByteArray twoMiB = sender.left(2 * MiB);
    const QByteArray other = Pattern(1000, 7);

    QTest::newRow("new") << none << none << sender << 6 << quint64(0) << none << false;
    QTest::newRow("identical target")
        << sender << none << sender << 4 << quint64(0) << sender << false;
    // Only the first MiB is compared.
    QTest::newRow("same head, other tail")
        << sameHeadOtherTail << none << sender << 4 << quint64(0) << sameHeadOtherTail << false;
    QTest::newRow("target differs")
        << sameSizeOtherHead << none << sender << 7 << quint64(0) << sameSizeOtherHead << false;
    QTest::newRow("target is a folder")
        << QByteArray("dir") << none << sender << 2 << quint64(0) << QByteArray("dir") << false;
    QTest::newRow("resumable partial")
        << none << twoMiB << sender << 5 << quint64(2 * MiB) << none << true;
    QTest::newRow("partial too short to match")
        << none << sender.left(500 * 1024) << sender << 8 << quint64(0) << none << true;
    QTest::newRow("partial does not match")
        << none << other << sender << 8 << quint64(0) << none << true;
    QTest::newRow("partial longer than the file")
        << none << sender + "more" << sender << 7 << quint64(0) << none << true;
    QTest::newRow("complete partial becomes the target")
        << none << sender << sender << 4 << quint64(0) << sender << false;
    // A different file in the way is never replaced by the partial one.
    QTest::newRow("complete partial, other target")
        << other << sender << sender << 7 << quint64(0) << other << true;
    QTest::newRow("partial is a folder")
        << none << QByteArray("dir") << sender << 2 << quint64(0) << none << true;
    QTest::newRow("identical target wins over partial")
        << sender << other << sender << 4 << quint64(0) << sender << true;
    QTest::newRow("empty file, empty partial")
        << none << QByteArray("") << QByteArray("") << 4 << quint64(0) << QByteArray("") << false;
    QTest::newRow("dangling link as target")
        << QByteArray("link:/nonexistent/zl") << none << sender << 2 << quint64(0)
        << QByteArray("link:/nonexistent/zl") << false;
    // A link is never written through, even to the very same file.
    const QByteArray toSender("link:../sender.bin");
    QTest::newRow("link to the same file as target")
        << toSender << none << sender << 2 << quint64(0) << toSender << false;
    QTest::newRow("link to the same file as partial")
        << none << toSender << sender << 2 << quint64(0) << none << true;
    // Another program writes the partial file (and holds its lock).
    QTest::newRow("partial locked by another writer")
        << none << QByteArray("locked:") + twoMiB << sender << 2 << quint64(0) << none << true;
}

void TestAcceptResume::classify()
{
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, partial);
    QFETCH(QByteArray, sender);
    QFETCH(int, code);
    QFETCH(quint64, offset);
    QFETCH(QByteArray, targetAfter);
    QFETCH(bool, partialAfter);

    const QString targetPath = at(QStringLiteral("in/file.bin"));
    const QString partialPath = targetPath + QStringLiteral(".part");
    Place(targetPath, target);
    QFile lockedPartial(partialPath);
    if (partial.startsWith("locked:")) {
        Place(partialPath, partial.sliced(7));
        QVERIFY(lockedPartial.open(QIODevice::ReadWrite));
        QCOMPARE(::flock(lockedPartial.handle(), LOCK_EX | LOCK_NB), 0);
    } else {
        Place(partialPath, partial);
    }
    const QString senderPath = at(QStringLiteral("sender.bin"));
    QVERIFY(testsupport::writeAll(senderPath, sender));

    // The fast path of a received folder makes the partial file only where
    // the full look would call the target new, and changes nothing else.
    {
        QVERIFY(QDir().mkpath(at(QStringLiteral("in"))));
        const int folder = ::open(QFile::encodeName(at(QStringLiteral("in"))).constData(),
                                  O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        QVERIFY(folder >= 0);
        const FileHandle fresh = CreateFreshPartial(folder, QByteArrayLiteral("file.bin"));
        ::close(folder);
        QCOMPARE(fresh.isOpen(), code == int(TargetClass::New));
        if (fresh.isOpen()) {
            QCOMPARE(QFileInfo(partialPath).size(), 0);
            QVERIFY(QFile::remove(partialPath));
        }
    }
    const Classification c = Classify(targetPath, quint64(sender.size()), HeadCrc(senderPath));
    QCOMPARE(int(c.code), code);
    QCOMPARE(c.offset, offset);

    const QFileInfo after(targetPath);
    if (targetAfter.isNull())
        QVERIFY(!after.exists() && !after.isSymLink());
    else if (targetAfter == "dir")
        QVERIFY(after.isDir());
    else if (targetAfter.startsWith("link:"))
        QVERIFY(after.isSymLink());
    else
        QCOMPARE(testsupport::readAll(targetPath), targetAfter);
    QCOMPARE(QFileInfo::exists(partialPath), partialAfter);
}

void TestAcceptResume::autoRename_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QStringList>("existing");
    QTest::addColumn<QString>("renamed"); // empty: no free name

    QTest::newRow("first number") << QStringLiteral("report.txt") << QStringList()
                                  << QStringLiteral("report_001.txt");
    QTest::newRow("numbers taken")
        << QStringLiteral("report.txt")
        << QStringList{QStringLiteral("report_001.txt"), QStringLiteral("report_002.txt")}
        << QStringLiteral("report_003.txt");
    QTest::newRow("counts on") << QStringLiteral("report_041.txt") << QStringList()
                               << QStringLiteral("report_042.txt");
    QTest::newRow("no extension") << QStringLiteral("notes")
                                  << QStringList{QStringLiteral("notes_001")}
                                  << QStringLiteral("notes_002");
    QTest::newRow("letters after the underscore")
        << QStringLiteral("my_doc.txt") << QStringList() << QStringLiteral("my_001.txt");
    QTest::newRow("leading digits only")
        << QStringLiteral("v_1x3.txt") << QStringList() << QStringLiteral("v_002.txt");
    QTest::newRow("underscore not in place")
        << QStringLiteral("a_12") << QStringList() << QStringLiteral("a_12_001");
    QTest::newRow("last extension only") << QStringLiteral("archive.tar.gz") << QStringList()
                                         << QStringLiteral("archive.tar_001.gz");
    QTest::newRow("dot file") << QStringLiteral(".bashrc") << QStringList()
                              << QStringLiteral("_001.bashrc");
    QTest::newRow("dot in a folder name")
        << QStringLiteral("my.dir/file") << QStringList() << QStringLiteral("my.dir/file_001");
    // Counting on from the folder's "_b/c" would move the file elsewhere.
    QTest::newRow("underscore in a folder name")
        << QStringLiteral("a_b/c") << QStringList() << QStringLiteral("a_b/c_001");
    QTest::newRow("dangling link is taken")
        << QStringLiteral("r.txt") << QStringList{QStringLiteral("link:r_001.txt")}
        << QStringLiteral("r_002.txt");
    // Someone else's download of that name is under way.
    QTest::newRow("partial file is taken")
        << QStringLiteral("r.txt") << QStringList{QStringLiteral("r_001.txt.part")}
        << QStringLiteral("r_002.txt");
    QTest::newRow("count runs out") << QStringLiteral("x_999.txt") << QStringList() << QString();
    QTest::newRow("last number taken")
        << QStringLiteral("x_998.txt") << QStringList{QStringLiteral("x_999.txt")} << QString();
    QTest::newRow("ends without extension")
        << QStringLiteral("x_999") << QStringList() << QString();
}

void TestAcceptResume::autoRename()
{
    QFETCH(QString, path);
    QFETCH(QStringList, existing);
    QFETCH(QString, renamed);
    for (const QString& name : existing) {
        if (name.startsWith(QStringLiteral("link:")))
            QVERIFY(QFile::link(QStringLiteral("/nonexistent/zl"), at(name.mid(5))));
        else
            Place(at(name), "x");
    }
    QString p = at(path);
    QCOMPARE(AutoRename(p), !renamed.isEmpty());
    QCOMPARE(p, renamed.isEmpty() ? at(path) : at(renamed));
}

void TestAcceptResume::safeRelativePath_data()
{
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QString>("local"); // null: refused
    QTest::newRow("peer separators") << QByteArray("sub\\a.txt") << QStringLiteral("sub/a.txt");
    QTest::newRow("mixed separators") << QByteArray("a/b\\c") << QStringLiteral("a/b/c");
    QTest::newRow("plain name") << QByteArray("a.txt") << QStringLiteral("a.txt");
    QTest::newRow("utf-8") << QByteArray("Zo\xc3\xab\\\xc3\xbc.txt") << QStringLiteral("Zoë/ü.txt");
    QTest::newRow("dot parts dropped") << QByteArray(".\\a\\\\b\\.") << QStringLiteral("a/b");
    QTest::newRow("three dots is a name") << QByteArray("...\\a..b") << QStringLiteral(".../a..b");
    QTest::newRow("parent first") << QByteArray("..\\x") << QString();
    QTest::newRow("parent inside") << QByteArray("a\\..\\..\\b") << QString();
    QTest::newRow("parent with slashes") << QByteArray("a/../b") << QString();
    QTest::newRow("parent mixed") << QByteArray("a\\../b") << QString();
    QTest::newRow("parent last") << QByteArray("x\\..") << QString();
    QTest::newRow("absolute, backslash") << QByteArray("\\etc\\passwd") << QString();
    QTest::newRow("absolute, slash") << QByteArray("/etc/passwd") << QString();
    QTest::newRow("drive letter") << QByteArray("C:\\x") << QString();
    QTest::newRow("drive letter behind dots") << QByteArray(".\\.\\C:\\x") << QString();
    QTest::newRow("drive-like name inside") << QByteArray("a\\C:\\x") << QStringLiteral("a/C:/x");
    QTest::newRow("empty") << QByteArray("") << QString();
    QTest::newRow("only dots") << QByteArray(".\\.") << QString();
}

void TestAcceptResume::safeRelativePath()
{
    QFETCH(QByteArray, wire);
    QFETCH(QString, local);
    const std::optional<QString> result = SafeRelativePath(wire);
    QCOMPARE(result.has_value(), !local.isNull());
    if (result) {
        QCOMPARE(*result, local);
        // What we send of a local path comes back as the same path.
        QCOMPARE(SafeRelativePath(WireRelativePath(local)), std::optional<QString>(local));
        QVERIFY(!WireRelativePath(local).contains('/'));
        QVERIFY(IsPathInside(QStringLiteral("/in"), QStringLiteral("/in/") + *result));
    }
}

void TestAcceptResume::isInside_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("inside");
    QTest::newRow("below") << QStringLiteral("/a/b") << QStringLiteral("/a/b/c") << true;
    QTest::newRow("itself") << QStringLiteral("/a/b") << QStringLiteral("/a/b") << true;
    QTest::newRow("same prefix") << QStringLiteral("/a/b") << QStringLiteral("/a/bc") << false;
    QTest::newRow("climbs out") << QStringLiteral("/a/b") << QStringLiteral("/a/b/../c") << false;
    QTest::newRow("climbs and returns")
        << QStringLiteral("/a/b") << QStringLiteral("/a/b/x/../y") << true;
    QTest::newRow("trailing slash") << QStringLiteral("/a/b/") << QStringLiteral("/a/b/x") << true;
    QTest::newRow("root") << QStringLiteral("/") << QStringLiteral("/x") << true;
    QTest::newRow("above") << QStringLiteral("/a/b") << QStringLiteral("/a") << false;
    // Real folders and links below the temporary folder ("T/").
    QTest::newRow("through a linked folder")
        << QStringLiteral("T/share") << QStringLiteral("T/share/docs/secret") << false;
    QTest::newRow("link to a file outside")
        << QStringLiteral("T/share") << QStringLiteral("T/share/key") << false;
    QTest::newRow("link that stays inside")
        << QStringLiteral("T/share") << QStringLiteral("T/share/again/x") << true;
    // ".." climbs from where the link really leads.
    QTest::newRow("climbs out of a linked folder")
        << QStringLiteral("T/share") << QStringLiteral("T/share/docs/../share/sub/x") << true;
    QTest::newRow("climbs where it seems to stay")
        << QStringLiteral("T/share") << QStringLiteral("T/share/docs/../private/secret") << false;
    QTest::newRow("missing part below a linked folder")
        << QStringLiteral("T/share") << QStringLiteral("T/share/docs/new/file") << false;
    QTest::newRow("folder given through a link")
        << QStringLiteral("T/share/again") << QStringLiteral("T/share/sub/x") << true;
    // A write there would land where the link points.
    QTest::newRow("link that leads nowhere yet")
        << QStringLiteral("T/share") << QStringLiteral("T/share/later") << false;
}

void TestAcceptResume::isInside()
{
    QFETCH(QString, folder);
    QFETCH(QString, path);
    QFETCH(bool, inside);
    // T/private/secret, T/share/sub/x, and the links T/share/docs ->
    // ../private, T/share/key -> ../private/secret, T/share/again -> sub,
    // T/share/later -> ../private/new (missing).
    Place(at(QStringLiteral("private/secret")), "s");
    Place(at(QStringLiteral("share/sub/x")), "x");
    Place(at(QStringLiteral("share/docs")), "link:../private");
    Place(at(QStringLiteral("share/key")), "link:../private/secret");
    Place(at(QStringLiteral("share/again")), "link:sub");
    Place(at(QStringLiteral("share/later")), "link:../private/new");
    const auto real = [this](const QString& p) {
        return p.startsWith(QStringLiteral("T/")) ? at(p.mid(2)) : p;
    };
    QCOMPARE(IsPathInside(real(folder), real(path)), inside);
    // The located path is where a write would land, and only when inside.
    const QString located = FolderGuard(real(folder)).locateInside(real(path));
    QCOMPARE(located.isEmpty(), !inside);
    if (inside)
        QCOMPARE(located, RealLocation(real(path)));
}

void TestAcceptResume::claimUnderTwoNames()
{
    // A claim taken on a located target keeps out the same file reached
    // through a linked folder, and its ".part" file.
    Place(at(QStringLiteral("share/sub/x")), "x");
    Place(at(QStringLiteral("share/again")), "link:sub");
    const QString viaLink = at(QStringLiteral("share/again/x"));
    const QString located = FolderGuard(at(QStringLiteral("share"))).locateInside(viaLink);
    QCOMPARE(located, RealLocation(at(QStringLiteral("share/sub/x"))));
    TargetClaim claim = TargetClaim::takeLocated(located);
    QVERIFY(claim.held());
    QVERIFY(TargetClaim::isClaimed(viaLink));
    QVERIFY(!TargetClaim::take(viaLink).held());
    QVERIFY(!TargetClaim::take(at(QStringLiteral("share/sub/x")) + PartialSuffix).held());
    claim.release();
    QVERIFY(!TargetClaim::isClaimed(viaLink));
    QVERIFY(TargetClaim::take(viaLink).held());
}

void TestAcceptResume::ownReceiveMatch_data()
{
    QTest::addColumn<int>("rowIsSend");
    QTest::addColumn<QByteArray>("rowUid");
    QTest::addColumn<QString>("rowSender");
    QTest::addColumn<QString>("rowSaved");
    QTest::addColumn<bool>("match");
    const QString sender = QStringLiteral("C:\\Files\\a.txt");
    const QString saved = QStringLiteral("/home/u/in/a.txt");
    QTest::newRow("our resume") << 0 << QByteArray("u1") << sender << saved << true;
    QTest::newRow("sender path in other case")
        << 0 << QByteArray("u1") << QStringLiteral("c:\\files\\A.TXT") << saved << true;
    QTest::newRow("saved path in other case")
        << 0 << QByteArray("u1") << sender << QStringLiteral("/home/u/in/A.txt") << false;
    QTest::newRow("a send row") << 1 << QByteArray("u1") << sender << saved << false;
    QTest::newRow("another contact") << 0 << QByteArray("u2") << sender << saved << false;
    QTest::newRow("another file") << 0 << QByteArray("u1") << QStringLiteral("C:\\b.txt") << saved
                                  << false;
    QTest::newRow("another place")
        << 0 << QByteArray("u1") << sender << QStringLiteral("/etc/a.txt") << false;
}

void TestAcceptResume::ownReceiveMatch()
{
    QFETCH(int, rowIsSend);
    QFETCH(QByteArray, rowUid);
    QFETCH(QString, rowSender);
    QFETCH(QString, rowSaved);
    QFETCH(bool, match);
    Transfer offer = NewTransfer();
    offer.isSend = 1; // the sender's own record travels as the offer
    offer.contactUid = "u1";
    offer.senderPath = QStringLiteral("C:\\Files\\a.txt");
    offer.savedPath = QStringLiteral("/home/u/in/a.txt");
    Transfer row = NewTransfer();
    row.isSend = rowIsSend;
    row.contactUid = rowUid;
    row.senderPath = rowSender;
    row.savedPath = rowSaved;
    QCOMPARE(MatchesOwnReceive(offer, row), match);
}

void TestAcceptResume::decideOffer_data()
{
    // Paths in the table are relative to the test folder; the automatic
    // save folder is "auto" (or none), the peer's file "C:\Files\a.txt" of
    // the sender content below, unless a row says otherwise.
    QTest::addColumn<QString>("senderPath");
    QTest::addColumn<bool>("isFolder");
    QTest::addColumn<QString>("offerSavedPath");
    QTest::addColumn<bool>("trusted");
    QTest::addColumn<bool>("autosave");
    QTest::addColumn<QString>("existingPath");
    QTest::addColumn<QByteArray>("existing");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("savedPath");
    QTest::addColumn<quint64>("offset");
    QTest::addColumn<int>("code");

    const QString peer = QStringLiteral("C:\\Files\\a.txt");
    const QByteArray sender = Pattern(2 * MiB);
    const int accept = OfferDecision::Accept;
    const int refuse = OfferDecision::Refuse;
    const int ask = OfferDecision::Ask;
    const QString none;
    const QByteArray nothing;

    QTest::newRow("no folder: ask") << peer << false << none << false << false << none << nothing
                                    << ask << none << quint64(0) << 0;
    QTest::newRow("automatic folder") << peer << false << none << false << true << none << nothing
                                      << accept << QStringLiteral("auto/a.txt") << quint64(0) << 0;
    QTest::newRow("peer path with slashes")
        << QStringLiteral("/home/peer/b.txt") << false << none << false << true << none << nothing
        << accept << QStringLiteral("auto/b.txt") << quint64(0) << 0;
    QTest::newRow("our resume") << peer << false << QStringLiteral("mine/a.txt") << true << false
                                << QStringLiteral("mine/a.txt.part") << sender.left(MiB + 5)
                                << accept << QStringLiteral("mine/a.txt") << quint64(MiB + 5) << 0;
    // A saved path this side never chose is not written to.
    QTest::newRow("foreign saved path, automatic folder")
        << peer << false << QStringLiteral("elsewhere/a.txt") << false << true << none << nothing
        << accept << QStringLiteral("auto/a.txt") << quint64(0) << 0;
    QTest::newRow("foreign saved path, no folder")
        << peer << false << QStringLiteral("elsewhere/a.txt") << false << false << none << nothing
        << ask << none << quint64(0) << 0;
    QTest::newRow("identical") << peer << false << none << false << true
                               << QStringLiteral("auto/a.txt") << sender << refuse << none
                               << quint64(0) << 4;
    QTest::newRow("differs: renamed")
        << peer << false << none << false << true << QStringLiteral("auto/a.txt")
        << QByteArray("old") << accept << QStringLiteral("auto/a_001.txt") << quint64(0) << 0;
    QTest::newRow("differs, no free name")
        << QStringLiteral("C:\\x_999.txt") << false << none << false << true
        << QStringLiteral("auto/x_999.txt") << QByteArray("old") << refuse << none << quint64(0)
        << 9;
    QTest::newRow("stale partial")
        << peer << false << none << false << true << QStringLiteral("auto/a.txt.part")
        << QByteArray("zz") << accept << QStringLiteral("auto/a.txt") << quint64(0) << 0;
    QTest::newRow("target not writable")
        << peer << false << none << false << true << QStringLiteral("auto/a.txt")
        << QByteArray("dir") << refuse << none << quint64(0) << 2;
    QTest::newRow("folder cannot be made")
        << peer << false << none << false << true << QStringLiteral("auto") << QByteArray("a file")
        << refuse << none << quint64(0) << 10;
    QTest::newRow("file named ..") << QStringLiteral("C:\\..") << false << none << false << true
                                   << none << nothing << refuse << none << quint64(0) << 2;
    QTest::newRow("folder named ..") << QStringLiteral("..") << true << none << false << true
                                     << none << nothing << refuse << none << quint64(0) << 10;
    QTest::newRow("folder offer keeps its done bytes")
        << QStringLiteral("C:\\Photos\\") << true << none << false << true << none << nothing
        << accept << QStringLiteral("auto/Photos") << quint64(777) << 0;
    QTest::newRow("existing folder is merged")
        << QStringLiteral("C:\\Photos") << true << none << false << true
        << QStringLiteral("auto/Photos/old.jpg") << QByteArray("x") << accept
        << QStringLiteral("auto/Photos") << quint64(777) << 0;
    QTest::newRow("file where the folder goes")
        << QStringLiteral("C:\\Photos") << true << none << false << true
        << QStringLiteral("auto/Photos") << QByteArray("x") << refuse << none << quint64(0) << 10;
}

void TestAcceptResume::decideOffer()
{
    QFETCH(QString, senderPath);
    QFETCH(bool, isFolder);
    QFETCH(QString, offerSavedPath);
    QFETCH(bool, trusted);
    QFETCH(bool, autosave);
    QFETCH(QString, existingPath);
    QFETCH(QByteArray, existing);
    QFETCH(int, kind);
    QFETCH(QString, savedPath);
    QFETCH(quint64, offset);
    QFETCH(int, code);

    const QByteArray sender = Pattern(2 * MiB);
    const QString senderFile = at(QStringLiteral("sender.bin"));
    QVERIFY(testsupport::writeAll(senderFile, sender));
    if (!existingPath.isEmpty())
        Place(at(existingPath), existing);

    Transfer offer = NewTransfer();
    offer.isSend = 1;
    offer.isFolder = isFolder;
    offer.senderPath = senderPath;
    offer.savedPath = offerSavedPath.isEmpty() ? QString() : at(offerSavedPath);
    if (isFolder) {
        offer.bytesDone = 777;
    } else {
        offer.totalSize = quint64(sender.size());
        offer.headCrc = HeadCrc(senderFile);
    }

    const OfferDecision d =
        DecideOfferAutomatic(offer, trusted, autosave ? at(QStringLiteral("auto")) : QString());
    QCOMPARE(int(d.kind), kind);
    if (kind == OfferDecision::Accept) {
        QCOMPARE(d.savedPath, at(savedPath));
        QCOMPARE(d.offset, offset);
        // The folder that takes the data exists now.
        QVERIFY(QFileInfo(isFolder ? d.savedPath : QFileInfo(d.savedPath).path()).isDir());
    }
    if (kind == OfferDecision::Refuse)
        QCOMPARE(d.refusalCode, code);
    QVERIFY(!QFileInfo::exists(at(QStringLiteral("elsewhere"))));
}

void TestAcceptResume::pickedPath_data()
{
    QTest::addColumn<bool>("isFolder");
    QTest::addColumn<QByteArray>("existing");
    QTest::addColumn<bool>("accept");
    QTest::addColumn<int>("code");
    QTest::newRow("new file") << false << QByteArray() << true << 6;
    QTest::newRow("existing file") << false << QByteArray("old") << false << 7;
    QTest::newRow("identical file") << false << QByteArray("same") << false << 4;
    QTest::newRow("new folder") << true << QByteArray() << true << 6;
    QTest::newRow("existing folder") << true << QByteArray("dir") << false << 5;
    QTest::newRow("file where the folder goes") << true << QByteArray("old") << false << 2;
}

void TestAcceptResume::pickedPath()
{
    QFETCH(bool, isFolder);
    QFETCH(QByteArray, existing);
    QFETCH(bool, accept);
    QFETCH(int, code);
    const QString picked = at(QStringLiteral("picked"));
    Place(picked, existing);
    Transfer offer = NewTransfer();
    offer.isFolder = isFolder;
    offer.totalSize = 4;
    offer.headCrc = Crc32("same");
    offer.bytesDone = isFolder ? 12 : 0;
    const PickedPathOutcome outcome = DecidePickedPath(offer, picked);
    QCOMPARE(outcome.accept, accept);
    QCOMPARE(int(outcome.code), code);
    if (isFolder && accept)
        QVERIFY(QFileInfo(picked).isDir());
    if (isFolder)
        QCOMPARE(outcome.offset, 12u);

    QCOMPARE(StripPartialSuffix(QStringLiteral("/in/a.txt.part")), QStringLiteral("/in/a.txt"));
    QCOMPARE(StripPartialSuffix(QStringLiteral("/in/a.part.txt")),
             QStringLiteral("/in/a.part.txt"));
}

void TestAcceptResume::resumePrompts_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("isFolder");
    QTest::addColumn<quint64>("offset");
    QTest::addColumn<quint64>("totalSize");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("icon");
    QTest::addColumn<bool>("resume");
    QTest::addColumn<bool>("overwrite");
    const int info = int(PromptIcon::Information);
    const int question = int(PromptIcon::Question);
    const int exclamation = int(PromptIcon::Exclamation);

    QTest::newRow("2 file") << 2 << false << quint64(0) << quint64(10)
                            << QStringLiteral("File Not Writeable")
                            << QStringLiteral("Cannot Open File For Writing\nIt may be in use by "
                                              "another process.\n\nFile: saved.txt")
                            << exclamation << false << false;
    QTest::newRow("2 folder") << 2 << true << quint64(0) << quint64(10)
                              << QStringLiteral("Directory Creation Failed")
                              << QStringLiteral("Could not create the directory you selected, Try "
                                                "another name or path.\n\nFolder: saved.txt")
                              << exclamation << false << false;
    QTest::newRow("4") << 4 << false << quint64(0) << quint64(10)
                       << QStringLiteral("File Is Identical")
                       << QStringLiteral("The selected file and senders file are "
                                         "identical.\n\nFile: sent.txt")
                       << info << false << true;
    QTest::newRow("5 file") << 5 << false << quint64(1) << quint64(3)
                            << QStringLiteral("Resume File?")
                            << QStringLiteral(
                                   "The file selected is 33.33% complete.\n\nFile: sent.txt")
                            << question << true << true;
    QTest::newRow("5 empty file") << 5 << false << quint64(0) << quint64(0)
                                  << QStringLiteral("Resume File?")
                                  << QStringLiteral(
                                         "The file selected is 100.00% complete.\n\nFile: "
                                         "sent.txt")
                                  << question << true << true;
    QTest::newRow("5 folder") << 5 << true << quint64(0) << quint64(0)
                              << QStringLiteral("Resume Folder?")
                              << QStringLiteral("The folder already exists, it can be resumed or "
                                                "overwritten with the incoming folder.\n\nFolder: "
                                                "sent.txt")
                              << question << true << true;
    for (int code : {7, 8})
        QTest::addRow("%d", code) << code << false << quint64(0) << quint64(10)
                                  << QStringLiteral("File Already Exist")
                                  << QStringLiteral("The file you selected already exist.\n\nFile: "
                                                    "saved.txt")
                                  << info << false << true;
}

void TestAcceptResume::resumePrompts()
{
    QFETCH(int, code);
    QFETCH(bool, isFolder);
    QFETCH(quint64, offset);
    QFETCH(quint64, totalSize);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(int, icon);
    QFETCH(bool, resume);
    QFETCH(bool, overwrite);
    Transfer offer = NewTransfer();
    offer.isFolder = isFolder;
    offer.totalSize = totalSize;
    offer.senderPath = QStringLiteral("C:\\out\\sent.txt");
    offer.savedPath = QStringLiteral("/home/u/saved.txt");
    const ResumePromptContent c = ResumePrompt(static_cast<TargetClass>(code), offer, offset);
    QCOMPARE(c.title, title);
    QCOMPARE(c.text, text);
    QCOMPARE(int(c.icon), icon);
    QCOMPARE(c.resumeEnabled, resume);
    QCOMPARE(c.overwriteEnabled, overwrite);
}

void TestAcceptResume::acceptPrompt()
{
    Transfer offer = NewTransfer();
    offer.isFolder = 1;
    offer.senderPath = QStringLiteral("C:\\Users\\Bob\\Holiday");
    offer.statusText = QStringLiteral("Calculating...");
    QCOMPARE(AcceptPromptTitle(offer), QStringLiteral("Accept Folder Transfer?"));
    QCOMPARE(AcceptPromptText(offer, QStringLiteral("Bob %2"), QStringLiteral("10.0.0.2")),
             QStringLiteral("Accept Folder Transfer?\n\nFrom:\t\tBob %2 (10.0.0.2)\nFolder "
                            "Name:\tHoliday\nFolder Size:\tCalculating..."));
    offer.isFolder = 0;
    QCOMPARE(AcceptPromptTitle(offer), QStringLiteral("Accept File Transfer?"));
}

QTEST_GUILESS_MAIN(TestAcceptResume)
#include "tst_acceptresume.moc"

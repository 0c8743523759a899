// The tables below use plain string literals.
#undef QT_NO_CAST_FROM_ASCII

// The receiving side's accept and resume prompts and the save picker, on
// real transfers between two programs on 127.0.0.1.

#include "shell/filedialogex.h"
#include "shell/fileicons.h"
#include "xferpeer.h"

#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>

using namespace xfertest;
using S = TransferState;
using testsupport::readAll;

namespace {

constexpr int SourceSize = 3 * 1024 * 1024;
constexpr int PartialSize = SourceSize / 2;

QStringList disabledButtons(const CResumeDlg* dlg)
{
    QStringList out;
    for (ResumeChoice c : {ResumeChoice::Resume, ResumeChoice::Overwrite, ResumeChoice::Reselect,
                           ResumeChoice::AutoRename, ResumeChoice::Cancel}) {
        if (!dlg->button(c)->isEnabled())
            out << dlg->button(c)->text();
    }
    return out;
}

} // namespace

class TestTransferPrompts : public QObject
{
    Q_OBJECT
private slots:
    void resumePrompt_data();
    void resumePrompt();
    void decisions_data();
    void decisions();
    void promptsCloseWhenTheSessionEnds_data();
    void promptsCloseWhenTheSessionEnds();
    void folderOfferShowsItsSize();
};

void TestTransferPrompts::resumePrompt_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("folder");
    QTest::newRow("2, file") << 2 << false;
    QTest::newRow("2, folder") << 2 << true;
    QTest::newRow("4") << 4 << false;
    QTest::newRow("5, file") << 5 << false;
    QTest::newRow("5, folder") << 5 << true;
    QTest::newRow("7") << 7 << false;
    QTest::newRow("8") << 8 << false;
}

// The prompt shows what the question of each code holds (its texts are
// checked with the decision logic): title, text, icon, the buttons it
// disables, and the picture of the sender's file type or of a folder.
void TestTransferPrompts::resumePrompt()
{
    QFETCH(int, code);
    QFETCH(bool, folder);
    Transfer offer = NewTransfer();
    offer.isFolder = folder ? 1 : 0;
    offer.senderPath = QStringLiteral("C:\\peer\\report.txt");
    offer.savedPath = QStringLiteral("/home/me/mine.txt");
    offer.totalSize = 1000;
    const ResumePromptContent content = ResumePrompt(TargetClass(code), offer, 250);
    QCOMPARE(content.senderName, QStringLiteral("report.txt"));
    QCOMPARE(content.folder, folder);

    CResumeDlg dlg(content);
    QCOMPARE(dlg.windowTitle(), content.title);
    QCOMPARE(dlg.text(), content.text);
    QCOMPARE(dlg.icon(), content.icon);
    QStringList disabled;
    if (!content.resumeEnabled)
        disabled << "&Resume";
    if (!content.overwriteEnabled)
        disabled << "&Overwrite";
    QCOMPARE(disabledButtons(&dlg), disabled);
    QVERIFY(!dlg.windowIcon().isNull());
    const QPixmap expected = FileTypeIcon(folder ? QString() : QStringLiteral("report.txt"), folder)
                                 .pixmap(dlg.picture().size());
    QCOMPARE(dlg.picture().toImage(), expected.toImage());
    QCOMPARE(dlg.button(ResumeChoice::Reselect)->text(), QStringLiteral("R&eselect"));
    QCOMPARE(dlg.button(ResumeChoice::AutoRename)->text(), QStringLiteral("&AutoRename"));
    QCOMPARE(dlg.button(ResumeChoice::Cancel)->text(), QStringLiteral("&Cancel"));
}

void TestTransferPrompts::decisions_data()
{
    QTest::addColumn<QString>("existing"); // what the chosen folder holds before
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("senderStatus");
    QTest::addColumn<QString>("savedName"); // where the data went, "" for nowhere
    QTest::addColumn<QString>("content");   // "source" or "spliced"

    const QString complete = QStringLiteral("Transfer Complete");
    const QString denied = QStringLiteral("Transfer Denied");
    QTest::newRow("deny") << "" << QStringList{"deny"} << denied << ""
                          << "";
    QTest::newRow("picker canceled") << "" << QStringList{"accept", "cancel picker"} << denied << ""
                                     << "";
    QTest::newRow("new name") << "" << QStringList{"accept", "pick mine.bin"} << complete
                              << "mine.bin"
                              << "source";
    QTest::newRow("a .part name saves without it")
        << "" << QStringList{"accept", "pick mine.bin.part"} << complete << "mine.bin"
        << "source";
    QTest::newRow("resume continues from the offset")
        << "partial"
        << QStringList{"accept", "pick mine.bin", "prompt Resume File?",
                       "text The file selected is 50.00% complete.\n\nFile: a.bin", "&Resume"}
        << complete << "mine.bin"
        << "spliced";
    QTest::newRow("overwrite starts again")
        << "partial" << QStringList{"accept", "pick mine.bin", "prompt Resume File?", "&Overwrite"}
        << complete << "mine.bin"
        << "source";
    QTest::newRow("identical, cancel")
        << "identical"
        << QStringList{"accept", "pick mine.bin", "prompt File Is Identical", "&Cancel"} << denied
        << "mine.bin"
        << "source";
    QTest::newRow("exists, autorename")
        << "differs"
        << QStringList{"accept", "pick mine.bin", "prompt File Already Exist", "&AutoRename"}
        << complete << "mine_001.bin"
        << "source";
    QTest::newRow("exists, reselect")
        << "differs"
        << QStringList{"accept", "pick mine.bin", "prompt File Already Exist", "R&eselect",
                       "pick other.bin"}
        << complete << "other.bin"
        << "source";
}

void TestTransferPrompts::decisions()
{
    QFETCH(QString, existing);
    QFETCH(QStringList, steps);
    QFETCH(QString, senderStatus);
    QFETCH(QString, savedName);
    QFETCH(QString, content);

    Peer a(QStringLiteral("Alice"), "uid-a"), b(QStringLiteral("Bob"), "uid-b");
    a.prepare(settings());
    b.prepare(settings(QString(), false));
    QVERIFY(a.start() && b.start());
    QVERIFY(connectPair(b, a));
    const QString source = makeFile(a.path(QStringLiteral("a.bin")), SourceSize);
    const QString chosen = b.path(QStringLiteral("chosen"));
    QDir().mkpath(chosen);
    const QString mine = chosen + QStringLiteral("/mine.bin");
    // A partial file whose first MiB matches and whose rest does not: data
    // kept from it shows that the transfer went on from its end.
    QByteArray spliced = readAll(source);
    for (int i = 1024 * 1024; i < PartialSize; ++i)
        spliced[i] = char(spliced[i] ^ 0x5a);
    if (existing == QLatin1String("partial"))
        testsupport::writeAll(mine + QStringLiteral(".part"), spliced.left(PartialSize));
    else if (existing == QLatin1String("identical"))
        testsupport::writeAll(mine, readAll(source));
    else if (existing == QLatin1String("differs"))
        makeFile(mine, 5000, 7);
    const QByteArray before = readAll(mine);

    a.m->QueueSend(a.contact("uid-b"), source);
    QTRY_COMPARE_WITH_TIMEOUT(b.ui.prompts.sessions().size(), 1, 10000);
    const FileSessionId session = b.ui.prompts.sessions().first();
    CAcceptDlg* accept = b.ui.prompts.acceptDialog(session);
    QVERIFY(accept && accept->isVisible());
    QCOMPARE(accept->windowTitle(), QStringLiteral("Accept File Transfer?"));
    QCOMPARE(accept->text(), QStringLiteral("Accept File Transfer?\n\nFrom:\t\tAlice (127.0.0.1)\n"
                                            "File Name:\ta.bin\nFile Size:\t3.00 MB"));
    QVERIFY(!accept->picture().isNull());
    QTRY_COMPARE(a.t(0).state, S::Waiting);

    for (const QString& step : steps) {
        if (step == QLatin1String("accept")) {
            accept->acceptButton()->click();
            QVERIFY(!accept->isVisible());
        } else if (step == QLatin1String("deny")) {
            accept->denyButton()->click();
        } else if (step.startsWith(QLatin1String("pick ")) || step == "cancel picker") {
            QTRY_VERIFY_WITH_TIMEOUT(b.ui.prompts.picker(session), 10000);
            CFileDialogEx* picker = b.ui.prompts.picker(session);
            QCOMPARE(picker->windowTitle(), QStringLiteral("Save As"));
            QCOMPARE(picker->acceptMode(), QFileDialog::AcceptSave);
            auto* name = picker->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            QVERIFY(name);
            QCOMPARE(name->text(), QStringLiteral("a.bin"));
            if (step == "cancel picker") {
                picker->reject();
                continue;
            }
            name->setText(chosen + u'/' + step.mid(5));
            picker->accept();
        } else if (step.startsWith(QLatin1String("prompt "))) {
            QTRY_VERIFY_WITH_TIMEOUT(b.ui.prompts.resumeDialog(session), 10000);
            QCOMPARE(b.ui.prompts.resumeDialog(session)->windowTitle(), step.mid(7));
        } else if (step.startsWith(QLatin1String("text "))) {
            QCOMPARE(b.ui.prompts.resumeDialog(session)->text(), step.mid(5));
        } else {
            CResumeDlg* resume = b.ui.prompts.resumeDialog(session);
            QVERIFY(resume);
            for (ResumeChoice c :
                 {ResumeChoice::Resume, ResumeChoice::Overwrite, ResumeChoice::Reselect,
                  ResumeChoice::AutoRename, ResumeChoice::Cancel}) {
                if (resume->button(c)->text() == step)
                    resume->button(c)->click();
            }
        }
    }

    QTRY_COMPARE_WITH_TIMEOUT(a.t(0).statusText, senderStatus, 15000);
    // Whatever the answer, no prompt of the session stays behind.
    QTRY_VERIFY(b.ui.prompts.sessions().isEmpty());
    if (senderStatus == QLatin1String("Transfer Complete")) {
        QTRY_COMPARE_WITH_TIMEOUT(b.m->rowCount() == 1 && b.t(0).state == S::Completed, true,
                                  15000);
        QCOMPARE(b.t(0).savedPath, chosen + u'/' + savedName);
        const QByteArray got = readAll(chosen + u'/' + savedName);
        QCOMPARE(got.size(), SourceSize);
        QVERIFY(got == (content == QLatin1String("spliced") ? spliced : readAll(source)));
    } else {
        QCOMPARE(b.m->rowCount(), 0);
        QCOMPARE(readAll(mine), before);
    }
}

void TestTransferPrompts::promptsCloseWhenTheSessionEnds_data()
{
    QTest::addColumn<bool>("pickerOpen");
    QTest::newRow("accept prompt") << false;
    QTest::newRow("save picker") << true;
}

void TestTransferPrompts::promptsCloseWhenTheSessionEnds()
{
    QFETCH(bool, pickerOpen);
    Peer a(QStringLiteral("Alice"), "uid-a"), b(QStringLiteral("Bob"), "uid-b");
    a.prepare(settings());
    b.prepare(settings(QString(), false));
    QVERIFY(a.start() && b.start());
    QVERIFY(connectPair(a, b));
    a.m->QueueSend(a.contact("uid-b"), makeFile(a.path(QStringLiteral("a.bin")), 1000));
    QTRY_COMPARE_WITH_TIMEOUT(b.ui.prompts.sessions().size(), 1, 10000);
    const FileSessionId session = b.ui.prompts.sessions().first();
    QPointer<CAcceptDlg> accept = b.ui.prompts.acceptDialog(session);
    QPointer<CFileDialogEx> picker;
    if (pickerOpen) {
        accept->acceptButton()->click();
        QTRY_VERIFY(b.ui.prompts.picker(session));
        picker = b.ui.prompts.picker(session);
        QTRY_COMPARE(a.t(0).statusText, QStringLiteral("Selecting save path..."));
    }
    // The sender's window offers to cancel a transfer that waits for the
    // user on the other side.
    QTRY_COMPARE(a.t(0).state, S::Waiting);
    std::unique_ptr<QMenu> menu(a.w->contextMenu(0));
    QCOMPARE(menu->actions().first()->text(), QStringLiteral("Cancel Transfer"));
    QVERIFY(menu->actions().first()->isEnabled());
    QCOMPARE(menu->actions().size(), 11);
    menu->actions().first()->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(a.t(0).state, S::Canceled, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(accept.isNull(), 10000);
    QVERIFY(picker.isNull());
    QVERIFY(b.ui.prompts.sessions().isEmpty());
}

// A folder is offered while its size may still be counted; the prompt ends
// up showing the size either way.
void TestTransferPrompts::folderOfferShowsItsSize()
{
    Peer a(QStringLiteral("Alice"), "uid-a"), b(QStringLiteral("Bob"), "uid-b");
    a.prepare(settings());
    b.prepare(settings(QString(), false));
    QVERIFY(a.start() && b.start());
    QVERIFY(connectPair(a, b));
    const QString tree = a.path(QStringLiteral("photos"));
    for (int i = 0; i < 200; ++i)
        makeFile(tree + QStringLiteral("/d%1/f%2.jpg").arg(i % 10).arg(i), 1024);
    a.m->QueueSend(a.contact("uid-b"), tree);
    QTRY_COMPARE_WITH_TIMEOUT(b.ui.prompts.sessions().size(), 1, 10000);
    CAcceptDlg* accept = b.ui.prompts.acceptDialog(b.ui.prompts.sessions().first());
    QCOMPARE(accept->windowTitle(), QStringLiteral("Accept Folder Transfer?"));
    QTRY_COMPARE_WITH_TIMEOUT(accept->text(),
                              QStringLiteral("Accept Folder Transfer?\n\nFrom:\t\tAlice "
                                             "(127.0.0.1)\nFolder Name:\tphotos\nFolder "
                                             "Size:\t200.00 KB"),
                              10000);
    accept->denyButton()->click();
    QTRY_COMPARE_WITH_TIMEOUT(a.t(0).statusText, QStringLiteral("Transfer Denied"), 10000);
}

QTEST_MAIN(TestTransferPrompts)
#include "tst_transferprompts.moc"

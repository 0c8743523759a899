// The options dialog and the shared-paths editor over a real controller.
#undef QT_NO_CAST_FROM_ASCII

#include "messenger/messengercontroller.h"
#include "profile/autostart.h"
#include "shell/listctrlex.h"
#include "shell/messengerdlg.h"
#include "shell/optionsdlg.h"
#include "shell/selsharesdlg.h"
#include "shell/shellfiles.h"
#include "shell/shellui.h"
#include "shell/tabchilddlg.h"
#include "shell/tabdlgctrl.h"
#include "shell/upnpdlg.h"
#include "shelltestsupport.h"

#include "fakegateway.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

template <typename W> W* child(QWidget* dialog, const char* name)
{
    W* w = dialog->findChild<W*>(QLatin1String(name));
    if (!w)
        qWarning("no control %s", name);
    return w;
}

} // namespace

class TestOptionsDlg : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void storedValues_data();
    void storedValues();
    void validations_data();
    void validations();
    void autostartWrittenAndRemoved();
    void autostartRead_data();
    void autostartRead();
    void enterAndEscapeOnPagesKeepTheDialog();
    void portChangeReachesTheRouter_data();
    void portChangeReachesTheRouter();
    void pagesByIndex();

    void sharesEditorAdd_data();
    void sharesEditorAdd();
    void sharesEditorDeleteOkCancel();
    void selectSharesKeptOnCancel();

private:
    // Opens "Program Options" from the menu; edit runs on the open dialog,
    // then OK is pressed. Returns whether the dialog closed.
    bool runOptions(const std::function<void(COptionsDlg*)>& edit, bool pressOk = true);

    struct Box
    {
        QMessageBox::Icon icon;
        QString caption;
        QString text;
    };
    QList<Box> m_boxes;
    QTemporaryDir m_config;
    QTemporaryDir m_files;
    QuietProfileUi m_profileUi;
    std::unique_ptr<ShellUi> m_ui;
    std::unique_ptr<MessengerController> m_controller;
    CMessengerDlg* m_window = nullptr;
};

void TestOptionsDlg::initTestCase()
{
    QVERIFY(m_config.isValid() && m_files.isValid());
    qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8());
    SetMessageBoxHook(
        [this](QWidget*, QMessageBox::Icon icon, const QString& caption, const QString& text) {
            m_boxes.append({icon, caption, text});
        });
}

void TestOptionsDlg::init()
{
    m_boxes.clear();
    QFile::remove(Autostart::filePath());
    m_ui = std::make_unique<ShellUi>();
    m_controller = std::make_unique<MessengerController>(m_ui.get(), &m_profileUi);
    m_ui->attach(*m_controller, nullptr);
    m_window = m_ui->mainWindow();
    // Every OK needs an autosave folder that can be made.
    Settings s = m_controller->settings();
    s.autosaveDir = m_files.filePath("saves").toUtf8();
    Identity own = m_controller->myIdentity();
    own.key.setText(QStringLiteral("QRT482LMN"));
    own.port = 8410;
    m_controller->ApplyOptions(s, own);
}

void TestOptionsDlg::cleanup()
{
    CSelSharesDlg::setFolderPicker({});
    m_ui.reset();
    m_controller.reset();
}

bool TestOptionsDlg::runOptions(const std::function<void(COptionsDlg*)>& edit, bool pressOk)
{
    bool closed = false;
    bool ran = false;
    QTimer::singleShot(0, this, [&] {
        auto* dlg = qobject_cast<COptionsDlg*>(QApplication::activeModalWidget());
        QVERIFY(dlg);
        ran = true;
        edit(dlg);
        if (pressOk)
            dlg->accept();
        closed = !dlg->isVisible();
        if (!closed || !pressOk)
            dlg->reject();
    });
    m_window->runCommand(CMessengerDlg::ProgramOptions);
    [&] { QVERIFY(ran); }();
    return closed;
}

void TestOptionsDlg::storedValues_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("stored");

    QTest::newRow("port above the range") << "port"
                                          << "70000"
                                          << "port" << 65535;
    QTest::newRow("port 0 is kept") << "port"
                                    << "0"
                                    << "port" << 0;
    QTest::newRow("port in range") << "port"
                                   << "9000"
                                   << "port" << 9000;
    QTest::newRow("translucency above 255") << "translucency"
                                            << "300"
                                            << "translucency" << 255;
    QTest::newRow("translucency empty") << "translucency"
                                        << ""
                                        << "translucency" << 0;
    QTest::newRow("simultaneous max 0") << "maxSend"
                                        << "0"
                                        << "maxSendTransfers" << 1;
    QTest::newRow("simultaneous max empty") << "maxSend"
                                            << ""
                                            << "maxSendTransfers" << 1;
    QTest::newRow("simultaneous max 12") << "maxSend"
                                         << "12"
                                         << "maxSendTransfers" << 12;
}

void TestOptionsDlg::storedValues()
{
    QFETCH(QString, box);
    QFETCH(QString, text);
    QFETCH(QString, field);
    QFETCH(int, stored);

    QVERIFY(runOptions([&](COptionsDlg* dlg) {
        child<QLineEdit>(dlg, box.toLatin1().constData())->setText(text);
    }));
    QVERIFY(m_boxes.isEmpty());
    if (field == "port")
        QCOMPARE(m_controller->myIdentity().port, stored);
    else
        QCOMPARE(m_controller->settings().word(Settings::fieldIndex(field)), stored);
}

void TestOptionsDlg::validations_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("autosave"); // below the temporary folder
    QTest::addColumn<QString>("caption");  // empty: the dialog closes
    QTest::addColumn<QString>("message");

    QTest::newRow("key of 8 characters") << "12345678"
                                         << "saves"
                                         << "Encryption Key Invalid"
                                         << "Encryption key must be at least 9 characters long.";
    QTest::newRow("key of 9 characters") << "123456789"
                                         << "saves"
                                         << ""
                                         << "";
    QTest::newRow("autosave under a file")
        << "123456789"
        << "plain.txt/inside"
        << "Cannot Create Directory"
        << "Could not create autosave directory, check your drive and syntax.";
    QTest::newRow("empty autosave path")
        << "123456789"
        << ""
        << "Cannot Create Directory"
        << "Could not create autosave directory, check your drive and syntax.";
    QTest::newRow("missing folders are made") << "123456789"
                                              << "new/deeper/saves"
                                              << ""
                                              << "";
}

void TestOptionsDlg::validations()
{
    QFETCH(QString, key);
    QFETCH(QString, autosave);
    QFETCH(QString, caption);
    QFETCH(QString, message);

    QFile plain(m_files.filePath("plain.txt"));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    const QString path = autosave.isEmpty() ? QString() : m_files.filePath(autosave);
    const Settings before = m_controller->settings();
    const Identity ownBefore = m_controller->myIdentity();

    const bool closed = runOptions([&](COptionsDlg* dlg) {
        child<QLineEdit>(dlg, "key")->setText(key);
        child<QLineEdit>(dlg, "autosavePath")->setText(path);
        child<QLineEdit>(dlg, "screenName")->setText("Alice Cooper");
    });
    if (caption.isEmpty()) {
        QVERIFY(closed);
        QVERIFY(m_boxes.isEmpty());
        QCOMPARE(m_controller->myIdentity().key.text(), key);
        QCOMPARE(m_controller->myIdentity().name.text(), QStringLiteral("Alice Cooper"));
        QCOMPARE(m_controller->settings().autosaveDirText(), path);
        QVERIFY(QFileInfo(path).isDir());
    } else {
        QVERIFY(!closed);
        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(m_boxes.first().icon, QMessageBox::Warning);
        QCOMPARE(m_boxes.first().caption, caption);
        QCOMPARE(m_boxes.first().text, message);
        // Nothing reached the controller.
        QVERIFY(m_controller->settings() == before);
        QCOMPARE(m_controller->myIdentity().name.text(), ownBefore.name.text());
    }
}

void TestOptionsDlg::autostartWrittenAndRemoved()
{
    const QString file = m_config.filePath("autostart/zlk6.desktop");
    QCOMPARE(Autostart::filePath(), file);
    QVERIFY(runOptions([](COptionsDlg* dlg) {
        auto* box = child<QCheckBox>(dlg, "startWithSystem");
        QVERIFY(!box->isChecked());
        box->setChecked(true);
    }));
    QVERIFY(QFileInfo::exists(file));
    QFile f(file);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray text = f.readAll();
    QVERIFY(text.startsWith("[Desktop Entry]\n"));
    QVERIFY(
        text.contains("\nExec=\"" + QCoreApplication::applicationFilePath().toUtf8() + "\" -m\n"));
    f.close();

    QVERIFY(runOptions([](COptionsDlg* dlg) {
        auto* box = child<QCheckBox>(dlg, "startWithSystem");
        QVERIFY(box->isChecked());
        box->setChecked(false);
    }));
    QVERIFY(!QFileInfo::exists(file));
}

void TestOptionsDlg::autostartRead_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("checked");
    QTest::addColumn<bool>("kept");

    const QByteArray self = QCoreApplication::applicationFilePath().toUtf8();
    QTest::newRow("this program") << "[Desktop Entry]\nExec=\"" + self + "\" -m\n" << true << true;
    QTest::newRow("letter case differs") << "[Desktop Entry]\nExec=\"" + self.toUpper() + "\" -M\n"
                                         << true << true;
    QTest::newRow("the program moved")
        << QByteArray("[Desktop Entry]\nExec=\"/opt/old/zephlink\" -m\n") << false << false;
    QTest::newRow("without the switch") << "[Desktop Entry]\nExec=\"" + self + "\"\n"
                                        << false << false;
    QTest::newRow("no Exec line") << QByteArray("[Desktop Entry]\nName=x\n") << false << true;
    QTest::newRow("Exec of another group")
        << QByteArray("[Desktop Action x]\nExec=\"" + self + "\" -m\n") << false << true;
}

void TestOptionsDlg::autostartRead()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, checked);
    QFETCH(bool, kept);

    QDir().mkpath(m_config.filePath("autostart"));
    QFile f(Autostart::filePath());
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(content);
    f.close();
    // Cancel: the entry is only read.
    runOptions(
        [&](COptionsDlg* dlg) {
            QCOMPARE(child<QCheckBox>(dlg, "startWithSystem")->isChecked(), checked);
        },
        false);
    QCOMPARE(QFileInfo::exists(Autostart::filePath()), kept);
}

void TestOptionsDlg::enterAndEscapeOnPagesKeepTheDialog()
{
    int edits = 0;
    runOptions(
        [&](COptionsDlg* dlg) {
            for (int page = 0; page < 4; ++page) {
                dlg->tabs()->setCurrentIndex(page);
                for (QLineEdit* edit : dlg->tabs()->page(page)->findChildren<QLineEdit*>()) {
                    edit->setFocus();
                    for (int key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
                        QTest::keyClick(edit, Qt::Key(key));
                        QVERIFY2(dlg->isVisible(), qPrintable(edit->objectName()));
                    }
                    ++edits;
                }
            }
        },
        false);
    QCOMPARE(edits, 8);
}

void TestOptionsDlg::portChangeReachesTheRouter_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<bool>("remapped");

    QTest::newRow("sounds only") << "" << false;
    QTest::newRow("same port typed again") << "8410" << false;
    QTest::newRow("new port") << "9000" << true;
}

void TestOptionsDlg::portChangeReachesTheRouter()
{
    QFETCH(QString, port);
    QFETCH(bool, remapped);

    FakeGateway gateway;
    QVERIFY(gateway.start());
    FakeGateway::Mapping mapped;
    mapped.externalPort = mapped.internalPort = 8410;
    mapped.client = "127.0.0.1";
    mapped.description = "Zephlink P2P";
    gateway.mappings.append(mapped);
    CUPNPSocket& router = m_window->routerDialog()->socket();
    router.setSearchTarget(QHostAddress::LocalHost, gateway.ssdpPort());
    router.setLocalAddressSource([] { return QList<QHostAddress>{QHostAddress::LocalHost}; });

    QVERIFY(runOptions([&](COptionsDlg* dlg) {
        auto* sound = child<QCheckBox>(dlg, "soundOnline");
        sound->setChecked(!sound->isChecked());
        if (!port.isEmpty())
            child<QLineEdit>(dlg, "port")->setText(port);
    }));
    // The move is posted to the router window: it starts with the next events.
    QCoreApplication::processEvents();
    const QString log = m_window->routerDialog()->log()->toPlainText();
    QCOMPARE(log.startsWith("Starting UPNP Device Search..."), remapped);
    if (!remapped) {
        QVERIFY(gateway.searches.isEmpty());
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(
        gateway.actions,
        (QList<QByteArray>{"GET /rootDesc.xml", "POST DeletePortMapping", "POST AddPortMapping"}),
        10000);
    QTRY_COMPARE_WITH_TIMEOUT(gateway.mappings.size(), 1, 10000);
    QCOMPARE(gateway.mappings[0].externalPort, quint16(9000));
    QTRY_VERIFY_WITH_TIMEOUT(
        m_window->routerDialog()->log()->toPlainText().endsWith("Device Port Mapping Complete!"),
        10000);
}

void TestOptionsDlg::pagesByIndex()
{
    runOptions(
        [](COptionsDlg* dlg) {
            CTabDlgCtrl* tabs = dlg->tabs();
            QCOMPARE(tabs->count(), 4);
            const QStringList captions{"Connections", "Notifications", "Transfers", "Advanced"};
            for (int i = 0; i < 4; ++i) {
                QCOMPARE(tabs->tabText(i), captions[i]);
                QVERIFY(tabs->page(i));
            }
            QVERIFY(!tabs->page(-1));
            QVERIFY(!tabs->page(4));
            QCOMPARE(tabs->currentIndex(), 0);
        },
        false);
}

void TestOptionsDlg::sharesEditorAdd_data()
{
    QTest::addColumn<QString>("chosen"); // "cancel", "remote" or a path below the temp folder
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("icon");

    const QString music = "Music";
    QTest::newRow("a new folder") << "Photos" << QStringList{music, "Photos"} << "" << 0;
    QTest::newRow("missing folders are made")
        << "new/sub" << QStringList{music, "new/sub"} << "" << 0;
    QTest::newRow("same folder in another case")
        << "MUSIC" << QStringList{music} << "Path Already Added" << int(QMessageBox::Warning);
    QTest::newRow("same folder with a trailing slash")
        << "Music/" << QStringList{music} << "Path Already Added" << int(QMessageBox::Warning);
    QTest::newRow("a path that cannot be a folder")
        << "plain.txt/x" << QStringList{music} << "Invalid Path" << int(QMessageBox::Critical);
    QTest::newRow("an item without a local path")
        << "remote" << QStringList{music} << "Invalid Path" << int(QMessageBox::Warning);
    QTest::newRow("picker cancelled") << "cancel" << QStringList{music} << "" << 0;
}

void TestOptionsDlg::sharesEditorAdd()
{
    QFETCH(QString, chosen);
    QFETCH(QStringList, rows);
    QFETCH(QString, caption);
    QFETCH(int, icon);

    const QDir base(m_files.path());
    base.mkpath("Music");
    QFile plain(base.filePath("plain.txt"));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    QString prompt;
    CSelSharesDlg::setFolderPicker([&](QWidget*, const QString& text) -> std::optional<QUrl> {
        prompt = text;
        if (chosen == "cancel")
            return std::nullopt;
        if (chosen == "remote")
            return QUrl("smb://fileserver/");
        return QUrl::fromLocalFile(base.filePath(chosen));
    });
    QList<QByteArray> paths{base.filePath("Music").toUtf8()};
    CSelSharesDlg dlg("Shared Paths (for All Contacts)", paths);
    dlg.AddPath();
    QCOMPARE(prompt, QStringLiteral("Select a Folder or Drive to Share...\r\nAll subdirectories "
                                    "will also be shared."));
    QStringList expected;
    for (const QString& r : rows)
        expected << base.filePath(r);
    QCOMPARE(dlg.rows(), expected);
    if (caption.isEmpty()) {
        QVERIFY(m_boxes.isEmpty());
    } else {
        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(m_boxes[0].caption, caption);
        QCOMPARE(int(m_boxes[0].icon), icon);
        if (caption == "Path Already Added")
            QCOMPARE(m_boxes[0].text,
                     QStringLiteral("This path has already been added to the list"));
        else if (chosen == "remote")
            QCOMPARE(m_boxes[0].text,
                     QStringLiteral("The shell did not return a path for the selected item!\n"
                                    "(note: You cannot add UNC root paths)"));
        else
            QCOMPARE(m_boxes[0].text, QStringLiteral("The path selected is not valid, it may "
                                                     "exceed the 259 character path limit."));
    }
    // The list itself changes only on OK.
    QCOMPARE(paths.size(), 1);
}

void TestOptionsDlg::sharesEditorDeleteOkCancel()
{
    const QList<QByteArray> start{"/srv/a", "/srv/b", "/srv/c", "/srv/d"};
    for (const bool ok : {false, true}) {
        QList<QByteArray> paths = start;
        CSelSharesDlg dlg("Shared Paths (for Bob)", paths);
        QCOMPARE(dlg.windowTitle(), QStringLiteral("Shared Paths (for Bob)"));
        QCOMPARE(dlg.list()->headerItem()->text(0), QStringLiteral("Shared Paths"));
        dlg.list()->topLevelItem(1)->setSelected(true);
        dlg.list()->topLevelItem(3)->setSelected(true);
        dlg.DeleteSelected();
        QCOMPARE(dlg.rows(), (QStringList{"/srv/a", "/srv/c"}));
        if (ok)
            dlg.accept();
        else
            dlg.reject();
        QCOMPARE(paths, ok ? (QList<QByteArray>{"/srv/a", "/srv/c"}) : start);
    }
}

void TestOptionsDlg::selectSharesKeptOnCancel()
{
    const QString folder = m_files.filePath("shared");
    CSelSharesDlg::setFolderPicker([&](QWidget*, const QString&) -> std::optional<QUrl> {
        return QUrl::fromLocalFile(folder);
    });
    runOptions(
        [&](COptionsDlg* dlg) {
            QTimer::singleShot(0, this, [] {
                auto* editor = qobject_cast<CSelSharesDlg*>(QApplication::activeModalWidget());
                QVERIFY(editor);
                QCOMPARE(editor->windowTitle(), QStringLiteral("Shared Paths (for All Contacts)"));
                editor->AddPath();
                editor->accept();
            });
            child<QPushButton>(dlg, "selectShares")->click();
        },
        false);
    QCOMPARE(m_controller->settings().sharedPaths, QList<QByteArray>{folder.toUtf8()});
}

QTEST_MAIN(TestOptionsDlg)
#include "tst_optionsdlg.moc"

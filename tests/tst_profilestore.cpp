#include "profile/profilefolder.h"
#include "profile/profilestore.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>

#include <csignal>
#include <cstring>

using testsupport::hex;
using testsupport::readAll;
using testsupport::writeAll;

namespace {

// Stands in for the user: records what was shown and answers from presets.
class RecordingUi : public ProfileUi
{
public:
    struct Message
    {
        Icon icon;
        QString caption;
        QString text;
    };

    void showMessage(Icon icon, const QString& caption, const QString& text) override
    {
        messages.append({icon, caption, text});
    }
    bool askDynamicIp(const QString& caption, const QString& question) override
    {
        ++dynamicIpAsked;
        dynamicIpCaption = caption;
        dynamicIpQuestion = question;
        return dynamicIpAnswer;
    }
    std::optional<QString> askScreenName(const QString& title, const QString& prompt,
                                         const QString& current) override
    {
        ++screenNameAsked;
        screenNameTitle = title;
        screenNamePrompt = prompt;
        screenNameCurrent = current;
        return screenNameAnswer;
    }

    QList<Message> messages;
    int dynamicIpAsked = 0;
    bool dynamicIpAnswer = true;
    QString dynamicIpCaption;
    QString dynamicIpQuestion;
    int screenNameAsked = 0;
    std::optional<QString> screenNameAnswer;
    QString screenNameTitle;
    QString screenNamePrompt;
    QString screenNameCurrent;
};

QByteArray word(uint32_t v)
{
    QByteArray out(4, '\0');
    for (int i = 0; i < 4; ++i)
        out[i] = char((v >> (8 * i)) & 0xFF);
    return out;
}

QByteArray counted(const QByteArray& text)
{
    return word(uint32_t(text.size() + 1)) + text + QByteArray(1, '\0');
}

// A contact's 2136-byte image laid out by hand.
QByteArray contactImage(const char* uid, const char* name, uint32_t blocked)
{
    QByteArray image(2136, '\0');
    image.replace(0, 4, word(3));
    image.replace(4, 4, word(8410));
    memcpy(image.data() + 8, uid, strlen(uid));
    memcpy(image.data() + 38, name, strlen(name));
    memcpy(image.data() + 1078, "QRT482LMN", 9);
    image.replace(2124, 4, word(blocked));
    return image;
}

// Two contacts with one shared path each, as stored.
QByteArray twoContactsFile()
{
    return word(6000) + word(2) + contactImage("uidA", "Anna", 0) + word(3) + "/a" +
           QByteArray(1, '\0') + contactImage("uidB", "Bert", 1) + word(0);
}

QByteArray windowPosFile(uint32_t count)
{
    QByteArray out = word(6000) + word(count);
    for (int i = 0; i < 16; ++i)
        out += word(uint32_t(i + 1));
    out += word(2) + word(100) + word(0x00050096);
    for (uint32_t c = 0; c < count; ++c)
        out += word(10 * c + 1) + word(2) + word(300) + word(400) + word(0) + word(5) + word(6) +
               word(7);
    return out;
}

Contact sampleContact(const char* uid, const char* name)
{
    Contact c = NewContact();
    c.uid = uid;
    c.name = name;
    c.alias = "alias of " + QByteArray(name);
    c.autosave = 1;
    c.connectTime = 1700000000;
    c.shares = {"/home/x/Music", "/srv/share"};
    c.queue = "{\\rtf1 queued\\par\r\n}\r\n";
    c.chatWindowRect = {10, 20, 330, 420};
    c.chatSplitterRect = {0, 200, 320, 204};
    return c;
}

// Caps the size of files this process may write, so a write fails midway.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit capped = m_old;
        capped.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &capped);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &m_old); }

private:
    rlimit m_old{};
};

} // namespace

class TestProfileStore : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void freshSettingsFile();
    void settingsFieldsByName_data();
    void settingsFieldsByName();
    void firstStart();
    void screenNameCancelled();
    void myInfoLoadsOnline();
    void contactsLoad();
    void damagedFile_data();
    void damagedFile();
    void emptyFilesChangeNothing_data();
    void emptyFilesChangeNothing();
    void shortContactsFile();
    void contactsMissing();
    void windowPosLayout();
    void roundTrip();
    void longHistoryStillLoads();
    void failedWriteKeepsOldFile_data();
    void failedWriteKeepsOldFile();
    void writeToMissingFolderIsReported();
    void createFolderPath();
    void profileFolder_data();
    void profileFolder();

private:
    // A profile folder with Settings.cfg and MyInfo.cfg, so no question is asked.
    QString preparedFolder();

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestProfileStore::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

QString TestProfileStore::preparedFolder()
{
    const QString folder = m_dir->path() + QStringLiteral("/Profiles/u/");
    QDir().mkpath(folder);
    ProfileStore store(folder, nullptr);
    store.writeSettings(Settings::defaults());
    store.writeMyInfo(DefaultIdentity());
    return folder;
}

void TestProfileStore::freshSettingsFile()
{
    ProfileStore store(m_dir->path(), nullptr);
    QVERIFY(store.writeSettings(Settings::defaults()));
    const QByteArray autosave =
        QStandardPaths::writableLocation(QStandardPaths::DownloadLocation).toUtf8();
    QVERIFY(!autosave.isEmpty());

    QByteArray expected = hex("70 17 00 00  02 00 00 00  be 00 00 00  00 00 00 00  00 00 00 00"
                              "01 01 01 01  01 01 01 01  01 01 01 01  00 00 00 00"
                              "01 01 01 01  01 01 01 01  01 01 01 01  01 01 01 01"
                              "01 01 01 01  01 01 01 01  01 01 01 01  01 01 01 01"
                              "01 01 01 01  01 01 01 01  01 01 01 01  00 00 00 00"
                              "01 01 01 01");
    QCOMPARE(expected.size(), 88);
    expected += word(uint32_t(autosave.size() + 1)) + autosave + hex("00") + hex("00 00 00 00");
    QCOMPARE(readAll(m_dir->filePath(QStringLiteral("Settings.cfg"))).toHex(' '),
             expected.toHex(' '));
}

void TestProfileStore::settingsFieldsByName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("offset");
    const char* names[] = {"maxSendTransfers",    "translucency",    "translucent",
                           "showAddress",         "largeIcons",      "idleAway",
                           "connectAllOnStartup", "requirePassword", "soundOnline",
                           "soundMessage",        "flashOnMessage",  "animateMessage",
                           "animateOnline",       "animateBrowse",   "autoUpdate",
                           "sharingEnabled",      "autoAcceptAll",   "autosaveSubfolders",
                           "sendQueueEnabled",    "autoPopupChat",   "dynamicIp"};
    for (int i = 0; i < 21; ++i)
        QTest::newRow(names[i]) << QString::fromLatin1(names[i]) << 4 * i;
}

void TestProfileStore::settingsFieldsByName()
{
    QFETCH(QString, name);
    QFETCH(int, offset);
    const int index = Settings::fieldIndex(name);
    QVERIFY(index >= 0);
    QCOMPARE(Settings::fieldName(index), name);
    Settings s;
    s.setWord(index, 0x11223344);
    QCOMPARE(s.word(index), 0x11223344);
    QByteArray expected(84, '\0');
    expected.replace(offset, 4, hex("44 33 22 11"));
    QCOMPARE(s.encodeBlock(), expected);
    QCOMPARE(Settings::fieldIndex(name.toUpper()), -1);
}

void TestProfileStore::firstStart()
{
    const QString folder = m_dir->path() + QStringLiteral("/root/deeper/Profiles/user1/");
    RecordingUi ui;
    ui.dynamicIpAnswer = false;
    ui.screenNameAnswer = QStringLiteral("Alice");
    ProfileStore store(folder, &ui);
    ProfileData data = ProfileData::withDefaults();
    int transfersLoaded = 0;
    store.loadAll(data, [&](const QList<Contact>&) { ++transfersLoaded; });

    QVERIFY(data.folderReady);
    QVERIFY(data.firstStart);
    QVERIFY(data.screenNameSet);
    QVERIFY(ui.messages.isEmpty());
    QCOMPARE(ui.dynamicIpAsked, 1);
    QCOMPARE(ui.dynamicIpCaption, QStringLiteral("Dynamic IP?"));
    QCOMPARE(ui.dynamicIpQuestion,
             QStringLiteral("If you have a Dynamic IP (DSL, Dialup, Satellite, ISDN) Click "
                            "\"YES\"\nIf you have a Static IP (Cable Modem, T1, or T3) click "
                            "\"NO\""));
    QCOMPARE(ui.screenNameAsked, 1);
    QCOMPARE(ui.screenNameTitle, QStringLiteral("Set Screen Name"));
    QCOMPARE(ui.screenNamePrompt,
             QStringLiteral("Select a screen name,\nfor contacts to identify you."));
    QCOMPARE(ui.screenNameCurrent, QStringLiteral("Default Name"));
    // No contacts file: the transfer list is not loaded.
    QCOMPARE(transfersLoaded, 0);

    const QByteArray settings = readAll(folder + QStringLiteral("Settings.cfg"));
    QCOMPARE(settings.mid(84, 4), hex("00 00 00 00")); // dynamicIp: No
    QCOMPARE(settings.mid(76, 4), hex("01 01 01 01")); // sendQueueEnabled: on
    const QByteArray myInfo = readAll(folder + QStringLiteral("MyInfo.cfg"));
    QCOMPARE(myInfo.size(), 1604);
    QCOMPARE(myInfo.mid(4 + 38, 6), QByteArray("Alice\0", 6));
    QCOMPARE(myInfo.mid(4 + 8, data.ownIdentity.uid.bytes().size()), data.ownIdentity.uid.bytes());

    // The next start asks nothing and finds both files.
    RecordingUi again;
    ProfileStore second(folder, &again);
    ProfileData next = ProfileData::withDefaults();
    second.loadAll(next);
    QCOMPARE(again.dynamicIpAsked, 0);
    QCOMPARE(again.screenNameAsked, 0);
    QVERIFY(again.messages.isEmpty());
    QCOMPARE(next.settings.dynamicIp, 0);
    QCOMPARE(next.ownIdentity.name.bytes(), QByteArray("Alice"));
    QCOMPARE(next.ownIdentity.uid, data.ownIdentity.uid);
}

void TestProfileStore::screenNameCancelled()
{
    RecordingUi ui;
    ProfileStore store(m_dir->path(), &ui);
    ProfileData data = ProfileData::withDefaults();
    store.loadAll(data);
    QCOMPARE(ui.screenNameAsked, 1);
    QCOMPARE(data.settings.dynamicIp, 1);
    QVERIFY(!data.screenNameSet);
    QCOMPARE(data.ownIdentity.name.bytes(), QByteArray("Default Name"));
    QCOMPARE(readAll(m_dir->filePath(QStringLiteral("MyInfo.cfg"))).mid(42, 13),
             QByteArray("Default Name\0", 13));
}

void TestProfileStore::myInfoLoadsOnline()
{
    QByteArray image(1600, '\0');
    image.replace(0, 4, word(1)); // saved while Away
    image.replace(4, 4, word(9000));
    image.replace(8, 5, "myuid");
    image.replace(38, 3, "Zed");
    image.replace(1078, 10, "KEYKEYKEY1");
    image.replace(1338, 5, "lunch");
    const QString folder = preparedFolder();
    QVERIFY(writeAll(folder + QStringLiteral("MyInfo.cfg"), word(6000) + image));

    RecordingUi ui;
    ProfileStore store(folder, &ui);
    Identity id = DefaultIdentity();
    QCOMPARE(store.loadMyInfo(id), ProfileStore::LoadOutcome::Loaded);
    QCOMPARE(id.status, 0);
    QCOMPARE(id.port, 9000);
    QCOMPARE(id.uid.bytes(), QByteArray("myuid"));
    QCOMPARE(id.name.bytes(), QByteArray("Zed"));
    QCOMPARE(id.key.bytes(), QByteArray("KEYKEYKEY1"));
    QCOMPARE(id.awayMessage.bytes(), QByteArray("lunch"));
    QVERIFY(ui.messages.isEmpty());
}

void TestProfileStore::contactsLoad()
{
    const QString folder = preparedFolder();
    QVERIFY(writeAll(folder + QStringLiteral("Contacts.cfg"), twoContactsFile()));
    ProfileStore store(folder, nullptr);
    ProfileData data = ProfileData::withDefaults();
    QList<Contact> seenByTransfers;
    store.loadAll(data, [&](const QList<Contact>& c) { seenByTransfers = c; });

    QCOMPARE(data.contacts.size(), 2);
    QCOMPARE(seenByTransfers.size(), 2);
    const Contact& a = data.contacts[0];
    const Contact& b = data.contacts[1];
    QCOMPARE(a.uid.bytes(), QByteArray("uidA"));
    QCOMPARE(a.status, 3);
    QCOMPARE(a.shares, (QList<QByteArray>{"/a"}));
    QCOMPARE(b.name.bytes(), QByteArray("Bert"));
    QCOMPARE(b.status, 4);
    QVERIFY(b.shares.isEmpty());
    QCOMPARE(data.histories.size(), 2);
}

void TestProfileStore::damagedFile_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("caption");
    // Later files whose counts no longer match are reported and removed too.
    QTest::addColumn<QStringList>("alsoReported");
    QTest::addColumn<int>("contactsLoaded");
    // What maxSendTransfers holds afterwards: a block read before the damage stays.
    QTest::addColumn<int>("maxSend");

    const QString read = QStringLiteral("Disk Read Error");
    const QString error = QStringLiteral("Error");
    const QString settings = QStringLiteral("Settings.cfg");
    const QByteArray block = word(7) + QByteArray(80, '\0');
    const QStringList afterContacts{QStringLiteral("Messages.cfg"), QStringLiteral("QueMsgs.cfg"),
                                    QStringLiteral("WindowPos.cfg")};
    QTest::newRow("Settings version 5999")
        << settings << word(5999) + block << read << QStringList() << 2 << 2;
    QTest::newRow("Settings empty") << settings << QByteArray() << read << QStringList() << 2 << 2;
    QTest::newRow("Settings long autosave")
        << settings << word(6000) + block + word(65536) + QByteArray(65536, 'd') << read
        << QStringList() << 2 << 7;
    QTest::newRow("Settings list over bound")
        << settings << word(6000) + block + counted("/dl") + word(5242881) << read << QStringList()
        << 2 << 7;
    QTest::newRow("MyInfo version")
        << QStringLiteral("MyInfo.cfg") << word(6001) << read << QStringList() << 2 << 2;
    QTest::newRow("Contacts version")
        << QStringLiteral("Contacts.cfg") << word(0) << read << afterContacts << 0 << 2;
    // The second entry's shared-path list is too long: the first contact stays.
    QTest::newRow("Contacts list over bound")
        << QStringLiteral("Contacts.cfg")
        << word(6000) + word(2) + contactImage("uidA", "Anna", 0) + word(0) +
               contactImage("uidB", "Bert", 0) + word(5242881)
        << read << afterContacts << 1 << 2;
    QTest::newRow("Messages count")
        << QStringLiteral("Messages.cfg") << word(6000) + word(3) + counted("main") << error
        << QStringList() << 2 << 2;
    QTest::newRow("Messages long history")
        << QStringLiteral("Messages.cfg")
        << word(6000) + word(2) + counted("main") + counted("h1") + word(70000) << error
        << QStringList() << 2 << 2;
    QTest::newRow("QueMsgs count") << QStringLiteral("QueMsgs.cfg") << word(6000) + word(1) << error
                                   << QStringList() << 2 << 2;
    QTest::newRow("QueMsgs version")
        << QStringLiteral("QueMsgs.cfg") << word(5999) << error << QStringList() << 2 << 2;
    QTest::newRow("WindowPos count")
        << QStringLiteral("WindowPos.cfg") << windowPosFile(1) << read << QStringList() << 2 << 2;
}

void TestProfileStore::damagedFile()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, caption);
    QFETCH(QStringList, alsoReported);
    QFETCH(int, contactsLoaded);
    QFETCH(int, maxSend);

    // A whole, sound profile of two contacts, then one file replaced.
    const QString folder = preparedFolder();
    QVERIFY(writeAll(folder + QStringLiteral("Contacts.cfg"), twoContactsFile()));
    QVERIFY(writeAll(folder + QStringLiteral("Messages.cfg"),
                     word(6000) + word(2) + counted("main") + counted("h1") + counted("h2")));
    QVERIFY(writeAll(folder + QStringLiteral("QueMsgs.cfg"),
                     word(6000) + word(2) + counted("q1") + counted("q2")));
    QVERIFY(writeAll(folder + QStringLiteral("WindowPos.cfg"), windowPosFile(2)));
    QVERIFY(writeAll(folder + file, bytes));

    RecordingUi ui;
    ProfileStore store(folder, &ui);
    ProfileData data = ProfileData::withDefaults();
    int transfersLoaded = 0;
    store.loadAll(data, [&](const QList<Contact>&) { ++transfersLoaded; });

    const QStringList reported = QStringList{file} + alsoReported;
    QCOMPARE(ui.messages.size(), reported.size());
    QCOMPARE(ui.messages[0].icon, ProfileUi::Icon::Error);
    QCOMPARE(ui.messages[0].caption, caption);
    for (int i = 0; i < reported.size(); ++i) {
        QCOMPARE(ui.messages[i].text,
                 QStringLiteral("Unable to load \"%1\" file!").arg(reported[i]));
        QVERIFY(!QFile::exists(folder + reported[i]));
    }
    // Nothing is asked: a damaged file is not a first start.
    QCOMPARE(ui.dynamicIpAsked, 0);
    QCOMPARE(ui.screenNameAsked, 0);

    // Loading went on past the damaged file.
    QCOMPARE(transfersLoaded, 1);
    QCOMPARE(data.contacts.size(), contactsLoaded);
    QCOMPARE(data.settings.maxSendTransfers, maxSend);
    if (file == QStringLiteral("Messages.cfg")) {
        QCOMPARE(data.contacts[0].queue, QByteArray("q1"));
        // Texts read before the damage stay.
        QCOMPARE(data.mainPaneRtf, QByteArray(bytes.size() > 20 ? "main" : ""));
        QCOMPARE(data.histories[0], QByteArray(bytes.size() > 20 ? "h1" : ""));
    }
    const bool windowsLoaded = !reported.contains(QStringLiteral("WindowPos.cfg"));
    QCOMPARE(data.windows.transfersWindow,
             windowsLoaded ? (StoredRect{13, 14, 15, 16}) : StoredRect());
}

void TestProfileStore::emptyFilesChangeNothing_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("MyInfo") << QStringLiteral("MyInfo.cfg");
    QTest::newRow("Contacts") << QStringLiteral("Contacts.cfg");
    QTest::newRow("Messages") << QStringLiteral("Messages.cfg");
    QTest::newRow("QueMsgs") << QStringLiteral("QueMsgs.cfg");
    QTest::newRow("WindowPos") << QStringLiteral("WindowPos.cfg");
}

void TestProfileStore::emptyFilesChangeNothing()
{
    QFETCH(QString, file);
    const QString folder = preparedFolder();
    QVERIFY(writeAll(folder + QStringLiteral("Contacts.cfg"), twoContactsFile()));
    QVERIFY(writeAll(folder + file, QByteArray()));

    RecordingUi ui;
    ProfileStore store(folder, &ui);
    ProfileData data = ProfileData::withDefaults();
    const Identity own = data.ownIdentity;
    store.loadAll(data);
    QVERIFY(ui.messages.isEmpty());
    QCOMPARE(ui.screenNameAsked, 0);
    QVERIFY(QFile::exists(folder + file));
    QCOMPARE(data.contacts.size(), file == QStringLiteral("Contacts.cfg") ? 0 : 2);
    QVERIFY(data.mainPaneRtf.isEmpty());
    if (file == QStringLiteral("MyInfo.cfg"))
        QCOMPARE(data.ownIdentity, own);
    QCOMPARE(data.windows, WindowPositions());
}

void TestProfileStore::shortContactsFile()
{
    const QString folder = preparedFolder();
    // Count 2, then one entry and only the start of the second.
    const QByteArray whole = twoContactsFile();
    QVERIFY(writeAll(folder + QStringLiteral("Contacts.cfg"), whole.left(8 + 2136 + 7 + 50)));
    RecordingUi ui;
    ProfileStore store(folder, &ui);
    QList<Contact> contacts;
    QCOMPARE(store.loadContacts(contacts), ProfileStore::LoadOutcome::Loaded);
    QVERIFY(ui.messages.isEmpty());
    QCOMPARE(contacts.size(), 2);
    QCOMPARE(contacts[1].uid.bytes(), QByteArray("uidB"));
    // The rest of a cut entry keeps NewContact() values.
    QCOMPARE(contacts[1].key.bytes(), QByteArray("QRT482LMN"));
    QCOMPARE(contacts[1].autosavePath.bytes(), QByteArray("%autosavedir%\\%contactname%"));

    // A count far beyond the data makes no empty contacts.
    QVERIFY(writeAll(folder + QStringLiteral("Contacts.cfg"),
                     word(6000) + word(0xFFFFFFFF) + contactImage("only", "One", 0) + word(0)));
    contacts.clear();
    QCOMPARE(store.loadContacts(contacts), ProfileStore::LoadOutcome::Loaded);
    QCOMPARE(contacts.size(), 1);
    QVERIFY(ui.messages.isEmpty());
}

void TestProfileStore::contactsMissing()
{
    const QString folder = preparedFolder();
    const QByteArray messages =
        word(6000) + word(2) + counted("main") + counted("a") + counted("b");
    QVERIFY(writeAll(folder + QStringLiteral("Messages.cfg"), messages));
    QVERIFY(writeAll(folder + QStringLiteral("QueMsgs.cfg"), word(6000) + word(7)));
    QVERIFY(writeAll(folder + QStringLiteral("WindowPos.cfg"), windowPosFile(2)));

    RecordingUi ui;
    ProfileStore store(folder, &ui);
    ProfileData data = ProfileData::withDefaults();
    int transfersLoaded = 0;
    store.loadAll(data, [&](const QList<Contact>&) { ++transfersLoaded; });

    QCOMPARE(transfersLoaded, 0);
    QVERIFY(data.mainPaneRtf.isEmpty());
    // Neither Messages.cfg nor QueMsgs.cfg was read, so neither was judged.
    QCOMPARE(readAll(folder + QStringLiteral("Messages.cfg")), messages);
    QVERIFY(QFile::exists(folder + QStringLiteral("QueMsgs.cfg")));
    // WindowPos.cfg counts two contacts where there are none.
    QCOMPARE(ui.messages.size(), 1);
    QCOMPARE(ui.messages[0].text, QStringLiteral("Unable to load \"WindowPos.cfg\" file!"));
    QCOMPARE(ui.messages[0].caption, QStringLiteral("Disk Read Error"));
    QVERIFY(!QFile::exists(folder + QStringLiteral("WindowPos.cfg")));
}

void TestProfileStore::windowPosLayout()
{
    ProfileStore store(m_dir->path(), nullptr);
    WindowPositions w;
    w.mainWindow = {1, 2, 3, 4};
    w.verticalDivider = {5, 6, 7, 8};
    w.horizontalDivider = {9, 10, 11, 12};
    w.transfersWindow = {13, 14, 15, 16};
    w.transferColumnWidths = {100, 0x00050096};
    Contact c = NewContact();
    c.chatWindowRect = {1, 2, 300, 400};
    c.chatSplitterRect = {0, 5, 6, 7};
    QVERIFY(store.writeWindowPos(w, {c}));
    QCOMPARE(readAll(m_dir->filePath(QStringLiteral("WindowPos.cfg"))).toHex(' '),
             windowPosFile(1).toHex(' '));

    WindowPositions back;
    QList<Contact> contacts{NewContact()};
    QCOMPARE(store.loadWindowPos(back, contacts), ProfileStore::LoadOutcome::Loaded);
    QCOMPARE(back, w);
    QCOMPARE(contacts[0].chatWindowRect, c.chatWindowRect);
    QCOMPARE(contacts[0].chatSplitterRect, c.chatSplitterRect);

    // Zero right edge of the main window, zero left edge of the transfers
    // window: neither is moved.
    QVERIFY(back.moveMainWindow() && back.moveTransfersWindow());
    back.mainWindow.right = 0;
    back.transfersWindow.left = 0;
    QVERIFY(!back.moveMainWindow());
    QVERIFY(!back.moveTransfersWindow());

    // A column count beyond the data stops with the data.
    QVERIFY(writeAll(m_dir->filePath(QStringLiteral("WindowPos.cfg")),
                     word(6000) + word(0) + QByteArray(64, '\0') + word(0x7FFFFFFF) + word(42)));
    WindowPositions huge;
    QList<Contact> none;
    QCOMPARE(store.loadWindowPos(huge, none), ProfileStore::LoadOutcome::Loaded);
    QCOMPARE(huge.transferColumnWidths, QList<int32_t>{42});
}

void TestProfileStore::roundTrip()
{
    RecordingUi ui;
    ProfileStore store(m_dir->path(), &ui);
    ProfileData saved = ProfileData::withDefaults();
    saved.settings.maxSendTransfers = 5;
    saved.settings.autosaveDir = "/home/me/In box";
    saved.settings.sharedPaths = {"/pub", "/home/me/Bilder \xc3\xa4"};
    saved.ownIdentity.name = QStringLiteral("Me");
    saved.ownIdentity.status = 2;
    saved.contacts = {sampleContact("u1", "One"), sampleContact("u2", "Two")};
    saved.contacts[1].blocked = 1;
    saved.contacts[1].queue.clear();
    saved.mainPaneRtf = "{\\rtf1 main\\par\r\n}\r\n";
    saved.histories = {"{\\rtf1 one\\par\r\n}\r\n", QByteArray()};
    saved.windows.mainWindow = {5, 5, 600, 500};
    saved.windows.transferColumnWidths = {1, 2, 3, 4, 5, 6, 7};

    QVERIFY(store.writeSettings(saved.settings));
    QVERIFY(store.writeMyInfo(saved.ownIdentity));
    QVERIFY(store.writeContacts(saved.contacts));
    QVERIFY(store.writeMessages(saved.mainPaneRtf, saved.histories));
    QVERIFY(store.writeQueMsgs(saved.contacts));
    QVERIFY(store.writeWindowPos(saved.windows, saved.contacts));
    const QFileInfoList written = QDir(m_dir->path()).entryInfoList(QDir::Files);
    QCOMPARE(written.size(), 6);
    for (const QFileInfo& f : written) {
        QCOMPARE(f.permissions() & ~(QFile::ReadUser | QFile::WriteUser),
                 QFile::ReadOwner | QFile::WriteOwner);
    }

    ProfileData loaded = ProfileData::withDefaults();
    store.loadAll(loaded);
    QVERIFY(ui.messages.isEmpty());
    QCOMPARE(loaded.settings, saved.settings);
    QCOMPARE(loaded.ownIdentity.name, saved.ownIdentity.name);
    QCOMPARE(loaded.ownIdentity.status, 0);
    QCOMPARE(loaded.contacts.size(), 2);
    for (int i = 0; i < 2; ++i) {
        Contact expected = saved.contacts[i];
        expected.status = expected.blocked ? 4 : 3;
        QCOMPARE(loaded.contacts[i], expected);
    }
    QCOMPARE(loaded.mainPaneRtf, saved.mainPaneRtf);
    QCOMPARE(loaded.histories, saved.histories);
    QCOMPARE(loaded.windows, saved.windows);
}

void TestProfileStore::longHistoryStillLoads()
{
    // A history far over what one counted string may hold.
    QByteArray big =
        "{\\rtf1\\ansi{\\fonttbl{\\f0\\fnil Verdana;}}\\viewkind4\\uc1\\pard\\f0\\fs20 ";
    for (int i = 0; i < 5000; ++i)
        big += "line " + QByteArray::number(i) + " of a long chat\\par\r\n";
    big += "}\r\n";
    QVERIFY(big.size() > 65535);

    ProfileStore store(m_dir->path(), nullptr);
    QVERIFY(store.writeMessages("{\\rtf1 m\\par\r\n}\r\n", {"{\\rtf1 a\\par\r\n}\r\n", big}));

    RecordingUi ui;
    ProfileStore reader(m_dir->path(), &ui);
    QByteArray main;
    QList<QByteArray> histories;
    QCOMPARE(reader.loadMessages(2, main, histories), ProfileStore::LoadOutcome::Loaded);
    QVERIFY(ui.messages.isEmpty());
    QCOMPARE(histories[0], QByteArray("{\\rtf1 a\\par\r\n}\r\n"));
    const QByteArray& kept = histories[1];
    QVERIFY(kept.size() <= 65534);
    QVERIFY(kept.size() > 60000);
    QVERIFY(kept.startsWith("{\\rtf1\\ansi{\\fonttbl{\\f0\\fnil Verdana;}}\\viewkind4\\uc1\\pard"));
    QVERIFY(kept.endsWith("line 4999 of a long chat\\par\r\n}\r\n"));
    QVERIFY(!kept.contains("line 0 of"));
}

void TestProfileStore::failedWriteKeepsOldFile_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("Contacts") << QStringLiteral("Contacts.cfg");
    QTest::newRow("Settings") << QStringLiteral("Settings.cfg");
}

void TestProfileStore::failedWriteKeepsOldFile()
{
    QFETCH(QString, file);
    RecordingUi ui;
    ProfileStore store(m_dir->path(), &ui);
    QList<Contact> contacts{sampleContact("u1", "One")};
    Settings settings = Settings::defaults();
    auto write = [&] {
        return file == QStringLiteral("Contacts.cfg") ? store.writeContacts(contacts)
                                                      : store.writeSettings(settings);
    };
    QVERIFY(write());
    const QByteArray before = readAll(m_dir->filePath(file));
    QVERIFY(!before.isEmpty());

    // The new content is larger than this process may now write.
    for (int i = 0; i < 50; ++i)
        contacts.append(sampleContact("more", "More"));
    settings.sharedPaths = QList<QByteArray>(200, QByteArray(500, 'p'));
    {
        FileSizeLimit limit(4096);
        QVERIFY(!write());
    }
    QCOMPARE(readAll(m_dir->filePath(file)), before);
    QCOMPARE(ui.messages.size(), 1);
    QCOMPARE(ui.messages[0].icon, ProfileUi::Icon::Error);
    QCOMPARE(ui.messages[0].caption, QStringLiteral("Disk Write Error"));
    QCOMPARE(ui.messages[0].text, QStringLiteral("Unable to write to \"%1\" file!").arg(file));
    // No half-written file is left beside it.
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{file});
}

void TestProfileStore::writeToMissingFolderIsReported()
{
    RecordingUi ui;
    ProfileStore store(m_dir->filePath(QStringLiteral("gone")), &ui);
    QVERIFY(!store.writeMyInfo(DefaultIdentity()));
    QCOMPARE(ui.messages.size(), 1);
    QCOMPARE(ui.messages[0].text, QStringLiteral("Unable to write to \"MyInfo.cfg\" file!"));
}

void TestProfileStore::createFolderPath()
{
    const QString base = m_dir->path();
    QVERIFY(CreateFolderPath(base + QStringLiteral("/a/b/c/")));
    QVERIFY(QFileInfo(base + QStringLiteral("/a/b/c")).isDir());
    QVERIFY(CreateFolderPath(base + QStringLiteral("/a//b/d")));
    QVERIFY(QFileInfo(base + QStringLiteral("/a/b/d")).isDir());
    QVERIFY(!CreateFolderPath(QString()));

    // A file where a folder should be.
    QVERIFY(writeAll(base + QStringLiteral("/file"), "x"));
    QVERIFY(!CreateFolderPath(base + QStringLiteral("/file")));
    QVERIFY(!CreateFolderPath(base + QStringLiteral("/file/sub")));

    // A profile folder that cannot be made: told once, nothing loaded or written.
    RecordingUi ui;
    ProfileStore store(base + QStringLiteral("/file/Profiles/u/"), &ui);
    ProfileData data = ProfileData::withDefaults();
    store.loadAll(data);
    QVERIFY(!data.folderReady);
    QCOMPARE(ui.messages.size(), 1);
    QCOMPARE(ui.messages[0].caption, QStringLiteral("Folder Creation Error"));
    QCOMPARE(ui.messages[0].text, QStringLiteral("Unable to create profile folder!"));
    QCOMPARE(ui.dynamicIpAsked, 0);
}

void TestProfileStore::profileFolder_data()
{
    QTest::addColumn<QString>("home");
    QTest::addColumn<QString>("user");
    QTest::newRow("plain") << QStringLiteral("/home/alice") << QStringLiteral("alice");
    QTest::newRow("trailing slash") << QStringLiteral("/home/bob/") << QStringLiteral("bob");
    QTest::newRow("no slash") << QStringLiteral("carol") << QStringLiteral("carol");
}

void TestProfileStore::profileFolder()
{
    QFETCH(QString, home);
    QFETCH(QString, user);
    const QByteArray oldHome = qgetenv("HOME");
    const QByteArray oldRoot = qgetenv("ZEPHLINK_HOME");
    qputenv("HOME", home.toUtf8());
    qputenv("ZEPHLINK_HOME", "/env/root");
    QCOMPARE(ProfileUserName(), user);
    QCOMPARE(ProfileFolder(), QStringLiteral("/env/root/Profiles/%1/").arg(user));
    QCOMPARE(ProfileFolder(QStringLiteral("/given/")),
             QStringLiteral("/given/Profiles/%1/").arg(user));
    qputenv("HOME", oldHome);
    if (oldRoot.isNull())
        qunsetenv("ZEPHLINK_HOME");
    else
        qputenv("ZEPHLINK_HOME", oldRoot);
}

QTEST_GUILESS_MAIN(TestProfileStore)
#include "tst_profilestore.moc"

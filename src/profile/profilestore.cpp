#include "profile/profilestore.h"

#include "profile/binaryio.h"
#include "profile/profilefolder.h"
#include "profile/rtffit.h"

#include <QFile>
#include <QLoggingCategory>
#include <QSaveFile>

Q_LOGGING_CATEGORY(lcProfile, "zephlink.profile")

const QLatin1StringView ProfileStore::SettingsFile("Settings.cfg");
const QLatin1StringView ProfileStore::MyInfoFile("MyInfo.cfg");
const QLatin1StringView ProfileStore::ContactsFile("Contacts.cfg");
const QLatin1StringView ProfileStore::MessagesFile("Messages.cfg");
const QLatin1StringView ProfileStore::QueMsgsFile("QueMsgs.cfg");
const QLatin1StringView ProfileStore::WindowPosFile("WindowPos.cfg");

namespace {

// Keeps the leading paths whose list still fits the reader's bound.
QList<QByteArray> fitStringList(const QList<QByteArray>& strings)
{
    QList<QByteArray> out;
    qsizetype total = 0;
    for (const QByteArray& s : strings) {
        if (total + s.size() + 1 > qsizetype(MaxStringListBytes))
            break;
        total += s.size() + 1;
        out.append(s);
    }
    return out;
}

} // namespace

ProfileData ProfileData::withDefaults()
{
    ProfileData d;
    d.settings = Settings::defaults();
    d.ownIdentity = DefaultIdentity();
    return d;
}

QString ProfileStore::loadErrorText(QLatin1StringView fileName)
{
    return QStringLiteral("Unable to load \"%1\" file!").arg(fileName);
}

QString ProfileStore::loadErrorCaption(QLatin1StringView fileName)
{
    if (fileName == MessagesFile || fileName == QueMsgsFile)
        return QStringLiteral("Error");
    return QStringLiteral("Disk Read Error");
}

QString ProfileStore::writeErrorText(QLatin1StringView fileName)
{
    return QStringLiteral("Unable to write to \"%1\" file!").arg(fileName);
}

QString ProfileStore::writeErrorCaption()
{
    return QStringLiteral("Disk Write Error");
}

QString ProfileStore::folderErrorText()
{
    return QStringLiteral("Unable to create profile folder!");
}

QString ProfileStore::folderErrorCaption()
{
    return QStringLiteral("Folder Creation Error");
}

QString ProfileStore::dynamicIpCaption()
{
    return QStringLiteral("Dynamic IP?");
}

QString ProfileStore::dynamicIpQuestion()
{
    return QStringLiteral("If you have a Dynamic IP (DSL, Dialup, Satellite, ISDN) Click \"YES\"\n"
                          "If you have a Static IP (Cable Modem, T1, or T3) click \"NO\"");
}

QString ProfileStore::screenNameTitle()
{
    return QStringLiteral("Set Screen Name");
}

QString ProfileStore::screenNamePrompt()
{
    return QStringLiteral("Select a screen name,\nfor contacts to identify you.");
}

ProfileStore::ProfileStore(QString folder, ProfileUi* ui) : m_folder(std::move(folder)), m_ui(ui)
{
    if (!m_folder.endsWith(QLatin1Char('/')))
        m_folder.append(QLatin1Char('/'));
}

void ProfileStore::show(ProfileUi::Icon icon, const QString& caption, const QString& text)
{
    if (m_ui)
        m_ui->showMessage(icon, caption, text);
}

ProfileStore::LoadOutcome ProfileStore::openFile(QLatin1StringView fileName,
                                                 std::optional<BinaryReader>& reader,
                                                 uint32_t presetVersion,
                                                 std::optional<qsizetype> contactCount)
{
    QFile file(filePath(fileName));
    if (!file.open(QIODevice::ReadOnly))
        return LoadOutcome::Missing;
    reader.emplace(file.readAll());
    const bool error = file.error() != QFileDevice::NoError;
    // Words the file is too short to hold keep their presets.
    uint32_t version = presetVersion;
    reader->readUInt32(version);
    bool countMatches = true;
    if (contactCount) {
        uint32_t count = static_cast<uint32_t>(*contactCount);
        reader->readUInt32(count);
        countMatches = count == static_cast<uint32_t>(*contactCount);
    }
    if (version != FORMAT_VERSION || !countMatches || error)
        return damaged(fileName);
    return LoadOutcome::Loaded;
}

ProfileStore::LoadOutcome ProfileStore::damaged(QLatin1StringView fileName)
{
    qCWarning(lcProfile) << "damaged profile file, removed:" << fileName;
    QFile::remove(filePath(fileName));
    show(ProfileUi::Icon::Error, loadErrorCaption(fileName), loadErrorText(fileName));
    return LoadOutcome::Damaged;
}

ProfileStore::LoadOutcome ProfileStore::loadSettings(Settings& settings)
{
    std::optional<BinaryReader> reader;
    // Unlike the other files, an empty Settings.cfg fails its version check.
    if (const LoadOutcome opened = openFile(SettingsFile, reader, 0); opened != LoadOutcome::Loaded)
        return opened;
    BinaryReader& r = *reader;
    QByteArray block = settings.encodeBlock();
    r.readBlock(block.data(), Settings::BlockSize);
    settings.decodeBlock(block);
    r.readCountedString(settings.autosaveDir);
    r.readStringList(settings.sharedPaths);
    if (r.failed())
        return damaged(SettingsFile);
    return LoadOutcome::Loaded;
}

ProfileStore::LoadOutcome ProfileStore::loadMyInfo(Identity& identity)
{
    std::optional<BinaryReader> reader;
    if (const LoadOutcome opened = openFile(MyInfoFile, reader, FORMAT_VERSION);
        opened != LoadOutcome::Loaded)
        return opened;
    BinaryReader& r = *reader;
    QByteArray image = identity.encode();
    r.readBlock(image.data(), Identity::Size);
    identity.decode(image);
    identity.status = StatusOnline;
    return LoadOutcome::Loaded;
}

ProfileStore::LoadOutcome ProfileStore::loadContacts(QList<Contact>& contacts)
{
    std::optional<BinaryReader> reader;
    if (const LoadOutcome opened = openFile(ContactsFile, reader, FORMAT_VERSION);
        opened != LoadOutcome::Loaded)
        return opened;
    BinaryReader& r = *reader;
    uint32_t count = 0;
    r.readUInt32(count);
    // A count beyond the end of the file makes no contacts out of nothing:
    // only entries that start inside the file are read.
    for (uint32_t i = 0; i < count && r.remaining() > 0; ++i) {
        Contact c = NewContact();
        QByteArray image = c.encodePersistent();
        r.readBlock(image.data(), Contact::PersistentSize);
        c.decodePersistent(image);
        r.readStringList(c.shares);
        if (r.failed())
            return damaged(ContactsFile);
        c.status = c.blocked ? StatusBlocked : StatusOffline;
        contacts.append(c);
    }
    return LoadOutcome::Loaded;
}

ProfileStore::LoadOutcome ProfileStore::loadMessages(qsizetype contactCount,
                                                     QByteArray& mainPaneRtf,
                                                     QList<QByteArray>& histories)
{
    histories.resize(contactCount);
    std::optional<BinaryReader> reader;
    if (const LoadOutcome opened = openFile(MessagesFile, reader, FORMAT_VERSION, contactCount);
        opened != LoadOutcome::Loaded)
        return opened;
    BinaryReader& r = *reader;
    r.readCountedString(mainPaneRtf);
    for (qsizetype i = 0; i < contactCount && !r.failed(); ++i)
        r.readCountedString(histories[i]);
    if (r.failed())
        return damaged(MessagesFile);
    return LoadOutcome::Loaded;
}

ProfileStore::LoadOutcome ProfileStore::loadQueMsgs(QList<Contact>& contacts)
{
    std::optional<BinaryReader> reader;
    if (const LoadOutcome opened = openFile(QueMsgsFile, reader, FORMAT_VERSION, contacts.size());
        opened != LoadOutcome::Loaded)
        return opened;
    BinaryReader& r = *reader;
    for (qsizetype i = 0; i < contacts.size() && !r.failed(); ++i)
        r.readCountedString(contacts[i].queue);
    if (r.failed())
        return damaged(QueMsgsFile);
    return LoadOutcome::Loaded;
}

ProfileStore::LoadOutcome ProfileStore::loadWindowPos(WindowPositions& windows,
                                                      QList<Contact>& contacts)
{
    std::optional<BinaryReader> reader;
    if (const LoadOutcome opened = openFile(WindowPosFile, reader, FORMAT_VERSION, contacts.size());
        opened != LoadOutcome::Loaded)
        return opened;
    BinaryReader& r = *reader;
    r.readRect(windows.mainWindow);
    r.readRect(windows.verticalDivider);
    r.readRect(windows.horizontalDivider);
    r.readRect(windows.transfersWindow);
    uint32_t columns = 0;
    r.readUInt32(columns);
    // Widths past the end of the file are not there to read; stop with the data.
    QList<int32_t> widths;
    for (uint32_t i = 0; i < columns && r.remaining() >= 4; ++i) {
        int32_t w = 0;
        r.readInt32(w);
        widths.append(w);
    }
    if (columns > 0)
        windows.transferColumnWidths = widths;
    for (Contact& c : contacts) {
        r.readRect(c.chatWindowRect);
        r.readRect(c.chatSplitterRect);
    }
    return LoadOutcome::Loaded;
}

void ProfileStore::loadAll(ProfileData& data,
                           const std::function<void(const QList<Contact>&)>& loadTransfers)
{
    if (!CreateFolderPath(m_folder)) {
        data.folderReady = false;
        m_folderMissing = true;
        show(ProfileUi::Icon::Error, folderErrorCaption(), folderErrorText());
        return;
    }
    data.folderReady = true;
    m_folderMissing = false;

    if (loadSettings(data.settings) == LoadOutcome::Missing) {
        data.firstStart = true;
        if (m_ui)
            data.settings.dynamicIp = m_ui->askDynamicIp(dynamicIpCaption(), dynamicIpQuestion());
        writeSettings(data.settings);
    }

    if (loadMyInfo(data.ownIdentity) == LoadOutcome::Missing) {
        if (m_ui) {
            const std::optional<QString> name = m_ui->askScreenName(
                screenNameTitle(), screenNamePrompt(), data.ownIdentity.name.text());
            if (name && !name->isEmpty()) {
                data.ownIdentity.name = *name;
                data.screenNameSet = true;
            }
        }
        writeMyInfo(data.ownIdentity);
    }

    if (loadContacts(data.contacts) != LoadOutcome::Missing) {
        data.contactsFileRead = true;
        // The transfer list names contacts by uid, so it follows them.
        if (loadTransfers)
            loadTransfers(data.contacts);
        if (loadMessages(data.contacts.size(), data.mainPaneRtf, data.histories) !=
            LoadOutcome::Missing) {
            loadQueMsgs(data.contacts);
        }
    }
    data.histories.resize(data.contacts.size());

    loadWindowPos(data.windows, data.contacts);
}

bool ProfileStore::writeFile(QLatin1StringView fileName, const QByteArray& content)
{
    // The user heard once that the folder could not be made; the program runs
    // on its defaults and writes nothing.
    if (m_folderMissing)
        return false;
    QSaveFile file(filePath(fileName));
    bool ok = file.open(QIODevice::WriteOnly);
    // The files hold keys and passwords in clear: for the owner's eyes only.
    if (ok)
        ok = file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (ok)
        ok = file.write(content) == content.size();
    if (ok)
        ok = file.commit();
    else
        file.cancelWriting();
    if (!ok) {
        qCWarning(lcProfile) << "cannot write" << file.fileName() << file.errorString();
        show(ProfileUi::Icon::Error, writeErrorCaption(), writeErrorText(fileName));
    }
    return ok;
}

bool ProfileStore::writeSettings(const Settings& settings)
{
    QByteArray out;
    AppendUInt32(out, FORMAT_VERSION);
    out.append(settings.encodeBlock());
    AppendCountedString(out, Utf8Prefix(settings.autosaveDir, MaxProfileText));
    AppendStringList(out, fitStringList(settings.sharedPaths));
    return writeFile(SettingsFile, out);
}

bool ProfileStore::writeMyInfo(const Identity& identity)
{
    QByteArray out;
    AppendUInt32(out, FORMAT_VERSION);
    out.append(identity.encode());
    return writeFile(MyInfoFile, out);
}

bool ProfileStore::writeContacts(const QList<Contact>& contacts)
{
    QByteArray out;
    AppendUInt32(out, FORMAT_VERSION);
    AppendUInt32(out, static_cast<uint32_t>(contacts.size()));
    for (const Contact& c : contacts) {
        out.append(c.encodePersistent());
        AppendStringList(out, fitStringList(c.shares));
    }
    return writeFile(ContactsFile, out);
}

bool ProfileStore::writeMessages(const QByteArray& mainPaneRtf, const QList<QByteArray>& histories)
{
    QByteArray out;
    AppendUInt32(out, FORMAT_VERSION);
    AppendUInt32(out, static_cast<uint32_t>(histories.size()));
    AppendCountedString(out, FitRichText(mainPaneRtf, MaxProfileText));
    for (const QByteArray& h : histories)
        AppendCountedString(out, FitRichText(h, MaxProfileText));
    return writeFile(MessagesFile, out);
}

bool ProfileStore::writeQueMsgs(const QList<Contact>& contacts)
{
    QByteArray out;
    AppendUInt32(out, FORMAT_VERSION);
    AppendUInt32(out, static_cast<uint32_t>(contacts.size()));
    // Queues are never trimmed: QueueMessage keeps each within MaxProfileText.
    for (const Contact& c : contacts)
        AppendCountedString(out, c.queue);
    return writeFile(QueMsgsFile, out);
}

bool ProfileStore::writeWindowPos(const WindowPositions& windows, const QList<Contact>& contacts)
{
    QByteArray out;
    AppendUInt32(out, FORMAT_VERSION);
    AppendUInt32(out, static_cast<uint32_t>(contacts.size()));
    AppendRect(out, windows.mainWindow);
    AppendRect(out, windows.verticalDivider);
    AppendRect(out, windows.horizontalDivider);
    AppendRect(out, windows.transfersWindow);
    AppendUInt32(out, static_cast<uint32_t>(windows.transferColumnWidths.size()));
    for (int32_t w : windows.transferColumnWidths)
        AppendInt32(out, w);
    for (const Contact& c : contacts) {
        AppendRect(out, c.chatWindowRect);
        AppendRect(out, c.chatSplitterRect);
    }
    return writeFile(WindowPosFile, out);
}

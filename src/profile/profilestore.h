#pragma once

#include "records/contact.h"
#include "records/identity.h"
#include "profile/binaryio.h"
#include "profile/profileui.h"
#include "profile/settings.h"
#include "profile/storedrect.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

// Geometry kept in WindowPos.cfg besides each contact's two chat-window
// rectangles (those live in the Contact).
struct WindowPositions
{
    StoredRect mainWindow;        // screen coordinates
    StoredRect verticalDivider;   // main window client coordinates
    StoredRect horizontalDivider; // main window client coordinates
    StoredRect transfersWindow;   // screen coordinates
    // One word per transfers-list column; the width is its low 16 bits.
    QList<int32_t> transferColumnWidths;

    // A main window saved with right edge 0, or a transfers window saved with
    // left edge 0, is left where it is.
    bool moveMainWindow() const { return mainWindow.right != 0; }
    bool moveTransfersWindow() const { return transfersWindow.left != 0; }
    static bool moveChatWindow(const Contact& c) { return c.chatWindowRect.right != 0; }

    friend bool operator==(const WindowPositions&, const WindowPositions&) = default;
};

// Everything the profile holds. Before loading it holds the defaults; a file
// that is missing or ends early leaves what it does not reach unchanged.
struct ProfileData
{
    Settings settings;
    Identity ownIdentity;
    QList<Contact> contacts;     // each with its shares, queue and chat rectangles
    QByteArray mainPaneRtf;      // empty: nothing to show
    QList<QByteArray> histories; // one rich text per contact, in list order
    WindowPositions windows;

    bool folderReady = false;      // the profile folder exists
    bool firstStart = false;       // Settings.cfg was missing
    bool screenNameSet = false;    // MyInfo.cfg was missing and a name was given
    bool contactsFileRead = false; // Contacts.cfg was there

    // Settings::defaults() and DefaultIdentity().
    static ProfileData withDefaults();
};

// Reads and writes the profile files of one folder. Runs on the main thread.
class ProfileStore
{
public:
    enum class LoadOutcome { Missing, Loaded, Damaged };

    static const QLatin1StringView SettingsFile;
    static const QLatin1StringView MyInfoFile;
    static const QLatin1StringView ContactsFile;
    static const QLatin1StringView MessagesFile;
    static const QLatin1StringView QueMsgsFile;
    static const QLatin1StringView WindowPosFile;

    // Texts shown to the user.
    static QString loadErrorText(QLatin1StringView fileName);
    static QString loadErrorCaption(QLatin1StringView fileName);
    static QString writeErrorText(QLatin1StringView fileName);
    static QString writeErrorCaption();
    static QString folderErrorText();
    static QString folderErrorCaption();
    static QString dynamicIpCaption();
    static QString dynamicIpQuestion();
    static QString screenNameTitle();
    static QString screenNamePrompt();

    // folder ends with '/'; ui may be null (nothing shown, nothing asked).
    ProfileStore(QString folder, ProfileUi* ui);

    const QString& folder() const { return m_folder; }
    // False once loadAll could not make the folder: every writer then skips
    // without a word (the folder message was shown once).
    bool isWritable() const { return !m_folderMissing; }
    QString filePath(QLatin1StringView fileName) const { return m_folder + fileName; }

    // Makes the folder, then Settings, MyInfo, Contacts (then loadTransfers,
    // even when the contacts were damaged part-way), Messages, QueMsgs and
    // WindowPos, each damaged file reported, deleted and skipped. Without
    // Contacts.cfg neither the transfers, Messages.cfg nor QueMsgs.cfg are
    // read; without Messages.cfg QueMsgs.cfg is not read.
    void loadAll(ProfileData& data,
                 const std::function<void(const QList<Contact>&)>& loadTransfers = {});

    // One file each; a damaged file is reported and deleted.
    LoadOutcome loadSettings(Settings& settings);
    // The stored status is never used: a loaded identity is Online.
    LoadOutcome loadMyInfo(Identity& identity);
    // Contacts come back Offline, or Blocked when their blocked flag is set.
    LoadOutcome loadContacts(QList<Contact>& contacts);
    // The stored count must equal contactCount; histories gets that many entries.
    LoadOutcome loadMessages(qsizetype contactCount, QByteArray& mainPaneRtf,
                             QList<QByteArray>& histories);
    LoadOutcome loadQueMsgs(QList<Contact>& contacts);
    LoadOutcome loadWindowPos(WindowPositions& windows, QList<Contact>& contacts);

    // Each writes a whole new file next to the old one and replaces it only
    // when every byte was written; any failure is reported and leaves the old
    // file as it was. Nothing is written (false, nothing shown) when the
    // folder could not be made.
    bool writeSettings(const Settings& settings);
    bool writeMyInfo(const Identity& identity);
    bool writeContacts(const QList<Contact>& contacts);
    // One history per contact, in list order. Texts too long for the file
    // lose their oldest part.
    bool writeMessages(const QByteArray& mainPaneRtf, const QList<QByteArray>& histories);
    bool writeQueMsgs(const QList<Contact>& contacts);
    bool writeWindowPos(const WindowPositions& windows, const QList<Contact>& contacts);

private:
    // False when the file cannot be opened; error set on a read error.
    // Opens a profile file and checks its version word and, where the file
    // carries one, its contact count: Missing, Damaged (reported and deleted)
    // or Loaded with the reader placed after the checked words.
    LoadOutcome openFile(QLatin1StringView fileName, std::optional<BinaryReader>& reader,
                         uint32_t presetVersion,
                         std::optional<qsizetype> contactCount = std::nullopt);
    LoadOutcome damaged(QLatin1StringView fileName);
    bool writeFile(QLatin1StringView fileName, const QByteArray& content);
    void show(ProfileUi::Icon icon, const QString& caption, const QString& text);

    QString m_folder;
    ProfileUi* m_ui;
    bool m_folderMissing = false;
};

// The largest text a counted string in a profile file may hold.
inline constexpr qsizetype MaxProfileText = 65534;

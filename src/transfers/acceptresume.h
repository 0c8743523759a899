#pragma once

#include "transfers/filehandle.h"

#include "transfers/transfer.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

struct Contact;
struct Settings;

// Data of a file being received goes to the target followed by this suffix
// and is renamed to the target only when complete.
inline constexpr QLatin1String PartialSuffix(".part");

// ---- the automatic save folder ------------------------------------------

// The contact's name as it appears in a folder name: only ASCII letters and
// digits survive.
QString FolderSafeName(const QString& name);

// Expands a per-contact template: "%autosavedir%" becomes autosaveDir and
// "%contactname%" the filtered contactName when subfolders are on, nothing
// otherwise. '\' and '/' both separate; the result uses '/' and has no
// trailing separator (a lone "/" is kept).
QString ExpandAutosaveTemplate(const QString& pathTemplate, const QString& autosaveDir,
                               const QString& contactName, bool subfolders);

// The folder incoming transfers of this contact go to without asking, or
// an empty text when the user is to be asked: neither autoAcceptAll nor the
// contact's own automatic-accept flag is on.
QString AutosaveFolder(const Contact& contact, bool autoAcceptAll, bool subfolders,
                       const QString& autosaveDir);
// The same with the options "Auto accept all incoming transfers", "Create
// autosave subdirectories for peers" and the autosave path from settings.
QString AutosaveFolder(const Contact& contact, const Settings& settings);

// Moves a contact's automatic save folder after its screen name changed
// (only meaningful with subfolders on). Nothing is moved when the contact
// has an alias (its folder is named after the alias, and another contact's
// folder may carry the old screen name), when either name filters to
// nothing, when the old folder is missing or the new one exists already.
// True when the folder was moved.
bool RenameAutosaveFolder(const QString& pathTemplate, const QString& autosaveDir,
                          const QString& alias, const QString& oldScreenName,
                          const QString& newScreenName, bool subfolders);

// ---- what is already on disk ---------------------------------------------

enum class TargetClass : int {
    NotWritable = 2, // the target or its partial file cannot be written
    Identical = 4,   // same size and head checksum (or a complete partial file, now renamed)
    Resumable = 5,   // a matching, shorter partial file; offset = its length
    New = 6,         // neither target nor partial file exists
    Differs = 7,     // the target differs, or the partial file is too long
    StalePartial = 8 // a partial file that does not match: start again at 0
};

struct Classification
{
    TargetClass code;
    uint64_t offset = 0;
};

// Compares the target (and target + ".part") with the sender's file. A
// complete partial file is renamed to the target; when the target is in the
// way, the target is kept and the answer is Differs. A link at either place,
// a file another writer holds, and a target another session of this process
// writes are NotWritable.
Classification Classify(const QString& target, uint64_t senderSize, uint32_t senderCrc);
// The common case of a folder entry, which Classify would call New: nothing
// is at name nor at its ".part" file in the folder open at dirFd (a link
// counts as something). The ".part" file is then created there, exclusively
// and locked, and returned open for writing; not open means: ask Classify.
// The caller holds the target's claim.
FileHandle CreateFreshPartial(int dirFd, const QByteArray& name);

// Rewrites path to the next free name: "report.txt" -> "report_001.txt" ->
// "report_002.txt" ... "report_999.txt"; "notes" -> "notes_001". A name whose
// '_' sits four characters before the extension (or the end) counts on from
// the three characters after it ("my_doc.txt" -> "my_001.txt"). Only the
// last path component is looked at. A name is free when neither it nor its
// ".part" file exists and no session writes there. False (path unchanged)
// when the count would pass 999.
bool AutoRename(QString& path);

// ---- paths that come from the peer ----------------------------------------

// A folder entry's relative path as the peer sent it ('\' or '/' between
// components) as a local relative path with '/'. Refused: empty paths,
// absolute ones (leading separator or a drive letter), and any ".."
// component; "." and empty components are dropped.
std::optional<QString> SafeRelativePath(const QByteArray& wirePath);

// A local relative path ('/' between components) as it goes on the wire,
// with '\' between components.
QByteArray WireRelativePath(const QString& localRelative);

// True when the name part of the sender's path can be a file or folder name
// here: not empty, not "." or "..".
bool IsUsableName(const QString& name);

// An offer that carries a saved path is a resume this side started: it is
// honoured only when this side lists a receive of the same contact, sender
// path (case ignored, as the peer's paths may be) and saved path (exact).
bool MatchesOwnReceive(const Transfer& offer, const Transfer& row);

// ---- the decision on an offer ----------------------------------------------

struct OfferDecision
{
    enum Kind { Accept, Refuse, Ask };
    Kind kind = Ask;
    QString savedPath;   // Accept: where the data goes (without ".part")
    uint64_t offset = 0; // Accept: the resume offset (bytesDone)
    int refusalCode = 0; // Refuse: the session result sent to the sender
};

// Makes every missing folder of a path; CreateFolderPath when not given.
using FolderMaker = std::function<bool(const QString& path)>;

// The automatic part of the decision on an offer: uses the offer's saved
// path when savedPathTrusted (see MatchesOwnReceive), otherwise the automatic
// save folder plus the name of the sender's file; with neither, Ask. Creates
// folders, classifies the target and renames as needed. A folder that exists
// already is used as it is.
OfferDecision DecideOfferAutomatic(const Transfer& offer, bool savedPathTrusted,
                                   const QString& autosaveFolder,
                                   const FolderMaker& makeFolders = {});

// ---- the path the user picked -----------------------------------------------

// The picker's path with a final ".part" removed (for a file).
QString StripPartialSuffix(const QString& path);

struct PickedPathOutcome
{
    bool accept = false; // true: accept with offset at once
    TargetClass code{};  // otherwise: show the resume prompt with this code
    uint64_t offset = 0;
};

// A file: New accepts at once, anything else asks. A folder: an existing one
// asks (Resumable), a new one is created and accepted, or asks NotWritable.
PickedPathOutcome DecidePickedPath(const Transfer& offer, const QString& savedPath,
                                   const FolderMaker& makeFolders = {});

// ---- prompt texts ------------------------------------------------------------

enum class PromptIcon { Information, Question, Exclamation };

struct ResumePromptContent
{
    QString title;
    QString text;
    PromptIcon icon = PromptIcon::Question;
    bool resumeEnabled = true;
    bool overwriteEnabled = true;
    // What the prompt's picture shows: the type of the sender's file, or a
    // folder.
    QString senderName;
    bool folder = false;
};

// What the resume prompt shows for a classification code of the offer.
ResumePromptContent ResumePrompt(TargetClass code, const Transfer& offer, uint64_t offset);

// Title and text of the accept prompt.
QString AcceptPromptTitle(const Transfer& offer);
QString AcceptPromptText(const Transfer& offer, const QString& contactName,
                         const QString& contactIp);

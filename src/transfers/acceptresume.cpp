#include "transfers/acceptresume.h"

#include "profile/profilefolder.h"
#include "profile/settings.h"
#include "records/contact.h"
#include "transfers/headcrc.h"
#include "transfers/pathguard.h"
#include "transfers/sessionresult.h"
#include "transfers/targetclaim.h"
#include "transfers/transferformat.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

const QString AutosaveDirPlaceholder = QStringLiteral("%autosavedir%");
const QString ContactNamePlaceholder = QStringLiteral("%contactname%");

bool MakeFolders(const FolderMaker& makeFolders, const QString& path)
{
    return makeFolders ? makeFolders(path) : CreateFolderPath(path);
}

// The three characters after '_' read as a count: leading digits only, 0
// when there are none.
int LeadingNumber(QStringView digits)
{
    int value = 0;
    for (QChar ch : digits) {
        if (ch < u'0' || ch > u'9')
            break;
        value = value * 10 + (ch.unicode() - u'0');
    }
    return value;
}

QString Numbered(int k)
{
    return QString::asprintf("_%03d", k);
}

QString KindText(const Transfer& t)
{
    return t.isFolder ? QStringLiteral("Folder") : QStringLiteral("File");
}

} // namespace

QString FolderSafeName(const QString& name)
{
    QString out;
    for (QChar ch : name) {
        const char16_t c = ch.unicode();
        if ((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9'))
            out.append(ch);
    }
    return out;
}

QString ExpandAutosaveTemplate(const QString& pathTemplate, const QString& autosaveDir,
                               const QString& contactName, bool subfolders)
{
    QString folder = pathTemplate;
    folder.replace(AutosaveDirPlaceholder, autosaveDir);
    folder.replace(ContactNamePlaceholder, subfolders ? FolderSafeName(contactName) : QString());
    folder.replace(u'\\', u'/');
    while (folder.size() > 1 && folder.endsWith(u'/'))
        folder.chop(1);
    return folder;
}

QString AutosaveFolder(const Contact& contact, bool autoAcceptAll, bool subfolders,
                       const QString& autosaveDir)
{
    if (!autoAcceptAll && !contact.autosave)
        return QString();
    return ExpandAutosaveTemplate(contact.autosavePath.text(), autosaveDir, DisplayName(contact),
                                  subfolders);
}

QString AutosaveFolder(const Contact& contact, const Settings& settings)
{
    return AutosaveFolder(contact, Settings::on(settings.autoAcceptAll),
                          Settings::on(settings.autosaveSubfolders), settings.autosaveDirText());
}

bool RenameAutosaveFolder(const QString& pathTemplate, const QString& autosaveDir,
                          const QString& alias, const QString& oldScreenName,
                          const QString& newScreenName, bool subfolders)
{
    if (!subfolders || !alias.isEmpty())
        return false;
    // An empty name would make the folder the autosave folder itself.
    if (FolderSafeName(oldScreenName).isEmpty() || FolderSafeName(newScreenName).isEmpty())
        return false;
    const QString oldFolder =
        ExpandAutosaveTemplate(pathTemplate, autosaveDir, oldScreenName, true);
    const QString newFolder =
        ExpandAutosaveTemplate(pathTemplate, autosaveDir, newScreenName, true);
    if (oldFolder == newFolder || !QFileInfo(oldFolder).isDir() || PathExists(newFolder))
        return false;
    return QDir().rename(oldFolder, newFolder);
}

Classification Classify(const QString& target, uint64_t senderSize, uint32_t senderCrc)
{
    const QString partial = target + PartialSuffix;
    // Another session writes there now.
    if (TargetClaim::isClaimed(target))
        return {TargetClass::NotWritable};
    const bool targetExists = PathExists(target);
    if (targetExists) {
        if (!CanWriteFile(target))
            return {TargetClass::NotWritable};
        if (FileSize(target) == senderSize && HeadCrc(target) == senderCrc)
            return {TargetClass::Identical};
    }
    if (!PathExists(partial))
        return {targetExists ? TargetClass::Differs : TargetClass::New};
    if (!CanWriteFile(partial))
        return {TargetClass::NotWritable};

    const uint64_t n = FileSize(partial);
    if (HeadCrc(partial) == senderCrc) {
        if (n == senderSize) {
            // The partial file is complete. It never replaces a different
            // target: that one is kept and the offer gets a new name.
            if (!targetExists && RenameNoReplace(partial, target))
                return {TargetClass::Identical};
            return {targetExists ? TargetClass::Differs : TargetClass::NotWritable};
        }
        if (n < senderSize)
            return {TargetClass::Resumable, n};
    }
    return {n <= senderSize ? TargetClass::StalePartial : TargetClass::Differs};
}

FileHandle CreateFreshPartial(int dirFd, const QByteArray& name)
{
    struct stat st;
    if (::fstatat(dirFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT)
        return FileHandle();
    const QByteArray partial = name + PartialSuffix.latin1();
    return FileHandle(OpenForWritingAt(dirFd, partial.constData(), false, true));
}

bool AutoRename(QString& path)
{
    QString p = path;
    for (;;) {
        const qsizetype b = p.lastIndexOf(u'/');
        qsizetype d = p.lastIndexOf(u'.');
        qsizetype u = p.lastIndexOf(u'_');
        // Only the last component is renamed: a '.' or '_' in a folder name
        // is neither an extension nor a count.
        if (d < b)
            d = -1;
        if (u < b)
            u = -1;
        if (d >= 0 && u >= 0 && u == d - 4) {
            const int k = LeadingNumber(QStringView(p).sliced(u + 1, 3));
            if (k + 1 >= 1000)
                return false;
            p = p.left(u) + Numbered(k + 1) + p.sliced(d);
        } else if (d < 0 && u >= 0 && u == p.size() - 4) {
            const int k = LeadingNumber(QStringView(p).sliced(u + 1, 3));
            if (k + 1 >= 1000)
                return false;
            p = p.left(u) + Numbered(k + 1);
        } else if (d < 0) {
            p += Numbered(1);
        } else {
            p = p.left(d) + Numbered(1) + p.sliced(d);
        }
        // A name whose partial file exists is someone else's download.
        if (!PathExists(p) && !PathExists(p + PartialSuffix) && !TargetClaim::isClaimed(p)) {
            path = p;
            return true;
        }
    }
}

std::optional<QString> SafeRelativePath(const QByteArray& wirePath)
{
    const QString text = QString::fromUtf8(wirePath);
    if (text.isEmpty() || text.startsWith(u'\\') || text.startsWith(u'/'))
        return std::nullopt;
    QStringList kept;
    QString unified = text;
    unified.replace(u'\\', u'/');
    const QStringList parts = unified.split(u'/');
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const QString& part = parts.at(i);
        if (part == u"..")
            return std::nullopt;
        if (part.isEmpty() || part == u".")
            continue;
        // A drive letter makes the peer's path absolute, also behind "."
        // parts, which are dropped.
        if (kept.isEmpty() && part.size() == 2 && part.at(1) == u':')
            return std::nullopt;
        kept.append(part);
    }
    if (kept.isEmpty())
        return std::nullopt;
    return kept.join(u'/');
}

QByteArray WireRelativePath(const QString& localRelative)
{
    QString wire = localRelative;
    wire.replace(u'/', u'\\');
    return wire.toUtf8();
}

bool IsUsableName(const QString& name)
{
    return !name.isEmpty() && name != u"." && name != u"..";
}

bool MatchesOwnReceive(const Transfer& offer, const Transfer& row)
{
    return !row.isSend && !offer.savedPath.isEmpty() && row.contactUid == offer.contactUid &&
           row.senderPath.compare(offer.senderPath, Qt::CaseInsensitive) == 0 &&
           row.savedPath == offer.savedPath;
}

OfferDecision DecideOfferAutomatic(const Transfer& offer, bool savedPathTrusted,
                                   const QString& autosaveFolder, const FolderMaker& makeFolders)
{
    OfferDecision decision;
    const auto refuse = [&decision](int code) {
        decision.kind = OfferDecision::Refuse;
        decision.refusalCode = code;
        return decision;
    };

    QString savedPath;
    if (!offer.savedPath.isEmpty() && savedPathTrusted) {
        savedPath = offer.savedPath;
    } else {
        if (autosaveFolder.isEmpty())
            return decision; // Ask
        const QString name = PathNamePart(offer.senderPath);
        if (!IsUsableName(name))
            return refuse(offer.isFolder ? SessionResult::PeerFolderFailed
                                         : SessionResult::PeerCannotWrite);
        savedPath =
            autosaveFolder.endsWith(u'/') ? autosaveFolder + name : autosaveFolder + u'/' + name;
    }

    if (offer.isFolder) {
        // Received data never goes through a link.
        if (IsSymbolicLink(savedPath))
            return refuse(SessionResult::PeerCannotWrite);
        // An existing folder is merged into; its entries are classified one by one.
        if (!MakeFolders(makeFolders, savedPath))
            return refuse(SessionResult::PeerFolderFailed);
        decision.kind = OfferDecision::Accept;
        decision.savedPath = savedPath;
        decision.offset = offer.bytesDone;
        return decision;
    }

    const QString folder = FolderPart(savedPath);
    if (!folder.isEmpty() && !MakeFolders(makeFolders, folder))
        return refuse(SessionResult::PeerFolderFailed);

    const Classification c = Classify(savedPath, offer.totalSize, offer.headCrc);
    uint64_t offset = 0;
    switch (c.code) {
    case TargetClass::NotWritable:
        return refuse(SessionResult::PeerCannotWrite);
    case TargetClass::Identical:
        return refuse(SessionResult::PeerHasFile);
    case TargetClass::Differs:
        if (!AutoRename(savedPath))
            return refuse(SessionResult::PeerRenameFailed);
        break;
    case TargetClass::Resumable:
        offset = c.offset;
        break;
    case TargetClass::New:
    case TargetClass::StalePartial:
        break;
    }
    decision.kind = OfferDecision::Accept;
    decision.savedPath = savedPath;
    decision.offset = offset;
    return decision;
}

QString StripPartialSuffix(const QString& path)
{
    if (path.endsWith(PartialSuffix))
        return path.chopped(PartialSuffix.size());
    return path;
}

PickedPathOutcome DecidePickedPath(const Transfer& offer, const QString& savedPath,
                                   const FolderMaker& makeFolders)
{
    PickedPathOutcome outcome;
    if (!offer.isFolder) {
        const Classification c = Classify(savedPath, offer.totalSize, offer.headCrc);
        outcome.accept = c.code == TargetClass::New;
        outcome.code = c.code;
        outcome.offset = c.offset;
        return outcome;
    }
    outcome.offset = offer.bytesDone;
    const QFileInfo info(savedPath);
    if (IsSymbolicLink(savedPath)) {
        outcome.code = TargetClass::NotWritable;
    } else if (info.isDir()) {
        outcome.code = TargetClass::Resumable;
    } else if (!PathExists(savedPath) && MakeFolders(makeFolders, savedPath)) {
        outcome.accept = true;
        outcome.code = TargetClass::New;
    } else {
        outcome.code = TargetClass::NotWritable;
    }
    return outcome;
}

ResumePromptContent ResumePrompt(TargetClass code, const Transfer& offer, uint64_t offset)
{
    ResumePromptContent c;
    const QString savedName = PathNamePart(offer.savedPath);
    const QString senderName = PathNamePart(offer.senderPath);
    c.senderName = senderName;
    c.folder = offer.isFolder != 0;
    switch (code) {
    case TargetClass::NotWritable:
        c.icon = PromptIcon::Exclamation;
        c.resumeEnabled = false;
        c.overwriteEnabled = false;
        if (offer.isFolder) {
            c.title = QStringLiteral("Directory Creation Failed");
            c.text = QStringLiteral("Could not create the directory you selected, Try another name "
                                    "or path.\n\nFolder: %1")
                         .arg(savedName);
        } else {
            c.title = QStringLiteral("File Not Writeable");
            c.text = QStringLiteral("Cannot Open File For Writing\nIt may be in use by another "
                                    "process.\n\nFile: %1")
                         .arg(savedName);
        }
        break;
    case TargetClass::Identical:
        c.title = QStringLiteral("File Is Identical");
        c.text = QStringLiteral("The selected file and senders file are identical.\n\nFile: %1")
                     .arg(senderName);
        c.icon = PromptIcon::Information;
        c.resumeEnabled = false;
        break;
    case TargetClass::Resumable:
        c.icon = PromptIcon::Question;
        if (offer.isFolder) {
            c.title = QStringLiteral("Resume Folder?");
            c.text = QStringLiteral("The folder already exists, it can be resumed or overwritten "
                                    "with the incoming folder.\n\nFolder: %1")
                         .arg(senderName);
        } else {
            const double percent = offer.totalSize == 0 ? 100.0
                                                        : static_cast<double>(offset) * 100.0 /
                                                              static_cast<double>(offer.totalSize);
            c.title = QStringLiteral("Resume File?");
            c.text = QString::asprintf("The file selected is %.2f%% complete.\n\nFile: ", percent) +
                     senderName;
        }
        break;
    case TargetClass::Differs:
    case TargetClass::StalePartial:
    case TargetClass::New:
        c.title = QStringLiteral("File Already Exist");
        c.text = QStringLiteral("The file you selected already exist.\n\nFile: %1").arg(savedName);
        c.icon = PromptIcon::Information;
        c.resumeEnabled = false;
        break;
    }
    return c;
}

QString AcceptPromptTitle(const Transfer& offer)
{
    return QStringLiteral("Accept %1 Transfer?").arg(KindText(offer));
}

QString AcceptPromptText(const Transfer& offer, const QString& contactName,
                         const QString& contactIp)
{
    const QString kind = KindText(offer);
    return QStringLiteral("Accept %1 Transfer?\n\nFrom:\t\t%2 (%3)\n%1 Name:\t%4\n%1 Size:\t%5")
        .arg(kind, contactName, contactIp, PathNamePart(offer.senderPath), offer.statusText);
}

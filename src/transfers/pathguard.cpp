#include "transfers/pathguard.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray Native(const QString& path)
{
    return QFile::encodeName(path);
}

bool LStat(const QString& path, struct stat& st)
{
    return ::lstat(Native(path).constData(), &st) == 0;
}

} // namespace

namespace {

// Links followed while a missing path is resolved by hand, as the kernel's
// own limit: a loop of links ends here.
constexpr int MaxLinks = 40;

} // namespace

QString LocationOfOpen(int fd)
{
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink(link, buffer, sizeof buffer);
    if (n > 0 && n < ssize_t(sizeof buffer) && buffer[0] == '/')
        return QFile::decodeName(QByteArray(buffer, n));
    return QString();
}

namespace {

QString Locate(const QString& path, int& linksLeft)
{
    QString absolute = path;
    if (!absolute.startsWith(u'/'))
        absolute = QDir::currentPath() + u'/' + absolute;
    // The kernel resolves the whole path in one go (a link before the ".."
    // that climbs out of it) and tells where the result is.
    const int fd = ::open(Native(absolute).constData(), O_PATH | O_CLOEXEC);
    if (fd >= 0) {
        const QString located = LocationOfOpen(fd);
        ::close(fd);
        if (!located.isEmpty())
            return located;
        // Without /proc: the library walks the path itself.
        if (char* real = ::realpath(Native(absolute).constData(), nullptr)) {
            const QString out = QFile::decodeName(real);
            ::free(real);
            return out;
        }
    }
    while (absolute.size() > 1 && absolute.endsWith(u'/'))
        absolute.chop(1);
    const qsizetype slash = absolute.lastIndexOf(u'/');
    if (slash <= 0 && absolute.size() <= 1)
        return QStringLiteral("/");
    // The last part is missing (or cannot be resolved): the rest is located
    // first, then the last part goes behind it.
    const QString head = Locate(slash == 0 ? QStringLiteral("/") : absolute.left(slash), linksLeft);
    const QString last = absolute.sliced(slash + 1);
    if (last == u".")
        return head;
    if (last == u"..") {
        const qsizetype up = head.lastIndexOf(u'/');
        return up <= 0 ? QStringLiteral("/") : head.left(up);
    }
    const QString joined = head.endsWith(u'/') ? head + last : head + u'/' + last;
    // A link that leads nowhere (yet): what is written there lands where it
    // points.
    char target[PATH_MAX];
    const ssize_t n = ::readlink(Native(joined).constData(), target, sizeof target);
    if (n <= 0 || n >= ssize_t(sizeof target) || linksLeft <= 0)
        return joined;
    --linksLeft;
    const QString to = QFile::decodeName(QByteArray(target, n));
    return Locate(to.startsWith(u'/') ? to : head + u'/' + to, linksLeft);
}

} // namespace

QString RealLocation(const QString& path)
{
    int linksLeft = MaxLinks;
    return Locate(path, linksLeft);
}

FolderGuard::FolderGuard(const QString& folder)
    : m_real(folder.isEmpty() ? QString() : RealLocation(folder))
{}

bool FolderGuard::contains(const QString& path) const
{
    return !locateInside(path).isEmpty();
}

bool FolderGuard::holdsLocation(const QString& real) const
{
    return !m_real.isEmpty() &&
           (real == m_real || real.startsWith(m_real.endsWith(u'/') ? m_real : m_real + u'/'));
}

QString FolderGuard::locateInside(const QString& path) const
{
    if (m_real.isEmpty() || path.isEmpty())
        return QString();
    QString p = RealLocation(path);
    return holdsLocation(p) ? p : QString();
}

bool FolderGuard::holdsOpen(int fd, const QString& path) const
{
    if (m_real.isEmpty() || fd < 0)
        return false;
    const QString real = LocationOfOpen(fd);
    // Without /proc: the path, looked up again.
    return real.isEmpty() ? !locateInside(path).isEmpty() : holdsLocation(real);
}

bool IsPathInside(const QString& folder, const QString& path)
{
    return FolderGuard(folder).contains(path);
}

bool PathExists(const QString& path)
{
    struct stat st;
    return LStat(path, st);
}

bool IsSymbolicLink(const QString& path)
{
    struct stat st;
    return LStat(path, st) && S_ISLNK(st.st_mode);
}

FoldersMade MakeFoldersBelowAt(int baseFd, const QString& relative, int& folder)
{
    folder = -1;
    int dir = ::fcntl(baseFd, F_DUPFD_CLOEXEC, 0);
    if (dir < 0)
        return FoldersMade::Failed;
    FoldersMade result = FoldersMade::Made;
    for (const QString& part : relative.split(u'/', Qt::SkipEmptyParts)) {
        if (part == u"." || part == u"..") {
            result = FoldersMade::NotAFolder;
            break;
        }
        const QByteArray name = Native(part);
        if (::mkdirat(dir, name.constData(), 0777) != 0 && errno != EEXIST) {
            result = FoldersMade::Failed;
            break;
        }
        // O_NOFOLLOW: a link put in place of the folder is refused, not entered.
        const int next =
            ::openat(dir, name.constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) {
            result =
                errno == ELOOP || errno == ENOTDIR ? FoldersMade::NotAFolder : FoldersMade::Failed;
            break;
        }
        ::close(dir);
        dir = next;
    }
    if (result == FoldersMade::Made)
        folder = dir;
    else
        ::close(dir);
    return result;
}

int OpenForWriting(const QString& path, bool truncate)
{
    return OpenForWritingAt(AT_FDCWD, Native(path).constData(), truncate);
}

int OpenForWritingAt(int dirFd, const char* name, bool truncate, bool onlyNew)
{
    const int fd = ::openat(dirFd, name,
                            O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC |
                                (onlyNew ? O_EXCL : 0),
                            0666);
    if (fd < 0)
        return -1;
    struct stat st;
    // Only a regular file is written (O_NONBLOCK only kept a pipe from
    // blocking the open; it changes nothing for a file); the lock keeps out
    // every other writer, in this process and in others. An empty file is
    // not truncated: on ext4 a truncation to zero makes the close write the
    // file's data out at once, which costs a disk request per small file.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::flock(fd, LOCK_EX | LOCK_NB) != 0 ||
        (truncate && st.st_size != 0 && ::ftruncate(fd, 0) != 0)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool CanWriteFile(const QString& path)
{
    const int fd =
        ::open(Native(path).constData(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    const bool ok =
        ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return ok;
}

bool RenameNoReplace(const QString& from, const QString& to)
{
    return ::renameat2(AT_FDCWD, Native(from).constData(), AT_FDCWD, Native(to).constData(),
                       RENAME_NOREPLACE) == 0;
}

bool RenameNoReplaceAt(int dirFd, const char* from, const char* to)
{
    return ::renameat2(dirFd, from, dirFd, to, RENAME_NOREPLACE) == 0;
}

QString FolderPart(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    if (slash < 0)
        return QString();
    return slash == 0 ? QStringLiteral("/") : path.left(slash);
}

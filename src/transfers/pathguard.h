#pragma once

#include <QString>

// Where paths really lead, and writes that never follow a link. Every check
// of whether a path lies inside a folder (a peer's request, the folder walk
// of a send, the entry paths of a received folder, share browsing) goes
// through IsPathInside.

// The real location of path: absolute, symbolic links resolved, "." and
// ".." removed. A path whose end does not exist yet keeps its missing part,
// cleaned, behind the real location of its deepest existing folder.
QString RealLocation(const QString& path);

// Where the file or folder open at fd lies, as the kernel tells it; empty
// when the system does not tell (no /proc).
QString LocationOfOpen(int fd);

// True when path is folder itself or lies below it, both taken at their
// real locations.
bool IsPathInside(const QString& folder, const QString& path);

// The folder part of a path ("a/b" of "a/b/c", "/" of "/c"), "" when it has
// none.
QString FolderPart(const QString& path);

// The same check with the folder's real location looked up once, for many
// paths below one folder. The folder is taken as it is at construction.
class FolderGuard
{
public:
    explicit FolderGuard(const QString& folder);
    bool contains(const QString& path) const;
    // The real location of path when it lies inside the folder, else an
    // empty string: one lookup for the check and whatever needs the result.
    QString locateInside(const QString& path) const;
    // Whether the file open at fd, opened from path, lies inside the folder:
    // the check is made on what was opened, so a link put in place of path
    // (or of a folder on its way) afterwards changes nothing.
    bool holdsOpen(int fd, const QString& path) const;
    // Whether a real location (links already resolved) lies inside.
    bool holdsLocation(const QString& real) const;

private:
    QString m_real;
};

// Something is at path, even a symbolic link that leads nowhere.
bool PathExists(const QString& path);

// A symbolic link is at path (it is not followed).
bool IsSymbolicLink(const QString& path);

enum class FoldersMade { Made, NotAFolder, Failed };

// Makes every missing folder of relative (a '/'-separated path without ".."
// parts) below the folder open at baseFd and leaves the last one open in
// folder. A link, or anything but a folder, met on the way is never
// followed: NotAFolder. Failed when a folder cannot be made or opened.
FoldersMade MakeFoldersBelowAt(int baseFd, const QString& relative, int& folder);

// Opens a regular file for writing without following a link at its place,
// creating it when missing, and takes an exclusive lock on it. truncate
// cuts it to nothing. -1 when the place holds a link or anything but a
// regular file, or when another writer holds the lock.
int OpenForWriting(const QString& path, bool truncate);
// The same for name in the folder open at dirFd.
// onlyNew: fails when anything is at name already.
int OpenForWritingAt(int dirFd, const char* name, bool truncate, bool onlyNew = false);

// Whether the existing regular file at path could be written right now: not
// a link, opens for writing, and nobody else holds its write lock. Nothing
// is changed.
bool CanWriteFile(const QString& path);

// Renames from to to unless something is at to already. False on any
// failure, also when to is taken.
bool RenameNoReplace(const QString& from, const QString& to);
// The same for two names in the folder open at dirFd.
bool RenameNoReplaceAt(int dirFd, const char* from, const char* to);

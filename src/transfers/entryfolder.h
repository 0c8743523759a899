#pragma once

#include "transfers/filehandle.h"
#include "transfers/pathguard.h"

#include <QString>

// The folder of a received folder where its entries are written, kept open.
// Entries of one folder arrive one after another, so the folders on the way
// are made and looked up once for all of them, and each file is then looked
// at, created and renamed by its name in the open folder: nothing on the way
// is a link (none is followed), so where the file lands is known without
// asking the disk again.
class EntryFolder
{
public:
    // Opens folder relative ('/'-separated, without "." or ".." parts; empty
    // for root itself) below root, making what is missing. NotAFolder when a
    // link or a file stands in the way, or root itself is not inside guard's
    // folder; Failed when root cannot be opened or a folder cannot be made.
    FoldersMade open(const FolderGuard& guard, const QString& root, const QString& relative);

    // Whether the folder open now is relative below root.
    bool holds(const QString& root, const QString& relative) const
    {
        return m_folder.isOpen() && relative == m_relative && root == m_rootPath;
    }

    // The open folder, -1 when none is.
    int fd() const { return m_folder.get(); }
    // Its real location.
    const QString& location() const { return m_location; }

private:
    FileHandle m_root;
    QString m_rootPath;
    QString m_rootLocation;
    FileHandle m_folder;
    QString m_relative;
    QString m_location;
};

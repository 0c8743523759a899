#include "transfers/entryfolder.h"

#include <QFile>

#include <fcntl.h>

FoldersMade EntryFolder::open(const FolderGuard& guard, const QString& root,
                              const QString& relative)
{
    if (holds(root, relative))
        return FoldersMade::Made;
    m_folder.reset();
    m_location.clear();
    if (!m_root.isOpen() || root != m_rootPath) {
        m_rootLocation.clear();
        m_rootPath = root;
        m_root.reset(::open(QFile::encodeName(root).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!m_root.isOpen())
            return FoldersMade::Failed;
        // Where the folder opened really is, not where its path led before.
        m_rootLocation = LocationOfOpen(m_root.get());
        if (m_rootLocation.isEmpty())
            m_rootLocation = RealLocation(root);
        if (!guard.holdsLocation(m_rootLocation)) {
            m_root.reset();
            return FoldersMade::NotAFolder;
        }
    }
    int folder = -1;
    const FoldersMade made = MakeFoldersBelowAt(m_root.get(), relative, folder);
    if (made != FoldersMade::Made)
        return made;
    m_folder.reset(folder);
    m_relative = relative;
    m_location = relative.isEmpty()              ? m_rootLocation
                 : m_rootLocation.endsWith(u'/') ? m_rootLocation + relative
                                                 : m_rootLocation + u'/' + relative;
    return made;
}

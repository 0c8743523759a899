#include "shell/fileicons.h"

#include <QApplication>
#include <QHash>
#include <QMimeDatabase>
#include <QStyle>

namespace {

QIcon themed(const QStringList& names)
{
    // Without a desktop session no theme is chosen; the common one serves.
    static const bool fallbackSet = [] {
        if (QIcon::fallbackThemeName().isEmpty() || QIcon::fallbackThemeName() == u"hicolor")
            QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
        return true;
    }();
    Q_UNUSED(fallbackSet);
    for (const QString& name : names) {
        if (!name.isEmpty() && QIcon::hasThemeIcon(name))
            return QIcon::fromTheme(name);
    }
    return QIcon();
}

} // namespace

QIcon FileTypeIcon(const QString& name, bool folder)
{
    static QHash<QString, QIcon> cache;
    if (folder) {
        static const QIcon folderIcon = [] {
            const QIcon icon = themed({QStringLiteral("folder")});
            return icon.isNull() ? QApplication::style()->standardIcon(QStyle::SP_DirIcon) : icon;
        }();
        return folderIcon;
    }
    static const QMimeDatabase mimes;
    const QMimeType type = mimes.mimeTypeForFile(name, QMimeDatabase::MatchExtension);
    const auto it = cache.constFind(type.name());
    if (it != cache.constEnd())
        return *it;
    QIcon icon = themed({type.iconName(), type.genericIconName(), QStringLiteral("text-x-generic"),
                         QStringLiteral("unknown")});
    if (icon.isNull())
        icon = QApplication::style()->standardIcon(QStyle::SP_FileIcon);
    cache.insert(type.name(), icon);
    return icon;
}

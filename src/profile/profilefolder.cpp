#include "profile/profilefolder.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

QString DataRoot(const QString& explicitRoot)
{
    if (!explicitRoot.isEmpty())
        return explicitRoot;
    const QString fromEnv = qEnvironmentVariable("ZEPHLINK_HOME");
    if (!fromEnv.isEmpty())
        return fromEnv;
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
}

QString ProfileUserName()
{
    QString home = qEnvironmentVariable("HOME");
    while (home.size() > 1 && home.endsWith(QLatin1Char('/')))
        home.chop(1);
    const QString name = home.mid(home.lastIndexOf(QLatin1Char('/')) + 1);
    // A home of "/" or none at all still needs a folder name.
    return name.isEmpty() ? QStringLiteral("default") : name;
}

QString ProfileFolder(const QString& explicitRoot)
{
    QString root = DataRoot(explicitRoot);
    while (root.size() > 1 && root.endsWith(QLatin1Char('/')))
        root.chop(1);
    return root + QStringLiteral("/Profiles/") + ProfileUserName() + QLatin1Char('/');
}

namespace {

bool makeLevel(const QString& level)
{
    constexpr int ExtraAttempts = 3;
    for (int attempt = 0;; ++attempt) {
        if (QDir().mkdir(level))
            return true;
        // Someone else may have made it meanwhile.
        if (QFileInfo(level).isDir())
            return true;
        // Tried again at once: this runs on the main thread, which must not
        // sleep.
        if (attempt == ExtraAttempts)
            return false;
    }
}

} // namespace

bool CreateFolderPath(const QString& path)
{
    QString p = path;
    while (p.size() > 1 && p.endsWith(QLatin1Char('/')))
        p.chop(1);
    if (p.isEmpty())
        return false;
    if (QFileInfo(p).isDir())
        return true;

    // An absolute path's first component is "/", which always exists.
    for (qsizetype i = 1; i <= p.size(); ++i) {
        if (i < p.size() && p[i] != QLatin1Char('/'))
            continue;
        if (p[i - 1] == QLatin1Char('/'))
            continue;
        const QString level = p.left(i);
        if (!QFileInfo::exists(level) && !makeLevel(level))
            return false;
    }
    // A file standing where the folder should be is a failure, not a success.
    return QFileInfo(p).isDir();
}

#include "profile/autostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace Autostart {

namespace {

// Inside a quoted Exec argument '"', '`', '$' and '\' take a backslash;
// '%' starts a field code and is doubled.
QString quotedArgument(const QString& text)
{
    QString out;
    out.reserve(text.size() + 2);
    out += QLatin1Char('"');
    for (const QChar c : text) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            out += QLatin1Char('\\');
        else if (c == u'%')
            out += QLatin1Char('%');
        out += c;
    }
    out += QLatin1Char('"');
    return out;
}

// The key file itself escapes backslashes and line breaks in values.
QString keyFileValue(const QString& value)
{
    QString out;
    for (const QChar c : value) {
        if (c == u'\\')
            out += QStringLiteral("\\\\");
        else if (c == u'\n')
            out += QStringLiteral("\\n");
        else if (c == u'\r')
            out += QStringLiteral("\\r");
        else
            out += c;
    }
    return out;
}

QString keyFileUnescape(QStringView value)
{
    QString out;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] != u'\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        const QChar next = value[++i];
        if (next == u'n')
            out += QLatin1Char('\n');
        else if (next == u'r')
            out += QLatin1Char('\r');
        else if (next == u't')
            out += QLatin1Char('\t');
        else if (next == u's')
            out += QLatin1Char(' ');
        else
            out += next;
    }
    return out;
}

} // namespace

QString filePath()
{
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || !QDir::isAbsolutePath(config))
        config = QDir::homePath() + QStringLiteral("/.config");
    return QDir(config).filePath(QStringLiteral("autostart/zlk6.desktop"));
}

QString execLine(const QString& programPath)
{
    return quotedArgument(programPath) + QStringLiteral(" -m");
}

QString storedExecLine()
{
    QFile file(filePath());
    // An autostart entry is a few lines; anything large is not ours.
    if (!file.open(QIODevice::ReadOnly) || file.size() > 64 * 1024)
        return QString();
    const QString text = QString::fromUtf8(file.readAll());
    bool inEntry = false;
    for (QStringView line : QStringView(text).split(u'\n')) {
        line = line.trimmed();
        if (line.startsWith(u'[')) {
            inEntry = line == u"[Desktop Entry]";
            continue;
        }
        if (!inEntry || !line.startsWith(u"Exec"))
            continue;
        const QStringView rest = line.mid(4).trimmed();
        if (rest.startsWith(u'='))
            return keyFileUnescape(rest.mid(1).trimmed());
    }
    return QString();
}

bool ReadEntry(const QString& programPath)
{
    const QString stored = storedExecLine();
    if (stored.isEmpty())
        return false;
    if (stored.compare(execLine(programPath), Qt::CaseInsensitive) == 0)
        return true;
    // The entry starts another program file (this one moved): it goes.
    QFile::remove(filePath());
    return false;
}

bool WriteEntry(const QString& programPath, bool on)
{
    const QString path = filePath();
    if (!on)
        return !QFileInfo::exists(path) || QFile::remove(path);
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QString text = QStringLiteral("[Desktop Entry]\n"
                                        "Type=Application\n"
                                        "Name=Zephlink P2P\n"
                                        "Comment=Start Zephlink P2P hidden in the tray\n"
                                        "Exec=") +
                         keyFileValue(execLine(programPath)) +
                         QStringLiteral("\n"
                                        "Icon=zephlink\n"
                                        "Terminal=false\n"
                                        "X-GNOME-Autostart-enabled=true\n");
    file.write(text.toUtf8());
    return file.commit();
}

} // namespace Autostart

#include "shell/contactlabels.h"

#include <QDateTime>
#include <QLocale>

namespace ContactText {

QString label(const Contact& c, bool showAddress)
{
    const QString name = DisplayName(c);
    const QString address = c.dns.text().isEmpty() ? c.ip.text() : c.dns.text();
    QString suffix;
    if (c.status == StatusAwayMessage && !c.awayMessage.text().isEmpty())
        suffix = QStringLiteral(" - %1").arg(c.awayMessage.text());
    else if (c.status == StatusAway)
        suffix = QStringLiteral(" - Away");
    if (showAddress)
        return QStringLiteral("%1 (%2)%3").arg(name, address, suffix);
    return name + suffix;
}

QString line(const Contact& c)
{
    if (!c.dns.text().isEmpty())
        return QStringLiteral("%1 (%2,%3:%4)")
            .arg(DisplayName(c), c.dns.text(), c.ip.text())
            .arg(c.port);
    return QStringLiteral("%1 (%2:%3)").arg(DisplayName(c), c.ip.text()).arg(c.port);
}

namespace {
QString timeText(quint32 t)
{
    if (t == 0)
        return QStringLiteral("(empty)");
    // "%a %m/%d/%y %I:%M:%S %p" in the C locale's names.
    const QDateTime dt = QDateTime::fromSecsSinceEpoch(t);
    return QLocale::c().toString(dt, QStringLiteral("ddd MM/dd/yy hh:mm:ss AP"));
}
} // namespace

QString duration(qint64 seconds)
{
    if (seconds < 0)
        seconds = 0;
    const qint64 days = seconds / 86400;
    const qint64 hours = seconds % 86400 / 3600;
    const qint64 minutes = seconds % 3600 / 60;
    return QStringLiteral("days:%1 hr:%2 min:%3 sec:%4")
        .arg(days)
        .arg(hours)
        .arg(minutes)
        .arg(seconds % 60);
}

QString properties(const Contact& c, quint32 now)
{
    const bool connected = c.sessionThread != 0;
    const quint32 end = connected ? now : c.disconnectTime;
    const QString disconnect = c.disconnectTime == 0
                                   ? QStringLiteral("Contact has never disconnected")
                                   : timeText(c.disconnectTime);
    return QStringLiteral("Contact Name:\t\t%1\nAlias Name:\t\t%2\nIP:\t\t\t%3\nDNS:\t\t\t%4\n"
                          "Port:\t\t\t%5\nEncryption Key:\t\t%6\nConnect Time:\t\t%7\n"
                          "Disconnect Time:\t%8\nConnected Duration:\t%9")
        .arg(c.name.text(), c.alias.text().isEmpty() ? QStringLiteral("(none)") : c.alias.text(),
             c.ip.text(), c.dns.text().isEmpty() ? QStringLiteral("(none)") : c.dns.text(),
             QString::number(c.port), c.key.text(), timeText(c.connectTime), disconnect,
             duration(qint64(end) - qint64(c.connectTime)));
}

int searchRow(const QStringList& names, int start, QChar key)
{
    const int n = int(names.size());
    if (n == 0)
        return -1;
    for (int step = 1; step <= n; ++step) {
        const int row = ((start < 0 ? -1 : start) + step) % n;
        if (names.at(row).startsWith(key, Qt::CaseInsensitive))
            return row;
    }
    return -1;
}

std::optional<int> portEntry(const QString& text)
{
    bool ok = false;
    const int port = text.trimmed().toInt(&ok);
    if (!ok || port < 1 || port > 65535)
        return std::nullopt;
    return port;
}

bool keyEntryValid(const QString& text)
{
    return text.size() >= 9;
}

} // namespace ContactText

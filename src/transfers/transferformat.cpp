#include "transfers/transferformat.h"

#include <ctime>

namespace {

struct Unit
{
    double threshold;
    const char* sizeFormat;
    const char* speedFormat;
};

// Largest unit first; each applies from its own size on.
constexpr Unit Units[] = {
    {1152921504606846976.0, "%.2f EB", "%.2f EB/s"}, // 2^60
    {1125899906842624.0, "%.2f PB", "%.2f PB/s"},    // 2^50
    {1099511627776.0, "%.2f TB", "%.2f TB/s"},       // 2^40
    {1073741824.0, "%.2f GB", "%.2f GB/s"},          // 2^30
    {1048576.0, "%.2f MB", "%.2f MB/s"},             // 2^20
    {1024.0, "%.2f KB", "%.2f KB/s"},
};

QString FormatScaled(double value, bool speed)
{
    for (const Unit& unit : Units) {
        if (value >= unit.threshold)
            return QString::asprintf(speed ? unit.speedFormat : unit.sizeFormat,
                                     value / unit.threshold);
    }
    return QString::asprintf(speed ? "%.0f B/s" : "%.0f bytes", value);
}

} // namespace

QString FormatSize(uint64_t bytes)
{
    return FormatScaled(static_cast<double>(bytes), false);
}

QString FormatSpeed(double bytesPerSecond)
{
    return FormatScaled(bytesPerSecond, true);
}

QString FormatTimestamp(int64_t secondsSince1970)
{
    if (secondsSince1970 == 0)
        return QStringLiteral("(empty)");
    // Names are fixed English ones whatever the user's locale is.
    static const char* const Days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    const time_t t = static_cast<time_t>(secondsSince1970);
    tm local{};
    if (!localtime_r(&t, &local))
        return QString();
    const int hour12 = local.tm_hour % 12 == 0 ? 12 : local.tm_hour % 12;
    return QString::asprintf("%s %02d/%02d/%02d %02d:%02d:%02d %s", Days[local.tm_wday % 7],
                             local.tm_mon + 1, local.tm_mday, local.tm_year % 100, hour12,
                             local.tm_min, local.tm_sec, local.tm_hour < 12 ? "AM" : "PM");
}

QString FormatDuration(int64_t seconds)
{
    const int64_t days = seconds >= 86400 ? seconds / 86400 : 0;
    seconds -= days * 86400;
    const int64_t hours = seconds >= 3600 ? seconds / 3600 : 0;
    seconds -= hours * 3600;
    const int64_t minutes = seconds >= 60 ? seconds / 60 : 0;
    seconds -= minutes * 60;
    return QString::asprintf("days:%lld hr:%lld min:%lld sec:%lld", static_cast<long long>(days),
                             static_cast<long long>(hours), static_cast<long long>(minutes),
                             static_cast<long long>(seconds));
}

QString PropertiesText(const Transfer& t, const QString& contactName, int64_t now)
{
    QString transfered;
    if (t.sizeUnknown && t.bytesDone == 0)
        transfered = QStringLiteral("Calculating...");
    else if (t.sizeUnknown)
        transfered = QStringLiteral("%1 of ?").arg(FormatSize(t.bytesDone));
    else if (t.bytesDone == 0)
        transfered = FormatSize(t.totalSize);
    else
        transfered =
            QStringLiteral("%1 of %2").arg(FormatSize(t.bytesDone), FormatSize(t.totalSize));

    QString progress;
    if (t.sizeUnknown)
        progress = QStringLiteral("Calculating...");
    else
        progress = QString::asprintf("%.2f%%", t.totalSize == 0
                                                   ? 100.0
                                                   : static_cast<double>(t.bytesDone) * 100.0 /
                                                         static_cast<double>(t.totalSize));

    // While the transfer runs the clock is still going.
    const int64_t end = t.stopTime != 0 ? t.stopTime : now;
    QString speed;
    QString duration;
    if (t.startTime == 0) {
        speed = QStringLiteral("0 KB/s");
        duration = QStringLiteral("(transfer has not started)");
    } else {
        const int64_t elapsed = end - t.startTime;
        speed = FormatSpeed(static_cast<double>(t.bytesDone) /
                            static_cast<double>(qMax<int64_t>(elapsed, 1)));
        duration = FormatDuration(elapsed);
    }

    QString text;
    text += QStringLiteral("Transfer Status:\t\t%1\n").arg(TransferStateText(t.state));
    text += QStringLiteral("Transfered Data:\t%1\n").arg(transfered);
    text += QStringLiteral("Current Progress:\t%1\n").arg(progress);
    text += QStringLiteral("Average Speed:\t\t%1\n").arg(speed);
    text += QStringLiteral("File or Folder:\t\t%1\n")
                .arg(t.isFolder ? QStringLiteral("Folder") : QStringLiteral("File"));
    text += QStringLiteral("Contact Name:\t\t%1\n").arg(contactName);
    text += QStringLiteral("Senders Path:\t\t%1\n").arg(t.senderPath);
    text += QStringLiteral("Saved Path:\t\t%1\n").arg(t.savedPath);
    text += QStringLiteral("Queue Time:\t\t%1\n").arg(FormatTimestamp(t.queueTime));
    text += QStringLiteral("Connect Try Time:\t%1\n").arg(FormatTimestamp(t.connectTryTime));
    text += QStringLiteral("Transfer Started:\t%1\n").arg(FormatTimestamp(t.startTime));
    text += QStringLiteral("Transfer Stopped:\t%1\n").arg(FormatTimestamp(t.stopTime));
    text += QStringLiteral("Transfer Duration:\t%1\n").arg(duration);
    return text;
}

const QList<TransferColumn>& TransferColumns()
{
    static const QList<TransferColumn> columns = {
        {QStringLiteral("File / Folder Name"), 200, ColumnAlign::Left},
        {QStringLiteral("Size"), 120, ColumnAlign::Left},
        {QStringLiteral("Type"), 40, ColumnAlign::Right},
        {QStringLiteral("Contact"), 120, ColumnAlign::Left},
        {QStringLiteral("Speed"), 70, ColumnAlign::Left},
        {QStringLiteral("ETA / Status"), 120, ColumnAlign::Left},
        {QStringLiteral("Progress"), 100, ColumnAlign::Center},
    };
    return columns;
}

QList<int> TransferColumnWidths(const QList<int32_t>& stored)
{
    QList<int> widths;
    const QList<TransferColumn>& columns = TransferColumns();
    for (int i = 0; i < columns.size(); ++i) {
        const int kept = i < stored.size() ? int(uint32_t(stored[i]) & 0xFFFFu) : 0;
        widths.append(kept > 0 ? kept : columns[i].width);
    }
    return widths;
}

QString OfferSizeText(const Transfer& t)
{
    return t.sizeUnknown ? QStringLiteral("Calculating...") : FormatSize(t.totalSize);
}

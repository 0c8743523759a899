#include "chatlines.h"

#include "rtfwriter.h"

namespace ChatLines {

namespace {

const char* const DayNames[7] = {"Monday", "Tuesday",  "Wednesday", "Thursday",
                                 "Friday", "Saturday", "Sunday"};

QString twoDigits(int v)
{
    return QString::number(v).rightJustified(2, u'0');
}

QByteArray prefix(bool paneHasText)
{
    return paneHasText ? QByteArrayLiteral("\\par") : QByteArray();
}

} // namespace

QString TimeStamp(const QDateTime& when)
{
    const QDateTime local = when.toLocalTime();
    const QTime t = local.time();
    const QDate d = local.date();
    const int hour12 = t.hour() % 12 == 0 ? 12 : t.hour() % 12;
    return u'(' + twoDigits(hour12) + u':' + twoDigits(t.minute()) + u':' + twoDigits(t.second()) +
           u' ' + (t.hour() < 12 ? QStringLiteral("AM") : QStringLiteral("PM")) +
           QStringLiteral(") ") + QLatin1String(DayNames[d.dayOfWeek() - 1]) + u' ' +
           twoDigits(d.month()) + u'/' + twoDigits(d.day()) + u'/' + twoDigits(d.year() % 100);
}

QByteArray OwnLineHeader(bool paneHasText, const QString& sender, const QString& recipients,
                         const QString& timeStamp)
{
    return QByteArrayLiteral("{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1033{\\fonttbl{\\f0\\fnil"
                             "\\fcharset0 Verdana;}{\\f1\\froman\\fprq2\\fcharset2 Webdings;}}"
                             "{\\colortbl ;\\red70\\green171\\blue70;\\red0\\green0\\blue0;}"
                             "\\viewkind4\\uc1\\pard\\cf1\\b\\f0\\fs20") +
           prefix(paneHasText) + ' ' + RtfEscapeText(sender) + " \\f1 4\\f0  " +
           RtfEscapeText(recipients) + ":\\cf2\\b0\\fs16  " + RtfEscapeText(timeStamp) + "\\par}";
}

QByteArray QueuedNotice()
{
    return QByteArrayLiteral("{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1033{\\fonttbl{\\f0\\fnil"
                             "\\fcharset0 Verdana;}}{\\colortbl ;\\red255\\green0\\blue0;}"
                             "\\viewkind4\\uc1\\pard\\cf1\\f0\\fs16 An Offline Message was "
                             "Queued\\par\r\n}");
}

QByteArray PeerLineHeader(bool paneHasText, const QString& sender, const QString& timeStamp)
{
    return QByteArrayLiteral("{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1033{\\fonttbl{\\f0\\fnil"
                             "\\fcharset0 Verdana;}}"
                             "{\\colortbl ;\\red0\\green85\\blue229;\\red0\\green0\\blue0;}"
                             "\\viewkind4\\uc1\\pard\\cf1\\b\\f0\\fs20") +
           prefix(paneHasText) + ' ' + RtfEscapeText(sender) + ":\\cf2\\b0\\fs16  " +
           RtfEscapeText(timeStamp) + "\\par}";
}

QByteArray QueuedPieceHeader(const QString& timeStamp)
{
    return QByteArrayLiteral("{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1033{\\fonttbl{\\f0\\fnil"
                             "\\fcharset0 Verdana;}}{\\colortbl ;\\red255\\green0\\blue0;}"
                             "\\viewkind4\\uc1\\pard\\cf1\\f0\\fs16 Offline Message sent at: "
                             "\\cf0 ") +
           RtfEscapeText(timeStamp) + RtfDocumentEnd;
}

QByteArray QueuedPiece(const QString& timeStamp, const QByteArray& message)
{
    return QueuedPieceHeader(timeStamp) + message;
}

QList<QByteArray> SplitQueueDocuments(const QByteArray& queue)
{
    static const QByteArray separator(RtfDocumentEnd);
    QList<QByteArray> documents;
    qsizetype start = 0;
    for (;;) {
        const qsizetype at = queue.indexOf(separator, start);
        if (at < 0)
            break;
        const qsizetype end = at + separator.size();
        documents.append(queue.mid(start, end - start));
        start = end;
    }
    const QByteArray rest = queue.mid(start);
    if (!rest.trimmed().isEmpty())
        documents.append(rest);
    return documents;
}

} // namespace ChatLines

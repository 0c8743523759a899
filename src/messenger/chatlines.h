#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

// The RTF pieces that frame every line of a chat history pane and every piece
// of an offline queue. Each line header is its own small document, streamed in
// before the message document. A header's first bytes are the paragraph
// prefix: "\par" when the pane already holds text, so the first line of an
// empty pane starts without an empty paragraph.
namespace ChatLines {

// Local time as "(%I:%M:%S %p) %A %m/%d/%y", with English day names whatever the locale.
QString TimeStamp(const QDateTime& when);

// Bold green "sender [arrow] recipients:" then the time stamp in black.
QByteArray OwnLineHeader(bool paneHasText, const QString& sender, const QString& recipients,
                         const QString& timeStamp);

// The red notice that follows the own line header when the message was queued.
QByteArray QueuedNotice();

// Bold blue "sender:" then the time stamp in black.
QByteArray PeerLineHeader(bool paneHasText, const QString& sender, const QString& timeStamp);

// The document that starts one piece of an offline queue; the message document follows it.
QByteArray QueuedPieceHeader(const QString& timeStamp);
// One queue piece: the header, then the message.
QByteArray QueuedPiece(const QString& timeStamp, const QByteArray& message);

// Splits a queue into its documents, each up to and including the document
// end; a rest without one is the last document, unless it is only white space.
QList<QByteArray> SplitQueueDocuments(const QByteArray& queue);

} // namespace ChatLines

#pragma once

#include "richtext.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

// A chat history pane without a window: the main window's conversation pane
// and each contact's chat history. Documents are streamed in at the end; the
// pane keeps only its latest MaxCharacters characters.
class ChatHistory
{
public:
    static constexpr int MaxCharacters = 10000;

    // An empty text clears the pane; otherwise the document's text continues
    // the pane's last paragraph, and the oldest characters beyond
    // MaxCharacters are dropped, possibly in the middle of a line.
    void StreamInAtEnd(const QByteArray& rtf);
    // The same for a document already read (messages are read once and then
    // go into several panes).
    void StreamInAtEnd(const RichText& document);

    // The own line addressed to recipients, then the message.
    void AppendOwnLine(const QString& sender, const QString& recipients, const QByteArray& message,
                       const QDateTime& when = QDateTime::currentDateTime());
    // The own line, the notice that the message was queued, then the message.
    void AppendQueuedOwnLine(const QString& sender, const QString& recipients,
                             const QByteArray& message,
                             const QDateTime& when = QDateTime::currentDateTime());
    void AppendOwnLine(const QString& sender, const QString& recipients, const RichText& message,
                       const QDateTime& when = QDateTime::currentDateTime());
    void AppendQueuedOwnLine(const QString& sender, const QString& recipients,
                             const RichText& message,
                             const QDateTime& when = QDateTime::currentDateTime());
    // The peer line, then the message.
    void AppendPeerLine(const QString& sender, const QByteArray& message,
                        const QDateTime& when = QDateTime::currentDateTime());
    void AppendPeerLine(const QString& sender, const RichText& message,
                        const QDateTime& when = QDateTime::currentDateTime());
    // The peer line, then every document of a received offline queue in turn.
    void AppendQueuedPeerLines(const QString& sender, const QByteArray& queueText,
                               const QDateTime& when = QDateTime::currentDateTime());

    // The whole pane as one document; an empty pane gives an empty text.
    QByteArray GetRtf() const;
    // The latest part of the pane that fits in maxBytes as a document (oldest
    // characters dropped first); empty when not even an empty document fits.
    // Stored histories are bounded so that the profile reader accepts them.
    QByteArray rtfBounded(int maxBytes) const;
    // Replaces the content with a stored document; an empty text clears.
    void setRtf(const QByteArray& rtf);

    void Clear();

    QString plainText() const { return m_text.plainText(); }
    int characterCount() const { return m_text.characterCount(); }
    bool isEmpty() const { return m_text.isEmpty(); }
    const RichText& content() const { return m_text; }
    // Characters the limit has dropped from the front so far (a pane showing
    // the history drops as many from its own front).
    qint64 droppedCharacters() const { return m_dropped; }

private:
    RichText m_text;
    qint64 m_dropped = 0;
};

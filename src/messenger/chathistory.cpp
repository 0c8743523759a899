#include "chathistory.h"

#include "chatlines.h"
#include "rtfreader.h"
#include "rtfwriter.h"

void ChatHistory::StreamInAtEnd(const QByteArray& rtf)
{
    if (rtf.isEmpty()) {
        Clear();
        return;
    }
    StreamInAtEnd(RtfReader::read(rtf));
}

void ChatHistory::StreamInAtEnd(const RichText& document)
{
    m_text.append(document);
    const int before = m_text.characterCount();
    if (before > MaxCharacters) {
        m_text.removeLeading(before - MaxCharacters);
        m_dropped += before - m_text.characterCount();
    }
}

void ChatHistory::AppendOwnLine(const QString& sender, const QString& recipients,
                                const QByteArray& message, const QDateTime& when)
{
    AppendOwnLine(sender, recipients, RtfReader::read(message), when);
}

void ChatHistory::AppendOwnLine(const QString& sender, const QString& recipients,
                                const RichText& message, const QDateTime& when)
{
    StreamInAtEnd(
        ChatLines::OwnLineHeader(!isEmpty(), sender, recipients, ChatLines::TimeStamp(when)));
    StreamInAtEnd(message);
}

void ChatHistory::AppendQueuedOwnLine(const QString& sender, const QString& recipients,
                                      const QByteArray& message, const QDateTime& when)
{
    AppendQueuedOwnLine(sender, recipients, RtfReader::read(message), when);
}

void ChatHistory::AppendQueuedOwnLine(const QString& sender, const QString& recipients,
                                      const RichText& message, const QDateTime& when)
{
    StreamInAtEnd(
        ChatLines::OwnLineHeader(!isEmpty(), sender, recipients, ChatLines::TimeStamp(when)));
    StreamInAtEnd(ChatLines::QueuedNotice());
    StreamInAtEnd(message);
}

void ChatHistory::AppendPeerLine(const QString& sender, const QByteArray& message,
                                 const QDateTime& when)
{
    AppendPeerLine(sender, RtfReader::read(message), when);
}

void ChatHistory::AppendPeerLine(const QString& sender, const RichText& message,
                                 const QDateTime& when)
{
    StreamInAtEnd(ChatLines::PeerLineHeader(!isEmpty(), sender, ChatLines::TimeStamp(when)));
    StreamInAtEnd(message);
}

void ChatHistory::AppendQueuedPeerLines(const QString& sender, const QByteArray& queueText,
                                        const QDateTime& when)
{
    StreamInAtEnd(ChatLines::PeerLineHeader(!isEmpty(), sender, ChatLines::TimeStamp(when)));
    for (const QByteArray& document : ChatLines::SplitQueueDocuments(queueText))
        StreamInAtEnd(document);
}

QByteArray ChatHistory::GetRtf() const
{
    if (isEmpty())
        return QByteArray();
    return RtfWriter::write(m_text);
}

QByteArray ChatHistory::rtfBounded(int maxBytes) const
{
    QByteArray whole = GetRtf();
    if (whole.size() <= maxBytes)
        return whole;
    auto withoutOldest = [this](int count) {
        RichText t = m_text;
        t.removeLeading(count);
        return t.isEmpty() ? QByteArray() : RtfWriter::write(t);
    };
    // Fewest dropped characters that fit; a document shrinks as characters go
    // (up to a few bytes of format codes), so halving finds a fitting cut.
    int low = 0;                        // does not fit
    int high = m_text.characterCount(); // fits: nothing left
    QByteArray best;
    while (high - low > 1) {
        const int mid = low + (high - low) / 2;
        QByteArray candidate = withoutOldest(mid);
        if (candidate.size() <= maxBytes) {
            high = mid;
            best = std::move(candidate);
        } else {
            low = mid;
        }
    }
    return best.size() <= maxBytes ? best : QByteArray();
}

void ChatHistory::setRtf(const QByteArray& rtf)
{
    Clear();
    StreamInAtEnd(rtf);
}

void ChatHistory::Clear()
{
    m_text.clear();
}

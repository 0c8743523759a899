#include "richtext.h"

RichFormat RichFormat::chatDefault()
{
    RichFormat f;
    f.face = DefaultFace;
    f.halfPoints = 28;
    f.color = 0x000000;
    return f;
}

QString RichParagraph::text() const
{
    QString s;
    s.reserve(length());
    for (const RichRun& run : runs)
        s += run.text;
    return s;
}

int RichParagraph::length() const
{
    int n = 0;
    for (const RichRun& run : runs)
        n += run.text.size();
    return n;
}

RichText::RichText() : m_paragraphs(1) {}

RichText RichText::fromPlainText(const QString& text, const RichFormat& format)
{
    RichText doc;
    qsizetype start = 0;
    const qsizetype n = text.size();
    auto addLine = [&](qsizetype end) {
        const QString line = text.mid(start, end - start);
        if (line.isEmpty())
            doc.m_paragraphs.last().runs.append(RichRun{QString(), format}); // keeps the format
        else
            doc.appendText(line, format);
    };
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (c == u'\n' || c == u'\r' || c == QChar::ParagraphSeparator) {
            addLine(i);
            doc.breakParagraph();
            if (c == u'\r' && i + 1 < n && text.at(i + 1) == u'\n')
                ++i;
            start = i + 1;
        }
    }
    // The last line ends with a paragraph break too, as in a message input.
    addLine(n);
    doc.breakParagraph();
    return doc;
}

void RichText::appendText(const QString& text, const RichFormat& format)
{
    if (text.isEmpty())
        return;
    QList<RichRun>& runs = m_paragraphs.last().runs;
    if (!runs.isEmpty() && runs.last().text.isEmpty())
        runs.removeLast(); // a format-only placeholder gives way to real text
    if (!runs.isEmpty() && runs.last().format == format)
        runs.last().text += text;
    else
        runs.append(RichRun{text, format});
    m_characterCount += int(text.size());
}

void RichText::breakParagraph()
{
    m_paragraphs.append(RichParagraph());
    ++m_characterCount;
}

void RichText::append(const RichText& other)
{
    const QList<RichParagraph>& theirs = other.m_paragraphs;
    for (const RichRun& run : theirs.first().runs)
        appendText(run.text, run.format);
    for (qsizetype i = 1; i < theirs.size(); ++i) {
        m_paragraphs.append(theirs.at(i));
        m_characterCount += 1 + theirs.at(i).length();
    }
}

QString RichText::plainText() const
{
    QString s;
    s.reserve(m_characterCount);
    qsizetype last = m_paragraphs.size() - 1;
    if (last > 0 && m_paragraphs.at(last).length() == 0)
        --last;
    for (qsizetype i = 0; i <= last; ++i) {
        if (i > 0)
            s += u'\n';
        s += m_paragraphs.at(i).text();
    }
    s.replace(QChar::LineSeparator, u'\n');
    return s;
}

void RichText::removeLeading(int count)
{
    if (count <= 0)
        return;
    if (count >= m_characterCount) {
        clear();
        return;
    }
    m_characterCount -= count;
    while (m_paragraphs.size() > 1 && m_paragraphs.first().length() + 1 <= count) {
        count -= m_paragraphs.first().length() + 1;
        m_paragraphs.removeFirst();
    }
    QList<RichRun>& runs = m_paragraphs.first().runs;
    while (count > 0 && !runs.isEmpty()) {
        RichRun& run = runs.first();
        if (run.text.size() <= count) {
            count -= int(run.text.size());
            runs.removeFirst();
        } else {
            run.text.remove(0, count);
            count = 0;
        }
    }
    // A cut between the halves of a surrogate pair takes the orphaned half too.
    if (!runs.isEmpty() && !runs.first().text.isEmpty() &&
        runs.first().text.front().isLowSurrogate()) {
        runs.first().text.remove(0, 1);
        --m_characterCount;
        if (runs.first().text.isEmpty())
            runs.removeFirst();
    }
}

void RichText::clear()
{
    m_paragraphs = QList<RichParagraph>(1);
    m_characterCount = 0;
}

#pragma once

#include <QList>
#include <QString>

#include <cstdint>
#include <optional>

// Character format of one run of chat text.
struct RichFormat
{
    static constexpr int DefaultHalfPoints = 24; // a document that names no size is 12 points
    static inline const QString DefaultFace = QStringLiteral("Verdana");

    QString face; // empty: the document's default font
    int halfPoints = DefaultHalfPoints;
    std::optional<uint32_t> color; // 0xRRGGBB; none: the automatic (window text) colour
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;

    // What a fresh message input starts with: Verdana, 14 points, black, no effects.
    static RichFormat chatDefault();

    friend bool operator==(const RichFormat&, const RichFormat&) = default;
};

struct RichRun
{
    QString text;
    RichFormat format;

    friend bool operator==(const RichRun&, const RichRun&) = default;
};

struct RichParagraph
{
    QList<RichRun> runs;

    QString text() const;
    int length() const;

    friend bool operator==(const RichParagraph&, const RichParagraph&) = default;
};

// Paragraphs of formatted runs, the content of a rich-text pane. Every
// paragraph but the last ends with a paragraph break; the last one is still
// open (a fresh text holds one empty open paragraph), so that text streamed in
// at the end continues it.
class RichText
{
public:
    RichText();

    // Every line of text (split at CR, LF, CR LF) becomes a paragraph ending
    // with a break, so that plainText() gives the text back.
    static RichText fromPlainText(const QString& text, const RichFormat& format);

    const QList<RichParagraph>& paragraphs() const { return m_paragraphs; }

    // Adds text to the open paragraph, joining the last run when the format is equal.
    void appendText(const QString& text, const RichFormat& format);
    // Ends the open paragraph; the next text starts a new one.
    void breakParagraph();
    // Streams another text in at the end: its first paragraph continues the open one.
    void append(const RichText& other);

    // Paragraphs joined with '\n' and line breaks as '\n'; an empty last
    // paragraph adds nothing, so a final paragraph break leaves no newline.
    QString plainText() const;
    // Characters as a text pane counts them: every character plus one per paragraph break.
    int characterCount() const { return m_characterCount; }
    bool isEmpty() const { return m_characterCount == 0; }

    // Drops the oldest count characters (a paragraph break counts as one);
    // never leaves half of a surrogate pair behind.
    void removeLeading(int count);
    void clear();

    friend bool operator==(const RichText& a, const RichText& b)
    {
        return a.m_paragraphs == b.m_paragraphs;
    }

private:
    QList<RichParagraph> m_paragraphs;
    int m_characterCount = 0;
};

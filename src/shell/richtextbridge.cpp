#include "richtextbridge.h"

#include "messenger/rtfwriter.h"

#include <QBrush>
#include <QColor>
#include <QFont>
#include <QFontDatabase>
#include <QHash>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>

#include <algorithm>
#include <cstring>

namespace RichTextBridge {

namespace {

struct SymbolFace
{
    const char16_t* face;
    const char* from;   // characters typed in that face
    const char16_t* to; // what they look like
};

// The few symbol-font characters chat documents use: the Webdings arrows
// and the Wingdings faces that mail and office programs turn smileys into.
const SymbolFace SymbolFaces[] = {
    {u"Webdings", "3456", u"\u25C0\u25B6\u25B2\u25BC"},
    {u"Wingdings", "JL", u"\u263A\u2639"},
};

bool isInstalled(const QString& face)
{
    static QHash<QString, bool> known;
    const QString key = face.toLower();
    auto it = known.constFind(key);
    if (it != known.constEnd())
        return *it;
    const bool installed = QFontDatabase::families().contains(face, Qt::CaseInsensitive);
    known.insert(key, installed);
    return installed;
}

const SymbolFace* missingSymbolFace(const QString& face)
{
    for (const SymbolFace& s : SymbolFaces) {
        if (face.compare(QStringView(s.face), Qt::CaseInsensitive) == 0)
            return isInstalled(face) ? nullptr : &s;
    }
    return nullptr;
}

QString shownText(const QString& text, const SymbolFace& symbols)
{
    QString out = text;
    for (QChar& c : out) {
        const char* at =
            c.unicode() < 0x80 ? std::strchr(symbols.from, char(c.unicode())) : nullptr;
        if (at && *at)
            c = QChar(symbols.to[at - symbols.from]);
    }
    return out;
}

void insertRun(QTextCursor& cursor, const RichRun& run, Links links, const QString& defaultFace)
{
    if (run.text.isEmpty())
        return;
    if (const SymbolFace* symbols = missingSymbolFace(run.format.face)) {
        RichFormat f = run.format;
        f.face.clear();
        cursor.insertText(shownText(run.text, *symbols), charFormat(f, defaultFace));
        return;
    }
    const QTextCharFormat format = charFormat(run.format, defaultFace);
    if (links == Links::Plain) {
        cursor.insertText(run.text, format);
        return;
    }
    qsizetype at = 0;
    for (const auto& [start, length] : findLinks(run.text)) {
        if (start > at)
            cursor.insertText(run.text.mid(at, start - at), format);
        const QString address = run.text.mid(start, length);
        QTextCharFormat link = format;
        link.setAnchor(true);
        link.setAnchorHref(address);
        link.setFontUnderline(true);
        link.setForeground(QColor(0, 0, 255));
        cursor.insertText(address, link);
        at = start + length;
    }
    if (at < run.text.size())
        cursor.insertText(run.text.mid(at), format);
}

} // namespace

QTextCharFormat charFormat(const RichFormat& f, const QString& defaultFace)
{
    QTextCharFormat c;
    c.setFontFamilies(QStringList{f.face.isEmpty() ? defaultFace : f.face});
    c.setFontPointSize((f.halfPoints > 0 ? f.halfPoints : RichFormat::DefaultHalfPoints) / 2.0);
    if (f.color)
        c.setForeground(QColor::fromRgb(QRgb(*f.color)));
    c.setFontWeight(f.bold ? QFont::Bold : QFont::Normal);
    c.setFontItalic(f.italic);
    c.setFontUnderline(f.underline);
    c.setFontStrikeOut(f.strikeOut);
    return c;
}

RichFormat richFormat(const QTextCharFormat& c)
{
    RichFormat f;
    const QStringList families = c.fontFamilies().toStringList();
    f.face = families.isEmpty() ? QString() : families.first();
    if (c.hasProperty(QTextFormat::FontPointSize) && c.fontPointSize() > 0)
        f.halfPoints = std::clamp(qRound(c.fontPointSize() * 2), 1, 3276);
    if (c.foreground().style() != Qt::NoBrush)
        f.color = c.foreground().color().rgb() & 0xFFFFFF;
    f.bold = c.fontWeight() >= QFont::DemiBold;
    f.italic = c.fontItalic();
    f.underline = c.fontUnderline();
    f.strikeOut = c.fontStrikeOut();
    return f;
}

RichText fromDocument(const QTextDocument& document)
{
    RichText text;
    bool first = true;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        if (!first)
            text.breakParagraph();
        first = false;
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.isValid())
                continue;
            QString s = fragment.text();
            s.remove(QChar::ObjectReplacementCharacter);
            text.appendText(s, richFormat(fragment.charFormat()));
        }
    }
    return text;
}

QByteArray rtfFromDocument(const QTextDocument& document)
{
    return RtfWriter::write(fromDocument(document));
}

QList<std::pair<qsizetype, qsizetype>> findLinks(const QString& text)
{
    static const QRegularExpression address(
        QStringLiteral(R"((?:(?:https?|ftp|file)://|mailto:|www\.)[^\s<>"{}|\\^`]+)"),
        QRegularExpression::CaseInsensitiveOption);
    QList<std::pair<qsizetype, qsizetype>> found;
    auto it = address.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        qsizetype length = m.capturedLength();
        // Closing punctuation belongs to the sentence, not to the address.
        while (length > 0 &&
               QStringLiteral(".,;:!?)]'").contains(text.at(m.capturedStart() + length - 1)))
            --length;
        if (length > 4)
            found.append({m.capturedStart(), length});
    }
    return found;
}

void insert(QTextCursor& cursor, const RichText& text, Links links, const QString& defaultFace)
{
    bool first = true;
    for (const RichParagraph& p : text.paragraphs()) {
        if (!first)
            cursor.insertBlock();
        first = false;
        for (const RichRun& run : p.runs)
            insertRun(cursor, run, links, defaultFace);
    }
}

void setDocument(QTextDocument& document, const RichText& text, Links links,
                 const QString& defaultFace)
{
    document.clear();
    QTextCursor cursor(&document);
    cursor.beginEditBlock();
    insert(cursor, text, links, defaultFace);
    cursor.endEditBlock();
}

std::optional<RichText> appendedTail(const RichText& shown, const RichText& now)
{
    const QList<RichParagraph>& s = shown.paragraphs();
    const QList<RichParagraph>& n = now.paragraphs();
    const qsizetype open = s.size() - 1;
    if (n.size() < s.size())
        return std::nullopt;
    for (qsizetype i = 0; i < open; ++i) {
        if (!(s.at(i) == n.at(i)))
            return std::nullopt;
    }
    QList<RichRun> shownRuns;
    for (const RichRun& r : s.at(open).runs) {
        if (!r.text.isEmpty())
            shownRuns.append(r);
    }
    QList<RichRun> nowRuns;
    for (const RichRun& r : n.at(open).runs) {
        if (!r.text.isEmpty())
            nowRuns.append(r);
    }
    if (shownRuns.size() > nowRuns.size())
        return std::nullopt;
    RichText tail;
    qsizetype next = 0;
    if (!shownRuns.isEmpty()) {
        const qsizetype last = shownRuns.size() - 1;
        for (qsizetype j = 0; j < last; ++j) {
            if (!(shownRuns.at(j) == nowRuns.at(j)))
                return std::nullopt;
        }
        const RichRun& a = shownRuns.at(last);
        const RichRun& b = nowRuns.at(last);
        if (!(a.format == b.format) || !b.text.startsWith(a.text))
            return std::nullopt;
        tail.appendText(b.text.mid(a.text.size()), b.format);
        next = last + 1;
    }
    for (; next < nowRuns.size(); ++next)
        tail.appendText(nowRuns.at(next).text, nowRuns.at(next).format);
    for (qsizetype i = open + 1; i < n.size(); ++i) {
        tail.breakParagraph();
        for (const RichRun& r : n.at(i).runs)
            tail.appendText(r.text, r.format);
    }
    return tail;
}

} // namespace RichTextBridge

#include "rtfreader.h"

#include "windows1252.h"

#include <QHash>
#include <QLoggingCategory>

#include <algorithm>
#include <vector>

Q_LOGGING_CATEGORY(lcRtf, "zephlink.messenger.rtf")

namespace {

enum class Destination { Body, FontTable, ColorTable, Skip };

// Character format as the parser tracks it: table indexes, resolved once the
// tables are complete.
struct CharState
{
    int font = -1; // -1: the document's default font
    int halfPoints = RichFormat::DefaultHalfPoints;
    int color = 0; // colour table index; 0 is the automatic colour
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
    bool hidden = false; // \v: text that is never shown

    friend bool operator==(const CharState&, const CharState&) = default;
};

struct Group
{
    CharState chars;
    int unicodeSkip = 1; // \ucN: fallback characters that follow each \uN
    Destination destination = Destination::Body;
};

struct PendingRun
{
    QString text;
    CharState chars;
};

enum class Word {
    Unknown,
    Rtf,
    Ansi,
    AnsiCodePage,
    Mac,
    Pc,
    Pca,
    DefaultFont,
    UnicodeSkip,
    Unicode,
    Bin,
    FontTable,
    ColorTable,
    SkipDestination,
    Plain,
    Bold,
    Italic,
    Underline,
    UnderlineNone,
    Strike,
    Hidden,
    Font,
    FontSize,
    ForeColor,
    Red,
    Green,
    Blue,
    Paragraph,
    Line,
    Tab,
    Char, // a word that stands for one character
};

struct WordInfo
{
    Word word = Word::Unknown;
    char16_t character = 0;
};

const QHash<QByteArray, WordInfo>& wordTable()
{
    static const QHash<QByteArray, WordInfo> table = [] {
        QHash<QByteArray, WordInfo> t;
        auto add = [&t](const char* name, Word w, char16_t c = 0) {
            t.insert(QByteArray(name), WordInfo{w, c});
        };
        add("rtf", Word::Rtf);
        add("ansi", Word::Ansi);
        add("ansicpg", Word::AnsiCodePage);
        add("mac", Word::Mac);
        add("pc", Word::Pc);
        add("pca", Word::Pca);
        add("deff", Word::DefaultFont);
        add("uc", Word::UnicodeSkip);
        add("u", Word::Unicode);
        add("bin", Word::Bin);
        add("fonttbl", Word::FontTable);
        add("colortbl", Word::ColorTable);
        // Destinations whose text is never shown.
        const QByteArray skipped =
            "info pict stylesheet generator header headerl headerr headerf footer footerl "
            "footerr footerf footnote object filetbl listtable listoverridetable revtbl rsidtbl "
            "xmlnstbl themedata colorschememapping latentstyles datastore private userprops "
            "docvar nonshppict fldinst bkmkstart bkmkend annotation atnid atnauthor comment "
            "doccomm author title subject operator keywords company buptim creatim printim "
            "revtim template txe xe tc mmathPr wgrffmtfilter pgdsctbl passwordhash protusertbl "
            "defchp defpap";
        for (const QByteArray& name : skipped.split(' '))
            t.insert(name, WordInfo{Word::SkipDestination, 0});
        add("plain", Word::Plain);
        add("b", Word::Bold);
        add("i", Word::Italic);
        for (const char* name : {"ul", "uld", "uldb", "ulw", "ulwave", "uldash", "uldashd",
                                 "uldashdd", "ulth", "ulhwave", "ululdbwave", "ulldash", "ulthd",
                                 "ulthdash", "ulthdashd", "ulthdashdd", "ulthldash"})
            add(name, Word::Underline);
        add("ulnone", Word::UnderlineNone);
        add("strike", Word::Strike);
        add("striked", Word::Strike);
        add("v", Word::Hidden);
        add("f", Word::Font);
        add("fs", Word::FontSize);
        add("cf", Word::ForeColor);
        add("red", Word::Red);
        add("green", Word::Green);
        add("blue", Word::Blue);
        for (const char* name : {"par", "sect", "page", "row"})
            add(name, Word::Paragraph);
        add("line", Word::Line);
        add("tab", Word::Tab);
        add("cell", Word::Tab);
        add("emdash", Word::Char, 0x2014);
        add("endash", Word::Char, 0x2013);
        add("bullet", Word::Char, 0x2022);
        add("lquote", Word::Char, 0x2018);
        add("rquote", Word::Char, 0x2019);
        add("ldblquote", Word::Char, 0x201C);
        add("rdblquote", Word::Char, 0x201D);
        add("emspace", Word::Char, 0x2003);
        add("enspace", Word::Char, 0x2002);
        add("qmspace", Word::Char, 0x2005);
        return t;
    }();
    return table;
}

bool isLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Replaces halves of surrogate pairs that lost their partner.
void repairSurrogates(QString& s)
{
    const qsizetype n = s.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = s.at(i);
        if (c.isHighSurrogate() && i + 1 < n && s.at(i + 1).isLowSurrogate()) {
            ++i;
        } else if (c.isSurrogate()) {
            s[i] = QChar::ReplacementCharacter;
        }
    }
}

class Parser
{
public:
    explicit Parser(const QByteArray& rtf) : m_data(rtf) {}

    RichText run();

private:
    Group& group() { return m_stack.back(); }
    Destination destination() const { return m_stack.back().destination; }

    void openGroup();
    bool closeGroup(); // false once the document's own group is closed
    void controlWord(qsizetype& i);
    void controlSymbol(char c, qsizetype& i);
    void applyWord(const WordInfo& info, bool hasParam, int param);
    void byte(unsigned char b);
    void character(char16_t c);
    void flushBytes();
    void endParagraph();
    void commitFont();
    void commitColor();
    bool skippingFallback();

    RichText finish();

    const QByteArray& m_data;
    std::vector<Group> m_stack;
    int m_excessDepth = 0;
    int m_fallbackLeft = 0; // \uN fallback characters still to skip
    int m_codePage = 1252;
    int m_defaultFont = 0;

    QByteArray m_utf8Bytes; // \'hh bytes of a UTF-8 code page, decoded together

    // Font table
    QHash<int, QString> m_fonts;
    int m_definingFont = 0;
    QString m_fontName;
    // Colour table
    std::vector<std::optional<uint32_t>> m_colors;
    int m_red = 0, m_green = 0, m_blue = 0;
    bool m_colorGiven = false;

    // Body
    PendingRun m_run;
    std::vector<PendingRun> m_paragraph;
    std::vector<std::vector<PendingRun>> m_paragraphs;
};

RichText Parser::run()
{
    m_stack.reserve(64);
    const qsizetype n = m_data.size();
    qsizetype i = 0;
    // The document's own group opens here; openGroup() below enters it.
    while (i < n && m_data.at(i) != '{')
        ++i;
    for (; i < n; ++i) {
        const char c = m_data.at(i);
        switch (c) {
        case '{':
            flushBytes();
            m_fallbackLeft = 0;
            openGroup();
            break;
        case '}':
            flushBytes();
            m_fallbackLeft = 0;
            if (!closeGroup())
                return finish();
            break;
        case '\\':
            if (i + 1 >= n)
                break;
            if (isLetter(m_data.at(i + 1))) {
                ++i;
                controlWord(i);
            } else {
                ++i;
                controlSymbol(m_data.at(i), i);
            }
            break;
        case '\r':
        case '\n':
            break;
        default:
            if (m_stack.empty())
                break;
            if (skippingFallback())
                break;
            byte(static_cast<unsigned char>(c));
            break;
        }
    }
    return finish();
}

void Parser::openGroup()
{
    if (m_stack.empty()) {
        m_stack.push_back(Group());
        return;
    }
    if (int(m_stack.size()) >= RtfReader::MaxGroupDepth) {
        // Deeper groups share their parent's state; only their braces are counted.
        if (m_excessDepth == 0)
            qCDebug(lcRtf) << "group nesting deeper than" << RtfReader::MaxGroupDepth;
        ++m_excessDepth;
        return;
    }
    m_stack.push_back(m_stack.back());
}

bool Parser::closeGroup()
{
    if (m_excessDepth > 0) {
        --m_excessDepth;
        return true;
    }
    if (m_stack.empty())
        return true;
    if (destination() == Destination::FontTable && !m_fontName.isEmpty())
        commitFont();
    m_stack.pop_back();
    return !m_stack.empty();
}

bool Parser::skippingFallback()
{
    if (m_fallbackLeft <= 0)
        return false;
    --m_fallbackLeft;
    return true;
}

void Parser::controlWord(qsizetype& i)
{
    const qsizetype n = m_data.size();
    const qsizetype start = i;
    while (i < n && isLetter(m_data.at(i)))
        ++i;
    const qsizetype nameLength = i - start;
    bool hasParam = false;
    bool negative = false;
    long long value = 0;
    if (i < n && m_data.at(i) == '-' && i + 1 < n && m_data.at(i + 1) >= '0' &&
        m_data.at(i + 1) <= '9') {
        negative = true;
        ++i;
    }
    while (i < n && m_data.at(i) >= '0' && m_data.at(i) <= '9') {
        hasParam = true;
        if (value < 1000000000LL)
            value = value * 10 + (m_data.at(i) - '0');
        ++i;
    }
    // A space after a control word only ends it.
    if (i >= n || m_data.at(i) != ' ')
        --i;
    const int param = int(std::min(value, 1000000000LL)) * (negative ? -1 : 1);

    flushBytes();
    if (m_stack.empty())
        return;
    const bool skip = skippingFallback();
    WordInfo info;
    if (nameLength <= 32)
        info = wordTable().value(QByteArray::fromRawData(m_data.constData() + start, nameLength));
    if (info.word == Word::Bin) {
        // Binary data is skipped unread, fallback or not.
        const qsizetype count = std::max(0, param);
        i = std::min<qsizetype>(n - 1, i + count);
        return;
    }
    if (skip)
        return;
    applyWord(info, hasParam, param);
}

void Parser::controlSymbol(char c, qsizetype& i)
{
    if (m_stack.empty())
        return;
    if (c == '\'') {
        const qsizetype n = m_data.size();
        int v = -1;
        if (i + 2 < n) {
            const int hi = hexValue(m_data.at(i + 1));
            const int lo = hexValue(m_data.at(i + 2));
            if (hi >= 0 && lo >= 0)
                v = hi * 16 + lo;
        }
        if (v < 0)
            return; // a broken escape: the following characters read as text
        i += 2;
        if (skippingFallback())
            return;
        byte(static_cast<unsigned char>(v));
        return;
    }
    flushBytes();
    if (skippingFallback())
        return;
    switch (c) {
    case '\\':
    case '{':
    case '}':
        character(char16_t(c));
        break;
    case '~':
        character(0x00A0);
        break;
    case '_':
        character(0x2011);
        break;
    case '*':
        group().destination = Destination::Skip;
        break;
    case '\r':
    case '\n':
        if (destination() == Destination::Body)
            endParagraph();
        break;
    case '\t':
        character(u'\t');
        break;
    default:
        break; // \- optional hyphen, \| \: index marks and anything unknown
    }
}

void Parser::applyWord(const WordInfo& info, bool hasParam, int param)
{
    Group& g = group();
    CharState& cs = g.chars;
    const bool on = !hasParam || param != 0;
    switch (info.word) {
    case Word::Unknown:
    case Word::Rtf:
    case Word::Bin:
        break;
    case Word::Ansi:
        m_codePage = 1252;
        break;
    case Word::AnsiCodePage:
        if (hasParam)
            m_codePage = param;
        break;
    case Word::Mac:
        m_codePage = 10000;
        break;
    case Word::Pc:
        m_codePage = 437;
        break;
    case Word::Pca:
        m_codePage = 850;
        break;
    case Word::DefaultFont:
        if (hasParam)
            m_defaultFont = param;
        break;
    case Word::UnicodeSkip:
        if (hasParam)
            g.unicodeSkip = std::clamp(param, 0, 100);
        break;
    case Word::Unicode: {
        if (!hasParam)
            break;
        int v = param;
        if (v < 0)
            v += 65536;
        if (v >= 0 && v <= 0xFFFF)
            character(char16_t(v));
        m_fallbackLeft = g.unicodeSkip;
        break;
    }
    case Word::FontTable:
        g.destination = Destination::FontTable;
        break;
    case Word::ColorTable:
        g.destination = Destination::ColorTable;
        m_colorGiven = false;
        break;
    case Word::SkipDestination:
        g.destination = Destination::Skip;
        break;
    case Word::Plain:
        cs = CharState();
        break;
    case Word::Bold:
        cs.bold = on;
        break;
    case Word::Italic:
        cs.italic = on;
        break;
    case Word::Underline:
        cs.underline = on;
        break;
    case Word::UnderlineNone:
        cs.underline = false;
        break;
    case Word::Strike:
        cs.strikeOut = on;
        break;
    case Word::Hidden:
        cs.hidden = on;
        break;
    case Word::Font:
        if (!hasParam)
            break;
        if (g.destination == Destination::FontTable) {
            if (!m_fontName.isEmpty())
                commitFont();
            m_definingFont = param;
        } else {
            cs.font = param;
        }
        break;
    case Word::FontSize:
        cs.halfPoints =
            (hasParam && param > 0) ? std::min(param, 3276) : RichFormat::DefaultHalfPoints;
        break;
    case Word::ForeColor:
        cs.color = hasParam ? std::max(param, 0) : 0;
        break;
    case Word::Red:
        m_red = std::clamp(param, 0, 255);
        m_colorGiven = true;
        break;
    case Word::Green:
        m_green = std::clamp(param, 0, 255);
        m_colorGiven = true;
        break;
    case Word::Blue:
        m_blue = std::clamp(param, 0, 255);
        m_colorGiven = true;
        break;
    case Word::Paragraph:
        if (g.destination == Destination::Body)
            endParagraph();
        break;
    case Word::Line:
        character(QChar::LineSeparator);
        break;
    case Word::Tab:
        character(u'\t');
        break;
    case Word::Char:
        character(info.character);
        break;
    }
}

void Parser::byte(unsigned char b)
{
    const Destination d = destination();
    if (d == Destination::Skip)
        return;
    if (b == ';' && d != Destination::Body) {
        flushBytes();
        if (d == Destination::FontTable)
            commitFont();
        else
            commitColor();
        return;
    }
    if (m_codePage == 65001) {
        m_utf8Bytes.append(char(b));
        return;
    }
    if (m_codePage == 1252)
        character(Windows1252::toUnicode(b));
    else
        character(char16_t(b)); // other code pages read as Latin-1
}

void Parser::flushBytes()
{
    if (m_utf8Bytes.isEmpty())
        return;
    const QString s = QString::fromUtf8(m_utf8Bytes);
    m_utf8Bytes.clear();
    for (QChar c : s)
        character(c.unicode());
}

void Parser::character(char16_t c)
{
    if (c < 0x20 && c != u'\t')
        return;
    switch (destination()) {
    case Destination::Body: {
        const CharState& cs = group().chars;
        if (cs.hidden)
            return;
        if (c == QChar::ParagraphSeparator) {
            // Written back it is a paragraph break; it is one when read, too.
            endParagraph();
            return;
        }
        if (!(cs == m_run.chars)) {
            if (!m_run.text.isEmpty())
                m_paragraph.push_back(std::move(m_run));
            m_run = PendingRun{QString(), cs};
        }
        m_run.text.append(QChar(c));
        break;
    }
    case Destination::FontTable:
        if (m_fontName.size() < RtfReader::MaxFontNameLength)
            m_fontName.append(QChar(c));
        break;
    case Destination::ColorTable:
    case Destination::Skip:
        break;
    }
}

void Parser::endParagraph()
{
    if (!m_run.text.isEmpty()) {
        m_paragraph.push_back(m_run);
        m_run.text.clear();
    }
    m_paragraphs.push_back(std::move(m_paragraph));
    m_paragraph.clear();
}

void Parser::commitFont()
{
    const QString name = m_fontName.trimmed();
    m_fontName.clear();
    if (m_fonts.size() < RtfReader::MaxTableEntries || m_fonts.contains(m_definingFont))
        m_fonts.insert(m_definingFont, name);
}

void Parser::commitColor()
{
    if (int(m_colors.size()) < RtfReader::MaxTableEntries) {
        if (m_colorGiven)
            m_colors.push_back(uint32_t(m_red) << 16 | uint32_t(m_green) << 8 | uint32_t(m_blue));
        else
            m_colors.push_back(std::nullopt);
    }
    m_red = m_green = m_blue = 0;
    m_colorGiven = false;
}

RichText Parser::finish()
{
    flushBytes();
    if (!m_run.text.isEmpty())
        m_paragraph.push_back(std::move(m_run));
    m_paragraphs.push_back(std::move(m_paragraph));

    auto resolve = [this](const CharState& cs) {
        RichFormat f;
        f.face = m_fonts.value(cs.font < 0 ? m_defaultFont : cs.font);
        f.halfPoints = cs.halfPoints;
        if (cs.color > 0 && cs.color < int(m_colors.size()))
            f.color = m_colors[size_t(cs.color)];
        f.bold = cs.bold;
        f.italic = cs.italic;
        f.underline = cs.underline;
        f.strikeOut = cs.strikeOut;
        return f;
    };

    RichText doc;
    bool first = true;
    for (std::vector<PendingRun>& paragraph : m_paragraphs) {
        if (!first)
            doc.breakParagraph();
        first = false;
        QString all;
        for (const PendingRun& r : paragraph)
            all += r.text;
        repairSurrogates(all);
        qsizetype at = 0;
        for (const PendingRun& r : paragraph) {
            doc.appendText(all.mid(at, r.text.size()), resolve(r.chars));
            at += r.text.size();
        }
    }
    return doc;
}

RichText readPlain(const QByteArray& bytes)
{
    QString text = QString::fromUtf8(bytes);
    text.removeIf(
        [](QChar c) { return c.unicode() < 0x20 && c != u'\t' && c != u'\n' && c != u'\r'; });
    return RichText::fromPlainText(text, RichFormat());
}

bool looksLikeRtf(const QByteArray& bytes)
{
    qsizetype i = 0;
    while (i < bytes.size() && (bytes.at(i) == ' ' || bytes.at(i) == '\t' || bytes.at(i) == '\r' ||
                                bytes.at(i) == '\n'))
        ++i;
    return QByteArrayView(bytes).sliced(i).startsWith("{\\rtf");
}

} // namespace

RichText RtfReader::read(const QByteArray& rtf)
{
    if (!looksLikeRtf(rtf))
        return readPlain(rtf);
    Parser parser(rtf);
    return parser.run();
}

QString RtfToPlainText(const QByteArray& rtf)
{
    return RtfReader::read(rtf).plainText();
}

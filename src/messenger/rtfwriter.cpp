#include "rtfwriter.h"

#include "windows1252.h"

#include <vector>

namespace {

const char HexDigits[] = "0123456789abcdef";

enum class Breaks { AsParagraphs, AsSpaces };

// Appends one character in escaped form.
void escapeChar(QByteArray& out, char16_t c, Breaks breaks, char16_t previous)
{
    switch (c) {
    case u'\\':
        out += "\\\\";
        return;
    case u'{':
        out += "\\{";
        return;
    case u'}':
        out += "\\}";
        return;
    case u'\t':
        out += "\\tab ";
        return;
    case QChar::LineSeparator:
        out += "\\line ";
        return;
    case u'\n':
    case u'\r':
    case QChar::ParagraphSeparator:
        if (breaks == Breaks::AsSpaces)
            out += ' ';
        else if (!(c == u'\n' && previous == u'\r'))
            out += "\\par\r\n";
        return;
    default:
        break;
    }
    if (c < 0x20)
        return;
    if (c < 0x80) {
        out += char(c);
        return;
    }
    const int b = Windows1252::fromUnicode(c);
    if (b >= 0) {
        out += "\\'";
        out += HexDigits[b >> 4];
        out += HexDigits[b & 15];
        return;
    }
    out += "\\u";
    out += QByteArray::number(c > 32767 ? int(c) - 65536 : int(c));
    out += '?';
}

void escapeInto(QByteArray& out, QStringView text, Breaks breaks)
{
    char16_t previous = 0;
    for (QChar qc : text) {
        const char16_t c = qc.unicode();
        escapeChar(out, c, breaks, previous);
        previous = c;
    }
}

QString faceOf(const RichFormat& f)
{
    return f.face.isEmpty() ? RichFormat::DefaultFace : f.face;
}

struct WriterState
{
    int font = -1;
    int halfPoints = -1;
    int color = 0;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
};

} // namespace

QByteArray RtfWriter::write(const RichText& text)
{
    QList<RichParagraph> paragraphs = text.paragraphs();
    if (paragraphs.size() > 1 && paragraphs.last().length() == 0)
        paragraphs.removeLast();

    QStringList faces;
    std::vector<uint32_t> colors;
    for (const RichParagraph& p : paragraphs) {
        for (const RichRun& run : p.runs) {
            const QString face = faceOf(run.format);
            if (!faces.contains(face))
                faces.append(face);
            if (run.format.color &&
                std::find(colors.begin(), colors.end(), *run.format.color) == colors.end())
                colors.push_back(*run.format.color);
        }
    }
    if (faces.isEmpty())
        faces.append(RichFormat::DefaultFace);

    QByteArray out;
    out.reserve(256 + text.characterCount() * 2);
    out += "{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1033{\\fonttbl";
    for (qsizetype i = 0; i < faces.size(); ++i) {
        out += "{\\f" + QByteArray::number(i) + "\\fnil\\fcharset0 ";
        QString name = faces.at(i);
        name.remove(u';'); // a semicolon would end the name early
        escapeInto(out, name, Breaks::AsSpaces);
        out += ";}";
    }
    out += '}';
    if (!colors.empty()) {
        out += "{\\colortbl ;";
        for (uint32_t rgb : colors) {
            out += "\\red" + QByteArray::number((rgb >> 16) & 0xFF) + "\\green" +
                   QByteArray::number((rgb >> 8) & 0xFF) + "\\blue" +
                   QByteArray::number(rgb & 0xFF) + ';';
        }
        out += '}';
    }
    out += "\\viewkind4\\uc1\\pard";

    WriterState state;
    for (const RichParagraph& p : paragraphs) {
        for (const RichRun& run : p.runs) {
            const RichFormat& f = run.format;
            const qsizetype before = out.size();
            const int color =
                f.color
                    ? int(std::find(colors.begin(), colors.end(), *f.color) - colors.begin()) + 1
                    : 0;
            if (color != state.color)
                out += "\\cf" + QByteArray::number(color);
            if (f.bold != state.bold)
                out += f.bold ? "\\b" : "\\b0";
            if (f.italic != state.italic)
                out += f.italic ? "\\i" : "\\i0";
            if (f.underline != state.underline)
                out += f.underline ? "\\ul" : "\\ulnone";
            if (f.strikeOut != state.strikeOut)
                out += f.strikeOut ? "\\strike" : "\\strike0";
            const int font = int(faces.indexOf(faceOf(f)));
            if (font != state.font)
                out += "\\f" + QByteArray::number(font);
            const int halfPoints = f.halfPoints > 0 ? f.halfPoints : RichFormat::DefaultHalfPoints;
            if (halfPoints != state.halfPoints)
                out += "\\fs" + QByteArray::number(halfPoints);
            state =
                WriterState{font, halfPoints, color, f.bold, f.italic, f.underline, f.strikeOut};
            if (run.text.isEmpty())
                continue;
            if (out.size() != before)
                out += ' ';
            escapeInto(out, run.text, Breaks::AsParagraphs);
        }
        out += "\\par\r\n";
    }
    out += "}\r\n";
    return out;
}

QByteArray RtfEscapeText(QStringView text)
{
    QByteArray out;
    out.reserve(text.size());
    escapeInto(out, text, Breaks::AsSpaces);
    return out;
}

QByteArray RtfFromPlainText(const QString& text, const RichFormat& format)
{
    return RtfWriter::write(RichText::fromPlainText(text, format));
}

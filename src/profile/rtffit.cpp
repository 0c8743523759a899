#include "profile/rtffit.h"

#include <QByteArrayView>
#include <QList>

#include <algorithm>
#include <utility>

namespace {

// Every document the program writes ends so.
constexpr QByteArrayView DocumentEnd("\\par\r\n}\r\n");

bool isLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Where a document may be cut: its header ends with the first top-level \pard
// and the control words after it; each top-level \par ends a paragraph.
struct CutPoint
{
    qsizetype offset;
    // Character formatting in force there, as control words.
    QByteArray format;
};

struct CutPoints
{
    // End of the first top-level \pard word, and the paragraph words after it.
    qsizetype pardEnd = -1;
    QByteArray pardWords;
    qsizetype formatEnd = -1;
    QList<CutPoint> paragraphEnds;
};

// Groups of character-format control words; a later word of a group
// overrides an earlier one. Paragraphs carry these across their breaks.
QByteArrayView formatGroup(QByteArrayView word)
{
    static constexpr QByteArrayView groups[] = {"cf", "cb",     "highlight", "b",
                                                "i",  "strike", "f",         "fs"};
    for (QByteArrayView g : groups) {
        if (word == g)
            return g;
    }
    if (word == "ul" || word == "ulnone")
        return "ul";
    return {};
}

QByteArray formatText(const QList<std::pair<QByteArrayView, QByteArray>>& state)
{
    QByteArray out;
    for (const auto& entry : state)
        out += entry.second;
    return out;
}

CutPoints findCutPoints(QByteArrayView doc)
{
    CutPoints cuts;
    int depth = 0;
    bool inFormatRun = false;
    QList<std::pair<QByteArrayView, QByteArray>> state;
    qsizetype i = 0;
    const qsizetype n = doc.size();
    while (i < n) {
        const char c = doc[i];
        if (c == '{') {
            if (inFormatRun) {
                cuts.formatEnd = i;
                inFormatRun = false;
            }
            ++depth;
            ++i;
            continue;
        }
        if (c == '}') {
            if (inFormatRun) {
                cuts.formatEnd = i;
                inFormatRun = false;
            }
            --depth;
            ++i;
            continue;
        }
        if (c != '\\') {
            if (inFormatRun && (c == '\r' || c == '\n')) {
                ++i;
                continue;
            }
            if (inFormatRun) {
                cuts.formatEnd = i;
                inFormatRun = false;
            }
            ++i;
            continue;
        }
        // A control symbol: \{ \} \\ \'hh and the like.
        if (i + 1 < n && !isLetter(doc[i + 1])) {
            if (inFormatRun) {
                cuts.formatEnd = i;
                inFormatRun = false;
            }
            i += doc[i + 1] == '\'' ? 4 : 2;
            continue;
        }
        // A control word: letters, an optional signed number, one optional space.
        const qsizetype start = i;
        qsizetype j = i + 1;
        while (j < n && isLetter(doc[j]))
            ++j;
        const QByteArrayView word = doc.sliced(start + 1, j - start - 1);
        qsizetype numStart = j;
        if (j < n && doc[j] == '-')
            ++j;
        while (j < n && isDigit(doc[j]))
            ++j;
        const qsizetype param = j > numStart ? doc.sliced(numStart, j - numStart).toLongLong() : 0;
        if (j < n && doc[j] == ' ')
            ++j;
        if (word == "bin" && param > 0)
            j += qMin<qsizetype>(n - j, param);

        if (depth == 1 && word == "par") {
            if (inFormatRun) {
                cuts.formatEnd = start;
                inFormatRun = false;
            }
            // The line break after a paragraph belongs to it.
            while (j < n && (doc[j] == '\r' || doc[j] == '\n'))
                ++j;
            if (cuts.formatEnd >= 0)
                cuts.paragraphEnds.append({j, formatText(state)});
        } else if (depth == 1 && word == "plain") {
            state = {{"plain", "\\plain"}};
        } else if (const QByteArrayView group = formatGroup(word); depth == 1 && !group.isEmpty()) {
            const QByteArray text = doc.sliced(start, j - start).trimmed().toByteArray();
            auto it = std::find_if(state.begin(), state.end(),
                                   [&](const auto& e) { return e.first == group; });
            if (it != state.end())
                it->second = text;
            else
                state.append({group, text});
        } else if (depth == 1 && word == "pard" && cuts.formatEnd < 0 && !inFormatRun) {
            inFormatRun = true;
            cuts.pardEnd = start + 1 + word.size();
        } else if (inFormatRun && word == "u") {
            cuts.formatEnd = start;
            inFormatRun = false;
        } else if (inFormatRun) {
            cuts.pardWords += doc.sliced(start, j - start).trimmed();
        }
        i = j;
    }
    if (inFormatRun)
        cuts.formatEnd = n;
    return cuts;
}

// Nothing but the document's closing brace and line breaks.
bool onlyClosing(QByteArrayView tail)
{
    for (char c : tail) {
        if (c != '}' && c != '\r' && c != '\n' && c != ' ')
            return false;
    }
    return true;
}

QByteArray trimParagraphs(QByteArrayView doc, qsizetype maxBytes)
{
    const CutPoints cuts = findCutPoints(doc);
    if (cuts.formatEnd < 0)
        return {};
    // The header through \pard, then the formatting in force at the cut.
    const QByteArray head = doc.first(cuts.pardEnd).toByteArray() + cuts.pardWords;
    for (const CutPoint& cut : cuts.paragraphEnds) {
        if (cut.offset <= cuts.formatEnd || onlyClosing(doc.sliced(cut.offset)))
            continue;
        QByteArray out = head + cut.format;
        if (!out.endsWith(' '))
            out.append(' ');
        if (out.size() + (doc.size() - cut.offset) <= maxBytes)
            return out + doc.sliced(cut.offset).toByteArray();
    }
    return {};
}

} // namespace

QByteArray FitRichText(const QByteArray& rtf, qsizetype maxBytes)
{
    if (rtf.size() <= maxBytes)
        return rtf;

    // Drop whole documents from the front while more than one is left.
    qsizetype start = 0;
    while (rtf.size() - start > maxBytes) {
        const qsizetype sep = rtf.indexOf(DocumentEnd, start);
        if (sep < 0 || sep + DocumentEnd.size() >= rtf.size())
            break;
        start = sep + DocumentEnd.size();
    }
    const QByteArrayView last = QByteArrayView(rtf).sliced(start);
    if (last.size() <= maxBytes)
        return last.toByteArray();
    return trimParagraphs(last, maxBytes);
}

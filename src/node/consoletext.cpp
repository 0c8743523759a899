#include "node/consoletext.h"

namespace ConsoleText {

QString escape(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'\\':
            out += QLatin1String("\\\\");
            break;
        case u'\n':
            out += QLatin1String("\\n");
            break;
        case u'\r':
            out += QLatin1String("\\r");
            break;
        case u'\t':
            out += QLatin1String("\\t");
            break;
        default:
            out += c;
        }
    }
    return out;
}

QString unescape(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c != u'\\' || i + 1 == text.size()) {
            out += c;
            continue;
        }
        const QChar next = text[i + 1];
        switch (next.unicode()) {
        case u'\\':
            out += u'\\';
            break;
        case u'n':
            out += u'\n';
            break;
        case u'r':
            out += u'\r';
            break;
        case u't':
            out += u'\t';
            break;
        default:
            out += c;
            out += next;
        }
        ++i;
    }
    return out;
}

namespace {

// Index just past the word that starts at from; separator ends a word
// outside quotes (white space always does).
qsizetype wordEnd(QStringView text, qsizetype from, QChar separator)
{
    bool quoted = false;
    qsizetype i = from;
    for (; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == u'\\' && i + 1 < text.size())
                ++i;
            else if (c == u'"')
                quoted = false;
        } else if (c == u'"') {
            quoted = true;
        } else if (c.isSpace() || c == separator) {
            break;
        }
    }
    return i;
}

} // namespace

QStringView takeWord(QStringView& rest)
{
    rest = rest.trimmed();
    const qsizetype end = wordEnd(rest, 0, u' ');
    const QStringView word = rest.first(end);
    rest = rest.sliced(end).trimmed();
    return word;
}

QString unquote(QStringView word)
{
    QString out;
    out.reserve(word.size());
    bool quoted = false;
    for (qsizetype i = 0; i < word.size(); ++i) {
        const QChar c = word[i];
        if (c == u'"') {
            quoted = !quoted;
        } else if (quoted && c == u'\\' && i + 1 < word.size() &&
                   (word[i + 1] == u'"' || word[i + 1] == u'\\')) {
            out += word[++i];
        } else {
            out += c;
        }
    }
    return out;
}

QStringList splitList(QStringView word)
{
    QStringList out;
    qsizetype from = 0;
    while (from <= word.size()) {
        const qsizetype end = wordEnd(word, from, u',');
        out.append(unquote(word.sliced(from, end - from)));
        from = end + 1;
    }
    return out;
}

} // namespace ConsoleText

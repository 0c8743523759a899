#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

// How texts cross the node's console: one command per input line, one event
// per output line. Backslash escapes keep line breaks inside one line, and
// double quotes let a contact name hold spaces or commas.
namespace ConsoleText {

// Backslash, line feed, carriage return and tab as \\, \n, \r and \t.
QString escape(QStringView text);
// The reverse of escape. A backslash before any other character, or at the
// end, stays as it is.
QString unescape(QStringView text);

// Removes the next word from rest and returns it as written (quotes kept).
// A word ends at white space outside double quotes; inside quotes a
// backslash makes the next quote or backslash plain. rest loses the word and
// the white space after it.
QStringView takeWord(QStringView& rest);
// A word without its quotes: "Bob Smith" is Bob Smith; a word with no quotes
// is returned as it is.
QString unquote(QStringView word);
// A comma-separated list of words; commas inside quotes do not separate.
QStringList splitList(QStringView word);

} // namespace ConsoleText

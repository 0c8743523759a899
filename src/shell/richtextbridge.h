#pragma once

#include "messenger/richtext.h"

#include <QByteArray>
#include <QTextCharFormat>

#include <optional>

class QTextCursor;
class QTextDocument;

// Moves chat text between the core's rich text and the QTextDocument of a
// rich-text control. Formats carry face, size, colour, bold, italic,
// underline and strike-out; everything else a document may hold is left out.
namespace RichTextBridge {

// The character format that shows f. An empty face shows as defaultFace;
// without a colour the control's own text colour applies.
QTextCharFormat charFormat(const RichFormat& f,
                           const QString& defaultFace = RichFormat::DefaultFace);
// The rich format of a character format (sizes in whole half points).
RichFormat richFormat(const QTextCharFormat& f);

// The document's text: one paragraph per block, each block but the last
// ended by a paragraph break; embedded objects are left out.
RichText fromDocument(const QTextDocument& document);
// The document as the message input writes it: ends in "\par" CR LF "}" CR LF.
QByteArray rtfFromDocument(const QTextDocument& document);

// Web, mail and file addresses in history panes become links.
enum class Links { Plain, Detect };

// Inserts text at the cursor: its first paragraph continues the cursor's
// block, every paragraph break starts a new block. Text in a symbol face that
// this system lacks (the arrow of own lines is a Webdings character) shows as
// the Unicode character it stands for.
void insert(QTextCursor& cursor, const RichText& text, Links links = Links::Plain,
            const QString& defaultFace = RichFormat::DefaultFace);
// Replaces the document's content.
void setDocument(QTextDocument& document, const RichText& text, Links links = Links::Plain,
                 const QString& defaultFace = RichFormat::DefaultFace);

// Where addresses start and end in text: pairs of (start, length).
QList<std::pair<qsizetype, qsizetype>> findLinks(const QString& text);

// What was appended to shown to give now, when now is shown with more text
// at its end (the same runs, the last one possibly longer, then new ones);
// no value when anything else changed.
std::optional<RichText> appendedTail(const RichText& shown, const RichText& now);

} // namespace RichTextBridge

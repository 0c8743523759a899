#pragma once

#include <QByteArray>

// Makes rich text fit into maxBytes so that a profile file never holds a text
// its reader refuses. Keeps the latest part: whole documents are dropped from
// the front first (a queue holds several), then top-level paragraphs from the
// front of the last document, keeping that document's header. Gives an empty
// text when no cut fits.
QByteArray FitRichText(const QByteArray& rtf, qsizetype maxBytes);

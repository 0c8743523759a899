#pragma once

#include "richtext.h"

#include <QByteArray>
#include <QString>
#include <QStringView>

// Every document ends with these bytes, and nowhere else in a document can
// they occur: offline queues are split into their documents on them.
inline constexpr char RtfDocumentEnd[] = "\\par\r\n}\r\n";

// Writes chat documents in the form the message input produces:
// "{\rtf1\ansi\ansicpg1252\deff0\deflang1033{\fonttbl...}{\colortbl ;...}
// \viewkind4\uc1\pard..." with one "\par" CR LF per paragraph and "}" CR LF
// at the end. Text outside the code page is written as \uN with a "?" fallback.
class RtfWriter
{
public:
    // An empty last paragraph is not written: its break already ends the one before.
    static QByteArray write(const RichText& text);
};

// Text for the body of a document: "\", "{" and "}" escaped, characters of the
// code page as \'hh, others as \uN?, tabs as \tab; line breaks become spaces
// and other control characters are dropped, so the text never ends a line or
// a document early.
QByteArray RtfEscapeText(QStringView text);

// A one-paragraph-per-line document in one format.
QByteArray RtfFromPlainText(const QString& text,
                            const RichFormat& format = RichFormat::chatDefault());

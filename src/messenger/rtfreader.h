#pragma once

#include "richtext.h"

#include <QByteArray>
#include <QString>

// Reads the RTF that chat documents use: the font and colour tables, fonts,
// sizes, colours, bold, italic, underline, strike-out, paragraphs, line breaks,
// tabs, code-page bytes (\'hh) and Unicode characters (\uN with \ucN
// fallbacks). Hidden text (\v), pictures, document information, style
// sheets and every ignorable destination are skipped; unknown control words are ignored.
//
// The text comes from peers, so the reader trusts nothing: group nesting is
// bounded, tables and font names are capped, counts are clamped, and every
// byte is looked at a bounded number of times. Whatever the input, it returns
// a text. Input that is not RTF at all reads as UTF-8 plain text.
class RtfReader
{
public:
    static constexpr int MaxGroupDepth = 256;
    static constexpr int MaxFontNameLength = 256;
    static constexpr int MaxTableEntries = 1024;

    // Reads the first document in rtf; anything after its closing brace is ignored.
    static RichText read(const QByteArray& rtf);
};

// The text of a document: paragraphs joined with '\n', no newline for the final paragraph break.
QString RtfToPlainText(const QByteArray& rtf);

#pragma once

#include <QChar>

// The Western European ANSI code page that chat documents declare
// (\ansicpg1252). Written out here because the Qt codecs on every platform
// know only UTF and Latin-1.
namespace Windows1252 {

// The character of one code-page byte. The five bytes the code page leaves
// unassigned map to the C1 control of the same value, as Windows does.
char16_t toUnicode(unsigned char byte);

// The code-page byte of a character, or -1 when the code page lacks it.
int fromUnicode(char16_t c);

} // namespace Windows1252

#pragma once

#include <QByteArray>
#include <QString>

namespace testsupport {

// Parses "05 00 00 00 61 00" style hex text (spaces and newlines ignored).
QByteArray hex(const char* text);

// Reads a whole file; an empty array when it cannot be opened.
QByteArray readAll(const QString& path);

// Writes bytes to a file, replacing it; false on failure.
bool writeAll(const QString& path, const QByteArray& bytes);

} // namespace testsupport

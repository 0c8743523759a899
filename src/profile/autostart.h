#pragma once

#include <QString>

// The start-with-the-system entry: the freedesktop autostart file
// "zlk6.desktop" in $XDG_CONFIG_HOME/autostart (~/.config/autostart when the
// variable is unset or not absolute). Its Exec line starts the program with
// "-m", so that it starts hidden and connects later.
namespace Autostart {

// The autostart file's path.
QString filePath();

// The Exec value for a program: "\"<program>\" -m", with the characters the
// desktop-entry format reserves escaped.
QString execLine(const QString& programPath);

// The entry's Exec value as stored; empty when the file is missing, cannot
// be read or has no Exec line.
QString storedExecLine();

// Opening the options: true when the file starts this program (the Exec
// value equals execLine(programPath), ignoring case). An entry that starts
// something else (the program moved) is removed at once and gives false.
bool ReadEntry(const QString& programPath);

// Writes the entry for the program (on) or removes it (off). False when the
// file could not be written or removed; the options ignore that.
bool WriteEntry(const QString& programPath, bool on);

} // namespace Autostart

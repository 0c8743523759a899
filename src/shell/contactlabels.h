#pragma once

#include "records/contact.h"

#include <QString>
#include <QStringList>

#include <optional>

// The texts the main window shows for contacts, and the checks of its
// per-contact prompts.
namespace ContactText {

// "Bob (10.0.0.7) - lunch" with the address shown, else "Bob - lunch".
QString label(const Contact& contact, bool showAddress);
// "Bob (bob.example.org,10.0.0.7:8410)" or "Bob (10.0.0.7:8410)".
QString line(const Contact& contact);
// The properties box text at the time now (seconds since 1970).
QString properties(const Contact& contact, quint32 now);
// "days:%d hr:%d min:%d sec:%d".
QString duration(qint64 seconds);

// The row to select for a letter or digit typed in the list: the first row
// after start (wrapping once to the top) whose screen name starts with key,
// case ignored; -1 when none does.
int searchRow(const QStringList& screenNames, int start, QChar key);

// Edit Port: 1 to 65535, else nothing.
std::optional<int> portEntry(const QString& text);
// Edit Encryption Key: at least 9 characters.
bool keyEntryValid(const QString& text);

} // namespace ContactText

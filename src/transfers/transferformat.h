#pragma once

#include "transfers/transfer.h"

#include <QList>
#include <QString>

#include <cstdint>

// Display texts every transfer view shares.

// "%.0f bytes" below 1 KB, else two decimals in KB, MB, GB, TB, PB or EB
// (units of 1024).
QString FormatSize(uint64_t bytes);
// What an offer's status text carries: the size as far as it is known
// ("Calculating..." while a folder is still being walked).
QString OfferSizeText(const Transfer& t);
// The same thresholds for a rate: "%.0f B/s" below 1 KB/s, then "%.2f KB/s" ...
QString FormatSpeed(double bytesPerSecond);
// "(empty)" for 0; otherwise local time as "Tue 12/08/26 01:51:37 AM"
// (weekday, month/day/year, 12-hour clock), always with English names.
QString FormatTimestamp(int64_t secondsSince1970);
// "days:%d hr:%d min:%d sec:%d".
QString FormatDuration(int64_t seconds);

// The text of the properties box, one "Label:\t\tvalue\n" line per item.
// contactName is the name the controller gives for t.contactUid; now is the
// current time in seconds since 1970.
QString PropertiesText(const Transfer& t, const QString& contactName, int64_t now);

// ---- the columns of the transfers list ----

enum class ColumnAlign { Left, Right, Center };

struct TransferColumn
{
    QString title;
    int width; // initial width in pixels
    ColumnAlign align;
};

// The seven columns in order: name, size, type, contact, speed, status and
// the progress column (drawn as a bar).
inline constexpr int TransferColumnCount = 7;
inline constexpr int TransferProgressColumn = 6;
const QList<TransferColumn>& TransferColumns();

// The widths the list starts with: a stored word's low 16 bits where the
// profile kept one (a zero width is not kept), else the initial width.
QList<int> TransferColumnWidths(const QList<int32_t>& stored);

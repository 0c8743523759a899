#pragma once

#include "transfers/transfer.h"

#include <QByteArray>
#include <QLatin1String>
#include <QList>
#include <QString>

#include <cstdint>
#include <functional>

class ProfileUi;

inline constexpr QLatin1String TransfersFileName("Transfers.cfg");
// An entry list longer than this makes the file damaged.
inline constexpr uint32_t MaxEntryListBytes = 104857600;

// One row of the transfers list as the file keeps it.
struct TransferListRow
{
    Transfer transfer;
    QString contactText; // the "Contact" column, "%s (%s)"
};

struct TransferListHooks
{
    // Starts a folder walk over t.senderPath that fills t.entries and
    // returns the walk's identifier (0 when none could start). The walk's
    // reports reach the caller's thread only after the load has returned.
    std::function<uint32_t(Transfer& t)> startCalculation;
    // True when a contact with this uid is on the contact list.
    std::function<bool(const QByteArray& uid)> contactKnown;
};

// Writes the list, top row first, crash-safe: the new file replaces the old
// one only when it was written whole. Any failure keeps the previous file
// as it was and shows "Unable to write to "Transfers.cfg" file!" ("Disk
// Write Error"). A folder's entries are written under its lock, and only
// when no walk runs for it; a list too long for the reader is left out and
// the row is stored as one whose walk had not finished, so that loading
// starts the walk again.
bool SaveTransferList(const QString& path, const QList<TransferListRow>& rows, ProfileUi* ui);

// Reads the list in file order. A missing file gives no rows, silently. A
// damaged one (bad version, short, a text or entry list over its bound) is
// deleted and reported ("Unable to load "Transfers.cfg" file!", "Disk Read
// Error"); the rows read before the damage are returned.
//
// A transfer that was running when the list was saved (Transferring or
// Waiting) comes back Failed with "Transfer Incomplete". A folder send saved
// while its walk ran comes back with sizeUnknown set, a new entry list and
// a new walk (hooks.startCalculation). No other row keeps a walk or session
// identifier.
QList<TransferListRow> LoadTransferList(const QString& path, ProfileUi* ui,
                                        const TransferListHooks& hooks = {});

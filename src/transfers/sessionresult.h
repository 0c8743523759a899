#pragma once

#include "transfers/transfer.h"

#include <QString>

// The code that ends a file session; it travels in the status message and
// decides the row's state and status text afterwards.
namespace SessionResult {
inline constexpr int SocketClosed = 0;
inline constexpr int Denied = 1;
inline constexpr int PeerCannotWrite = 2;
inline constexpr int TransmitError = 3;
inline constexpr int PeerHasFile = 4;
inline constexpr int PeerRenameFailed = 9;
inline constexpr int PeerFolderFailed = 10;
inline constexpr int WriteError = 11;
inline constexpr int SocketDied = 12;
inline constexpr int Canceled = 13;
inline constexpr int Complete = 14;
} // namespace SessionResult

struct SessionOutcome
{
    QString statusText;
    TransferState state;
};

// What a row becomes when its session ends with code; codes without a
// meaning of their own read as a lost connection.
SessionOutcome SessionResultOutcome(int code);

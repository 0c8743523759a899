#include "transfers/sessionresult.h"

SessionOutcome SessionResultOutcome(int code)
{
    using S = TransferState;
    switch (code) {
    case SessionResult::Denied:
        return {QStringLiteral("Transfer Denied"), S::ManualRetry};
    case SessionResult::PeerCannotWrite:
        return {QStringLiteral("Peer cannot write to file"), S::ManualRetry};
    case SessionResult::TransmitError:
        return {QStringLiteral("Transmit Error"), S::Failed};
    case SessionResult::PeerHasFile:
        return {QStringLiteral("Peer already has the file"), S::ManualRetry};
    case SessionResult::PeerRenameFailed:
        return {QStringLiteral("Peer failed renaming file"), S::ManualRetry};
    case SessionResult::PeerFolderFailed:
        return {QStringLiteral("Peer failed creating directory"), S::ManualRetry};
    case SessionResult::WriteError:
        return {QStringLiteral("Error Writing"), S::ManualRetry};
    case SessionResult::SocketDied:
        return {QStringLiteral("Socket Died"), S::Failed};
    case SessionResult::Canceled:
        return {QStringLiteral("Transfer Canceled"), S::Canceled};
    case SessionResult::Complete:
        return {QStringLiteral("Transfer Complete"), S::Completed};
    default:
        return {QStringLiteral("Socket Closed"), S::Failed};
    }
}

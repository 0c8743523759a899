#pragma once

// What the parts of the transfer manager (transfermanager.cpp,
// transfersessionreports.cpp) share. Not for use elsewhere.

#include "transfers/transfer.h"

#include <QString>

namespace TransferManagerDetail {

inline const QString CalculatingText = QStringLiteral("Calculating...");
inline const QString IdleSpeedText = QStringLiteral("0 KB/s");

inline bool isRunningState(TransferState s)
{
    return s == TransferState::Waiting || s == TransferState::Transferring ||
           s == TransferState::Connecting;
}

inline bool isIncomplete(TransferState s)
{
    return s == TransferState::Failed || s == TransferState::Canceled ||
           s == TransferState::ManualRetry;
}

// Own paths name files of this machine, where letter case tells files apart;
// the peer's paths may come from a system where it does not.
inline bool sameLocalPath(const QString& a, const QString& b)
{
    return a == b;
}

inline bool samePeerPath(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

inline QString withoutTrailingSeparators(QString path)
{
    while (path.size() > 1 && (path.endsWith(u'/') || path.endsWith(u'\\')))
        path.chop(1);
    return path;
}

} // namespace TransferManagerDetail

#pragma once

// Shared by the transfer fuzzers: two records compare equal in everything
// the byte images and the list file carry.

#include "transfers/transfer.h"

#include <cstdio>
#include <cstdlib>

namespace fuzztransfer {

[[noreturn]] inline void fail(const char* what)
{
    std::fprintf(stderr, "transfer round trip differs: %s\n", what);
    std::abort();
}

inline bool sameRecord(const Transfer& a, const Transfer& b)
{
    return EncodeTransfer(a) == EncodeTransfer(b) && a.statusText == b.statusText &&
           a.senderPath == b.senderPath && a.savedPath == b.savedPath;
}

// Invalid UTF-8 grows when it is read as replacement characters; such a
// text may no longer fit the stored bound and is then cut on writing.
inline bool fitsStoredText(const QString& text)
{
    return text.toUtf8().size() <= MaxTransferTextBytes;
}

} // namespace fuzztransfer

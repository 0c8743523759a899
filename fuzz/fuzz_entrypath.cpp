// A folder entry's path comes from the peer: whatever the bytes, it is
// either refused or becomes a relative path that stays inside the folder it
// is joined to, and goes back on the wire as the same path.

#include "transfers/acceptresume.h"
#include "transfers/pathguard.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fail(const char* what, const QString& path)
{
    std::fprintf(stderr, "entry path: %s: %s\n", what, path.toUtf8().constData());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray wire(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::optional<QString> relative = SafeRelativePath(wire);
    if (!relative)
        return 0;
    if (relative->isEmpty() || relative->startsWith(u'/'))
        fail("empty or absolute", *relative);
    for (const QString& part : relative->split(u'/')) {
        if (part.isEmpty() || part == u"." || part == u"..")
            fail("bad component", *relative);
    }
    // A folder that does not exist: the check stays in memory.
    const QString base = QStringLiteral("/zephlink-fuzz-missing/inbox");
    if (!IsPathInside(base, base + u'/' + *relative))
        fail("leaves the folder", *relative);
    if (SafeRelativePath(WireRelativePath(*relative)) != relative)
        fail("wire round trip", *relative);
    return 0;
}

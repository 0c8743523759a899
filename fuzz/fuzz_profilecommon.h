#pragma once

// Shared by the profile-file fuzzers: each input becomes the file in a
// scratch profile folder, then the file's loader runs over it. A file that
// loads is written back and must load again to the same values.

#include "profile/profilestore.h"

#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace fuzzprofile {

inline ProfileStore& store()
{
    static QTemporaryDir* dir = [] {
        QLoggingCategory::setFilterRules(QStringLiteral("zephlink.*=false"));
        // Memory-backed when there is such a place: the loaders read real files.
        const QString base = QDir(QStringLiteral("/dev/shm")).exists()
                                 ? QStringLiteral("/dev/shm/zl-fuzz-XXXXXX")
                                 : QDir::tempPath() + QStringLiteral("/zl-fuzz-XXXXXX");
        return new QTemporaryDir(base);
    }();
    static ProfileStore s(dir->path(), nullptr);
    return s;
}

inline void put(QLatin1StringView fileName, const uint8_t* data, size_t size)
{
    QFile f(store().filePath(fileName));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        abort();
    f.write(reinterpret_cast<const char*>(data), qint64(size));
}

[[noreturn]] inline void fail(const char* what)
{
    fprintf(stderr, "profile round trip differs: %s\n", what);
    abort();
}

// The loaders of Messages, QueMsgs and WindowPos check their count against
// the contact list; two contacts give the fuzzer a count to find.
inline QList<Contact> twoContacts()
{
    return {NewContact(), NewContact()};
}

inline const Settings& defaultSettings()
{
    static const Settings s = Settings::defaults();
    return s;
}

} // namespace fuzzprofile

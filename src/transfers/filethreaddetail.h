#pragma once

// Small helpers the parts of a file session (filethread.cpp, filereceive.cpp,
// filesendpump.cpp, folderentries.cpp) share. Not for use elsewhere.

#include "transfers/filehandle.h"
#include "transfers/filethread.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

class FolderGuard;
class QTcpSocket;
struct Transfer;

namespace FileThreadDetail {

int32_t Now();
QByteArray Uint32Payload(uint32_t value);
QByteArray Uint64Payload(uint64_t value);
// A saved path this side gave out earlier: an absolute local path without
// ".." parts. Anything else is not ours, whatever our list says.
bool IsPlainAbsolutePath(const QString& path);
// What tells that a file changed: its identity, size and modification time.
FileStamp StampOf(const QString& path);
// Opens a folder entry the sender may read: a readable regular file that
// really lies inside the folder being sent, checked on the opened file.
// stamp: the opened file's stamp. Not open when the entry is not sendable.
FileHandle OpenSendableEntry(const FolderGuard& root, const QString& full, FileStamp& stamp);
// An open entry was removed or cut below size since it was opened.
bool IsGoneOrShorter(const FileHandle& file, uint64_t size);
// Writes all of data to fd; false (errno set) on a failure.
bool WriteAll(int fd, const char* data, qint64 size);

} // namespace FileThreadDetail

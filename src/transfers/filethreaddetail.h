#pragma once

// Small helpers the parts of a file session (filethread.cpp, filereceive.cpp,
// filesendpump.cpp, folderentries.cpp) share. Not for use elsewhere.

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
// A folder entry the sender may read: a readable regular file that really
// lies inside the folder being sent. stamp: the file's stamp from the same
// look-up, when given.
bool IsSendableEntry(const FolderGuard& root, const QString& full, FileStamp* stamp = nullptr);
// Acknowledges what has arrived at once instead of after the delayed-ACK time.
void AcknowledgeNow(const QTcpSocket* socket);

} // namespace FileThreadDetail

#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdint>

// Identical files are recognised by size plus the checksum of their first
// MiB, so a file need not be read whole to be skipped or resumed.
inline constexpr qint64 HeadCrcChunk = 4096;
inline constexpr int HeadCrcMaxChunks = 256;
inline constexpr qint64 HeadCrcMaxBytes = HeadCrcChunk * HeadCrcMaxChunks; // 1 MiB

// CRC-32 of the kind zlib computes (reflected 0x04C11DB7, start 0xFFFFFFFF,
// final complement), continued from crc (0 for a new checksum).
uint32_t Crc32(QByteArrayView data, uint32_t crc = 0);

// CRC-32 of at most the first MiB of a regular file; 0 when the file cannot
// be opened, is empty or is not a regular file (a pipe or device would
// block or never end).
uint32_t HeadCrc(const QString& path);
// The same for a regular file open at fd, read from its current position:
// at most the first MiB, and no more than size, the size the caller stated
// for it (a file that grows meanwhile is read as far as stated). Leaves the
// bytes it read in head (none when it gives 0), for a caller that sends them
// next; head keeps its capacity from call to call.
uint32_t HeadCrcOfOpen(int fd, qint64 size, QByteArray& head);

// Size of a regular file (a symbolic link counts as what it points to);
// 0 when the path does not exist or names anything else.
uint64_t FileSize(const QString& path);

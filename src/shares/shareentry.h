#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>
#include <optional>

// One listed file or folder of a share listing, as it travels in an entry
// frame: the full path with its NUL, int32 folder flag, uint32 HeadCrc
// (0 for folders), int64 modification time (0 when unknown), uint64 size
// (0 for folders); all little-endian and unaligned, path length + 25 bytes.
struct ShareEntry
{
    QByteArray path;
    bool folder = false;
    uint32_t crc = 0;
    int64_t modified = 0;
    uint64_t size = 0;

    static constexpr int FixedSize = 25; // beside the path's characters

    QByteArray encode() const;
    // Nothing when the payload has no NUL or is too short for the fields
    // after it.
    static std::optional<ShareEntry> decode(QByteArrayView payload);

    friend bool operator==(const ShareEntry&, const ShareEntry&) = default;
};

// Payloads of the requests: a text with its NUL; the search request is
// pattern, path, then the int32 sub-folder flag.
QByteArray ShareTextPayload(const QByteArray& text);
QByteArray ShareSearchPayload(const QByteArray& pattern, const QByteArray& path, bool subFolders);
// The text before the first NUL (the whole payload when there is none).
QByteArray ShareTextOf(QByteArrayView payload);
struct ShareSearchRequest
{
    QByteArray pattern;
    QByteArray path;
    bool subFolders = false;
};
// Nothing when a NUL or the flag is missing.
std::optional<ShareSearchRequest> DecodeShareSearch(QByteArrayView payload);

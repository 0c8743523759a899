#pragma once

#include <QByteArray>

#include <cstdint>
#include <utility>

// Splits the byte stream after the key handshake into frames:
//   type (1 byte, 1..255), length N (4 bytes, little-endian), N sealed bytes.
// A zero byte where a type is expected is a keep-alive and vanishes.
// A length of 0 is no frame: the receiver reads the next 4 bytes as the length.
//
// Pure parser: fed arbitrary pieces, it assembles types, lengths and bodies
// however the stream was split, and returns after every complete frame so the
// caller can change how the following bytes are read (raw file data).
//
// Limits:
//  - A length above MaxFrameLength (64 MiB) is an error; the connection must
//    be closed. No message of the protocol comes near that size.
//  - A sealed payload of 4 bytes or fewer holds no plain byte and cannot be
//    opened; such a frame is read completely and dropped, never handed on.
//  - The body grows with the bytes that actually arrive (up to the announced
//    length), so a peer that announces a large frame and sends nothing costs
//    at most InitialReserve bytes.
class FrameReceiver
{
public:
    static constexpr uint32_t MaxFrameLength = 64u * 1024u * 1024u;
    static constexpr qsizetype InitialReserve = 1024 * 1024;
    static constexpr uint32_t MinSealedLength = 5;

    enum class Status {
        NeedMore, // all bytes consumed, no complete frame yet
        Frame,    // a frame is complete: frameType() and takeBody()
        Error,    // the stream is unusable (length too large); stays so
    };

    struct Result
    {
        Status status;
        qsizetype consumed;
    };

    // Consumes bytes up to the end of the next complete frame (Frame), or all
    // of them (NeedMore), or up to the offending length (Error).
    Result feed(const char* data, qsizetype size);

    // The frame completed by the last feed() that returned Frame.
    uint8_t frameType() const { return m_readyType; }
    QByteArray takeBody() { return std::exchange(m_readyBody, QByteArray()); }

    // True between frames: no part of a frame has been read.
    bool isBetweenFrames() const { return m_stage == Stage::Type && !m_failed; }
    bool hasFailed() const { return m_failed; }
    // Memory held for the frame being received.
    qsizetype bodyCapacity() const { return m_body.capacity(); }
    // The length announced by the peer that caused the error.
    uint32_t rejectedLength() const { return m_rejectedLength; }

private:
    enum class Stage { Type, Length, Body };

    Stage m_stage = Stage::Type;
    uint8_t m_type = 0;
    uint8_t m_lengthBytes[4] = {};
    int m_lengthReceived = 0;
    uint32_t m_length = 0;
    QByteArray m_body;

    uint8_t m_readyType = 0;
    QByteArray m_readyBody;

    bool m_failed = false;
    uint32_t m_rejectedLength = 0;
};

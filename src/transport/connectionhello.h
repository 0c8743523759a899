#pragma once

#include <QByteArray>

#include <array>
#include <cstdint>

// The first 10 bytes of every peer connection, sent raw by the side that opens
// it: "ZLK6" "000" 0x1B 0x00, then the session kind.
namespace ConnectionHello {

constexpr int Size = 10;
constexpr int FixedSize = 9;

enum Kind : uint8_t {
    Chat = 0,
    File = 1,
    Browse = 2,
};
constexpr int KindCount = 3;

constexpr std::array<char, FixedSize> FixedBytes{'Z', 'L', 'K', '6', '0', '0', '0', '\x1B', '\0'};

QByteArray encodeHello(uint8_t kind);

} // namespace ConnectionHello

// Assembles a hello from however many pieces it arrives in and checks it.
// Never consumes a byte beyond the 10 hello bytes: what follows belongs to the
// session.
class HelloReader
{
public:
    enum class Status {
        NeedMore, // fewer than 10 bytes so far, all of them as expected
        Valid,    // 10 bytes, fixed part equal, kind 0..2
        Invalid,  // a fixed byte differs, or the kind is 3 or higher
    };

    // Consumes at most missing() bytes; returns how many were consumed.
    // After Valid or Invalid nothing more is consumed.
    qsizetype feed(const char* data, qsizetype size);

    Status status() const { return m_status; }
    // Bytes still missing from the hello (0 once Valid or Invalid).
    int missing() const;
    // The session kind; meaningful when Valid.
    uint8_t kind() const { return m_kind; }

private:
    Status m_status = Status::NeedMore;
    int m_received = 0;
    uint8_t m_kind = 0;
};

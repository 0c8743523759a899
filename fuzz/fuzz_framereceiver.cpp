// Feeds arbitrary bytes to the frame receiver and the hello reader, once whole
// and once cut into pieces of random sizes; both runs must yield the same
// frames, and every frame handed on must open with a keyed cipher.

#include "transport/connectionhello.h"
#include "transport/framereceiver.h"
#include "transport/packetcipher.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

struct Outcome
{
    std::vector<std::pair<uint8_t, QByteArray>> frames;
    qsizetype errorAt = -1;
    bool operator==(const Outcome&) const = default;
};

// Piece sizes from a small generator seeded by the input.
struct Splitter
{
    uint32_t state;
    qsizetype next()
    {
        state = state * 1103515245u + 12345u;
        const uint32_t r = (state >> 16) & 0x7FFF;
        // Mostly tiny pieces, sometimes large ones.
        return (r & 7) == 0 ? qsizetype(r % 4096) + 1 : qsizetype(r % 6) + 1;
    }
};

Outcome run(const char* data, qsizetype size, Splitter* splitter)
{
    Outcome outcome;
    FrameReceiver receiver;
    qsizetype at = 0;
    while (at < size) {
        const qsizetype piece = splitter ? std::min(splitter->next(), size - at) : size - at;
        qsizetype used = 0;
        while (used < piece) {
            const auto result = receiver.feed(data + at + used, piece - used);
            if (result.consumed < 0 || result.consumed > piece - used)
                abort();
            used += result.consumed;
            if (result.status == FrameReceiver::Status::Error) {
                outcome.errorAt = at + used;
                if (receiver.rejectedLength() <= FrameReceiver::MaxFrameLength)
                    abort();
                return outcome;
            }
            if (result.status == FrameReceiver::Status::Frame) {
                const uint8_t type = receiver.frameType();
                QByteArray body = receiver.takeBody();
                if (type == 0 || body.size() < qsizetype(FrameReceiver::MinSealedLength))
                    abort();
                outcome.frames.emplace_back(type, body);
            } else if (used != piece) {
                abort(); // NeedMore takes everything it was given
            }
            if (receiver.bodyCapacity() > FrameReceiver::InitialReserve &&
                receiver.bodyCapacity() > 2 * (piece + size))
                abort(); // memory must follow the bytes that arrived
        }
        at += piece;
    }
    return outcome;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    Splitter splitter{uint32_t(data[0]) | uint32_t(data[1]) << 8};
    const char* stream = reinterpret_cast<const char*>(data + 2);
    const qsizetype n = qsizetype(size - 2);

    const Outcome whole = run(stream, n, nullptr);
    const Outcome split = run(stream, n, &splitter);
    if (!(whole == split))
        abort();

    PacketCipher cipher;
    cipher.SetKey(QByteArrayLiteral("QRT482LMN"));
    for (auto frame : whole.frames) {
        const qsizetype sealed = frame.second.size();
        if (!cipher.Open(frame.second) || frame.second.size() != sealed - 4)
            abort();
    }

    // The hello reader never takes more than the hello, however it is cut.
    HelloReader wholeHello;
    const qsizetype usedWhole = wholeHello.feed(stream, n);
    HelloReader splitHello;
    qsizetype usedSplit = 0;
    for (qsizetype at = 0; at < n;) {
        const qsizetype piece = std::min(splitter.next(), n - at);
        usedSplit += splitHello.feed(stream + at, piece);
        at += piece;
    }
    if (usedWhole > ConnectionHello::Size || usedWhole != usedSplit ||
        wholeHello.status() != splitHello.status() ||
        (wholeHello.status() == HelloReader::Status::Valid &&
         (wholeHello.kind() != splitHello.kind() || wholeHello.kind() > 2)))
        abort();
    return 0;
}

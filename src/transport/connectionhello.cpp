#include "connectionhello.h"

namespace ConnectionHello {

QByteArray encodeHello(uint8_t kind)
{
    QByteArray hello(FixedBytes.data(), FixedSize);
    hello.append(static_cast<char>(kind));
    return hello;
}

} // namespace ConnectionHello

int HelloReader::missing() const
{
    return m_status == Status::NeedMore ? ConnectionHello::Size - m_received : 0;
}

qsizetype HelloReader::feed(const char* data, qsizetype size)
{
    qsizetype used = 0;
    while (m_status == Status::NeedMore && used < size) {
        const char byte = data[used++];
        if (m_received < ConnectionHello::FixedSize) {
            // A wrong byte condemns the hello at once; no need to wait for the rest.
            if (byte != ConnectionHello::FixedBytes[static_cast<size_t>(m_received)])
                m_status = Status::Invalid;
            ++m_received;
        } else {
            m_kind = static_cast<uint8_t>(byte);
            ++m_received;
            m_status = m_kind < ConnectionHello::KindCount ? Status::Valid : Status::Invalid;
        }
    }
    return used;
}

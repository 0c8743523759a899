#include "framereceiver.h"

#include <QtEndian>

#include <algorithm>

FrameReceiver::Result FrameReceiver::feed(const char* data, qsizetype size)
{
    if (m_failed)
        return {Status::Error, 0};

    qsizetype used = 0;
    while (used < size) {
        switch (m_stage) {
        case Stage::Type:
            m_type = static_cast<uint8_t>(data[used++]);
            if (m_type != 0) {
                m_stage = Stage::Length;
                m_lengthReceived = 0;
            }
            break;

        case Stage::Length: {
            const qsizetype take = std::min<qsizetype>(4 - m_lengthReceived, size - used);
            std::copy_n(data + used, take, m_lengthBytes + m_lengthReceived);
            used += take;
            m_lengthReceived += static_cast<int>(take);
            if (m_lengthReceived < 4)
                break;
            m_lengthReceived = 0;
            m_length = qFromLittleEndian<uint32_t>(m_lengthBytes);
            if (m_length == 0)
                break; // still waiting for a length
            if (m_length > MaxFrameLength) {
                m_failed = true;
                m_rejectedLength = m_length;
                return {Status::Error, used};
            }
            m_body = QByteArray();
            m_body.reserve(std::min<qsizetype>(m_length, InitialReserve));
            m_stage = Stage::Body;
            break;
        }

        case Stage::Body: {
            const qsizetype missing = static_cast<qsizetype>(m_length) - m_body.size();
            const qsizetype take = std::min(missing, size - used);
            if (m_body.size() + take > m_body.capacity()) {
                m_body.reserve(std::min<qsizetype>(
                    m_length, std::max(m_body.capacity() * 2, m_body.size() + take)));
            }
            m_body.append(data + used, take);
            used += take;
            if (m_body.size() < static_cast<qsizetype>(m_length))
                break;

            m_stage = Stage::Type;
            m_length = 0;
            if (m_body.size() < static_cast<qsizetype>(MinSealedLength)) {
                m_body = QByteArray();
                break;
            }
            m_readyType = m_type;
            m_readyBody = std::exchange(m_body, QByteArray());
            m_type = 0;
            return {Status::Frame, used};
        }
        }
    }
    return {Status::NeedMore, used};
}

#include "typingdetector.h"

std::optional<int> TypingDetector::textChanged(bool hasText)
{
    const bool had = m_hadText;
    m_hadText = hasText;
    if (had == hasText)
        return std::nullopt;
    return report(hasText ? 1 : 0);
}

std::optional<int> TypingDetector::focusGained(bool hasText)
{
    m_hadText = hasText;
    if (!hasText)
        return std::nullopt;
    return report(1);
}

std::optional<int> TypingDetector::focusLost()
{
    return report(0);
}

std::optional<int> TypingDetector::report(int flag)
{
    if (m_suppressed || flag == m_lastFlag)
        return std::nullopt;
    m_lastFlag = flag;
    return flag;
}

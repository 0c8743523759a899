#pragma once

#include <optional>

// Decides when a message input reports its typing flag: 1 when its text goes
// from empty to non-empty or when it gains the focus holding text, 0 when the
// text becomes empty again or the focus leaves. A report that would repeat the
// last one is not made, and nothing is reported while the suppress flag is
// set (history panes never report).
class TypingDetector
{
public:
    // Each returns the flag to report, if any.
    std::optional<int> textChanged(bool hasText);
    std::optional<int> focusGained(bool hasText);
    std::optional<int> focusLost();

    void setSuppressed(bool on) { m_suppressed = on; }
    bool suppressed() const { return m_suppressed; }
    // The last flag reported (0 before the first report).
    int lastFlag() const { return m_lastFlag; }

private:
    std::optional<int> report(int flag);

    bool m_suppressed = false;
    bool m_hadText = false;
    int m_lastFlag = 0;
};

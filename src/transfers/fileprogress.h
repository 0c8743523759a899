#pragma once

#include <QString>

#include <array>
#include <cstdint>

// What one progress tick shows: the "Progress" and "Speed" columns, the
// status text (time left) and the percentage.
struct ProgressReport
{
    QString progressText;
    QString speedText;
    QString statusText;
    int32_t percent = -1;
    double speed = 0;
    // Ticks in a row without any progress, this one included.
    int stallTicks = 0;
};

// "%.0fdays %.0fhr %.0fmin %.0fsec" for a number of seconds.
QString TimeLeftText(double seconds);

// The progress figures of one file session, fed once a second: the speed is
// the mean of the last five per-second byte counts, so one slow second does
// not make the time left jump.
class ProgressMeter
{
public:
    static constexpr int SampleCount = 5;

    // Where counting starts (bytesDone when the data phase begins).
    void start(uint64_t bytesDone);
    // One tick at this bytesDone; remembers it for the next one.
    ProgressReport tick(uint64_t bytesDone, uint64_t totalSize, bool sizeUnknown);

    uint64_t lastBytes() const { return m_lastBytes; }

private:
    uint64_t m_lastBytes = 0;
    int m_stallTicks = 0;
    // Newest first; 0 = no sample yet.
    std::array<double, SampleCount> m_samples{};
};

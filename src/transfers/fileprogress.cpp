#include "transfers/fileprogress.h"

#include "transfers/transferformat.h"

#include <cmath>

namespace {

// Each sample is the bytes of one tick plus this, so that a tick without
// progress still counts as a sample.
constexpr double SampleFloor = 0.001;

} // namespace

QString TimeLeftText(double t)
{
    const double days = std::floor(t / 86400);
    const double hours = std::floor(t / 3600) - 24 * days;
    const double minutes = std::floor(t / 60) - 60 * std::floor(t / 3600);
    const double seconds = std::floor(t) - 60 * std::floor(t / 60);
    return QString::asprintf("%.0fdays %.0fhr %.0fmin %.0fsec", days, hours, minutes, seconds);
}

void ProgressMeter::start(uint64_t bytesDone)
{
    m_lastBytes = bytesDone;
}

ProgressReport ProgressMeter::tick(uint64_t bytesDone, uint64_t totalSize, bool sizeUnknown)
{
    ProgressReport r;
    const double delta =
        bytesDone >= m_lastBytes ? static_cast<double>(bytesDone - m_lastBytes) : 0.0;
    for (int i = SampleCount - 1; i > 0; --i)
        m_samples[i] = m_samples[i - 1];
    m_samples[0] = delta + SampleFloor;

    double sum = 0;
    int count = 0;
    for (double s : m_samples) {
        if (s != 0) {
            sum += s;
            ++count;
        }
    }
    r.speed = sum / count;

    // Only the floor in every sample: nothing moved within the window. The
    // mean of equal floors need not be the floor to the last bit.
    const bool noProgress = r.speed < SampleFloor * 1.5;
    if (noProgress || sizeUnknown) {
        r.statusText = QStringLiteral("Calculating...");
    } else {
        const double left = static_cast<double>(totalSize) - static_cast<double>(bytesDone);
        r.statusText = TimeLeftText(left / r.speed);
    }

    if (bytesDone == totalSize) {
        r.progressText = FormatSize(totalSize);
        r.percent = 100;
    } else if (sizeUnknown) {
        r.progressText = FormatSize(bytesDone) + QStringLiteral(" of ?");
        r.percent = -1;
    } else {
        r.progressText = FormatSize(bytesDone) + QStringLiteral(" of ") + FormatSize(totalSize);
        r.percent =
            totalSize == 0
                ? 100
                : static_cast<int32_t>(static_cast<unsigned __int128>(bytesDone) * 100 / totalSize);
    }
    r.speedText = FormatSpeed(r.speed);

    m_stallTicks = bytesDone == m_lastBytes ? m_stallTicks + 1 : 0;
    r.stallTicks = m_stallTicks;
    m_lastBytes = bytesDone;
    return r;
}

#pragma once

#include <QRect>

#include <algorithm>
#include <cstdint>

// A window rectangle as the profile keeps it: four signed words in the order
// left, top, right, bottom, with right and bottom exclusive.
struct StoredRect
{
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;

    bool isNull() const { return left == 0 && top == 0 && right == 0 && bottom == 0; }

    // Widths are clamped so that a damaged file cannot overflow them.
    QRect toQRect() const
    {
        const auto clampInt = [](int64_t v) {
            return static_cast<int>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
        };
        return QRect(left, top, clampInt(int64_t(right) - left), clampInt(int64_t(bottom) - top));
    }
    static StoredRect fromQRect(const QRect& r)
    {
        return {r.x(), r.y(), r.x() + r.width(), r.y() + r.height()};
    }
    friend bool operator==(const StoredRect&, const StoredRect&) = default;
};

#include "shell/staticcolor.h"

#include <QPainter>

CStaticColor::CStaticColor(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CStaticColor::SetText(const QString& text)
{
    if (text == m_text)
        return;
    m_text = text;
    setToolTip(text);
    update();
}

void CStaticColor::SetColours(const QColor& text, const QColor& start, const QColor& end)
{
    m_textColour = text;
    m_start = start;
    m_end = end;
    update();
}

void CStaticColor::SetGradient(const QColor& text, const QColor& start, const QColor& end,
                               int direction, bool mirror)
{
    m_direction = direction;
    m_mirror = mirror;
    SetColours(text, start, end);
}

QColor CStaticColor::stripeColour(const QColor& start, const QColor& end, int i, int length,
                                  bool mirror)
{
    if (length <= 1)
        return start;
    // With mirror the distance from the nearer edge decides, over half the length.
    int pos = i;
    int span = length - 1;
    if (mirror) {
        span = (length - 1) / 2;
        pos = std::min(i, length - 1 - i);
        if (span == 0)
            return start;
    }
    const auto channel = [&](int a, int b) { return a + (b - a) * pos / span; };
    return QColor(channel(start.red(), end.red()), channel(start.green(), end.green()),
                  channel(start.blue(), end.blue()));
}

QColor CStaticColor::lighten(const QColor& colour)
{
    const auto up = [](int c) { return std::min(255, c + (127 - c / 2)); };
    return QColor(up(colour.red()), up(colour.green()), up(colour.blue()));
}

void CStaticColor::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QRect r = rect();
    if (m_start == m_end) {
        p.fillRect(r, m_start);
    } else if (m_direction == LeftToRight) {
        for (int x = 0; x < r.width(); ++x)
            p.fillRect(x, 0, 1, r.height(), stripeColour(m_start, m_end, x, r.width(), m_mirror));
    } else {
        for (int y = 0; y < r.height(); ++y)
            p.fillRect(0, y, r.width(), 1, stripeColour(m_start, m_end, y, r.height(), m_mirror));
    }
    p.setPen(m_textColour);
    p.setFont(font());
    const QString shown =
        fontMetrics().elidedText(m_text, Qt::ElideRight, std::max(0, r.width() - 4));
    p.drawText(r, Qt::AlignCenter | Qt::TextSingleLine, shown);
}

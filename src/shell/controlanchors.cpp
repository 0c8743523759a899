#include "shell/controlanchors.h"

void ControlAnchors::add(QWidget* control, int horizontal, int vertical, bool repaint, bool exclude)
{
    m_entries.append(Entry{control, control->geometry(), horizontal, vertical, repaint, exclude});
}

void ControlAnchors::capture(const QSize& clientSize)
{
    m_captured = clientSize;
    for (Entry& e : m_entries) {
        if (e.control)
            e.rect = e.control->geometry();
    }
}

QRect ControlAnchors::place(const QRect& rect, int horizontal, int vertical, const QSize& change)
{
    QRect r = rect;
    if (horizontal == Stretch)
        r.setWidth(std::max(0, r.width() + change.width()));
    else if (horizontal == Move)
        r.moveLeft(r.left() + change.width());
    if (vertical == Stretch)
        r.setHeight(std::max(0, r.height() + change.height()));
    else if (vertical == Move)
        r.moveTop(r.top() + change.height());
    return r;
}

void ControlAnchors::apply(const QSize& clientSize) const
{
    if (!m_captured.isValid())
        return;
    const QSize change = clientSize - m_captured;
    for (const Entry& e : m_entries) {
        if (!e.control)
            continue;
        e.control->setGeometry(place(e.rect, e.horizontal, e.vertical, change));
        if (e.repaint)
            e.control->update();
    }
}

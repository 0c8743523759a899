#include "shell/splitters.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QRubberBand>

CSplitterBar::CSplitterBar(bool vertical, QWidget* parent) : QWidget(parent), m_vertical(vertical)
{
    setCursor(vertical ? Qt::SizeHorCursor : Qt::SizeVerCursor);
    setFocusPolicy(Qt::NoFocus);
}

void CSplitterBar::setSides(const QList<QWidget*>& before, const QList<QWidget*>& after)
{
    m_before.clear();
    m_after.clear();
    for (QWidget* w : before)
        m_before.append(w);
    for (QWidget* w : after)
        m_after.append(w);
}

void CSplitterBar::setMargins(int before, int after)
{
    m_marginBefore = before;
    m_marginAfter = after;
}

int CSplitterBar::position() const
{
    return m_vertical ? x() : y();
}

QPair<int, int> CSplitterBar::allowedRange() const
{
    const QWidget* parent = parentWidget();
    const int thickness = m_vertical ? width() : height();
    int low = m_marginBefore;
    int high = (parent ? (m_vertical ? parent->width() : parent->height()) : 0) - m_marginAfter -
               thickness;
    for (const auto& w : m_before) {
        if (w)
            low = std::max(low, (m_vertical ? w->x() : w->y()) + m_marginBefore);
    }
    for (const auto& w : m_after) {
        if (w) {
            const int farEdge = m_vertical ? w->x() + w->width() : w->y() + w->height();
            high = std::min(high, farEdge - m_marginAfter - thickness);
        }
    }
    return {low, high};
}

void CSplitterBar::moveTo(int pos)
{
    const int thickness = m_vertical ? width() : height();
    if (m_vertical)
        move(pos, y());
    else
        move(x(), pos);
    for (const auto& w : m_before) {
        if (!w)
            continue;
        QRect r = w->geometry();
        if (m_vertical)
            r.setRight(pos - 2);
        else
            r.setBottom(pos - 2);
        w->setGeometry(r);
    }
    for (const auto& w : m_after) {
        if (!w)
            continue;
        QRect r = w->geometry();
        if (m_vertical)
            r.setLeft(pos + thickness + 1);
        else
            r.setTop(pos + thickness + 1);
        w->setGeometry(r);
    }
    if (parentWidget())
        parentWidget()->update();
}

void CSplitterBar::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::RightButton && m_band) {
        endDrag(false);
        return;
    }
    if (event->button() != Qt::LeftButton || m_band)
        return;
    m_range = allowedRange();
    if (m_range.first > m_range.second)
        return;
    m_grabOffset = along(event->position().toPoint());
    m_target = position();
    m_band = new QRubberBand(QRubberBand::Line, parentWidget());
    m_band->setGeometry(geometry());
    m_band->show();
    grabMouse();
    grabKeyboard();
}

void CSplitterBar::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_band)
        return;
    const int inParent = along(mapToParent(event->position().toPoint()));
    m_target = std::clamp(inParent - m_grabOffset, m_range.first, m_range.second);
    QRect r = geometry();
    if (m_vertical)
        r.moveLeft(m_target);
    else
        r.moveTop(m_target);
    m_band->setGeometry(r);
}

void CSplitterBar::mouseReleaseEvent(QMouseEvent* event)
{
    if (m_band && event->button() == Qt::LeftButton)
        endDrag(true);
}

void CSplitterBar::keyPressEvent(QKeyEvent* event)
{
    if (m_band && event->key() == Qt::Key_Escape)
        endDrag(false);
    else
        QWidget::keyPressEvent(event);
}

void CSplitterBar::endDrag(bool apply)
{
    delete m_band;
    m_band = nullptr;
    releaseMouse();
    releaseKeyboard();
    const int offset = m_target - position();
    if (apply && offset != 0) {
        moveTo(m_target);
        emit moved(offset);
    }
}

void CSplitterBar::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QColor mid = palette().color(QPalette::Mid);
    if (m_vertical) {
        const int cx = width() / 2;
        for (int y = height() / 2 - 10; y <= height() / 2 + 10; y += 5)
            p.fillRect(cx - 1, y, 2, 2, mid);
    } else {
        const int cy = height() / 2;
        for (int x = width() / 2 - 10; x <= width() / 2 + 10; x += 5)
            p.fillRect(x, cy - 1, 2, 2, mid);
    }
}

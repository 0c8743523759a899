#include "shell/progressex.h"

#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>

CProgressEx::CProgressEx(QWidget* parent, bool alternative)
    : QWidget(parent), m_light(alternative ? QColor(95, 188, 223) : QColor(123, 248, 253)),
      m_marqueeTimer(new QTimer(this))
{
    m_marqueeTimer->setInterval(20);
    connect(m_marqueeTimer, &QTimer::timeout, this, [this] {
        m_marqueePos = (m_marqueePos + 1) % 140;
        update();
    });
    setMinimumHeight(12);
}

void CProgressEx::SetRange(int low, int high)
{
    m_low = low;
    m_high = high;
    update();
}

void CProgressEx::SetPos(int position)
{
    if (position == -1) {
        m_marquee = true;
        m_marqueeTimer->start();
    } else if (position == -2) {
        m_marquee = false;
        m_marqueeTimer->stop();
    } else {
        m_pos = position;
    }
    update();
}

void CProgressEx::StepIt()
{
    SetPos(m_pos + m_step);
}

void CProgressEx::SetCaption(const QString& caption)
{
    m_caption = caption;
    update();
}

int CProgressEx::valueAt(int x) const
{
    if (width() <= 0)
        return m_low;
    const qint64 v = qint64(x) * (m_high - m_low) / width() + m_low;
    return int(std::max<qint64>(v, m_low));
}

void CProgressEx::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        emit valueClicked(valueAt(int(event->position().x())));
}

void CProgressEx::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF outer = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const qreal radius = height() / 5.0;
    QPainterPath face;
    face.addRoundedRect(outer.adjusted(1, 1, -1, -1), radius, radius);
    p.setPen(QColor(128, 128, 128));
    p.setBrush(Qt::white);
    p.drawRoundedRect(outer, radius, radius);
    p.setPen(QColor(200, 200, 200));
    p.drawPath(face);

    const QRectF inner = outer.adjusted(2, 2, -2, -2);
    QRectF filled;
    if (m_marquee) {
        const qreal end = inner.width() * m_marqueePos / 100.0;
        const qreal w = inner.width() / 3.0;
        filled = QRectF(inner.left() + end - w, inner.top(), w, inner.height()).intersected(inner);
    } else {
        const qreal part = m_high > 0 ? std::clamp(qreal(m_pos) / m_high, 0.0, 1.0) : 0.0;
        filled = QRectF(inner.left(), inner.top(), inner.width() * part, inner.height());
    }
    QLinearGradient gradient(inner.topLeft(), inner.topRight());
    gradient.setColorAt(0, m_light);
    gradient.setColorAt(1, QColor(4, 10, 132));
    p.setPen(Qt::NoPen);
    p.setClipPath(face);
    p.fillRect(filled, gradient);
    p.setClipping(false);

    if (m_marquee && m_caption.isEmpty())
        return;
    const int percent =
        m_high > 0 ? std::max(0, int(qint64(m_pos) * 100 / m_high)) : std::max(0, m_pos);
    const QString text = m_caption.isEmpty() ? QStringLiteral("%1%").arg(percent) : m_caption;
    const QRect r = rect();
    p.setPen(QColor(240, 240, 240));
    p.drawText(r.translated(1, 1), Qt::AlignCenter, text);
    p.setPen(QColor(75, 75, 75));
    p.drawText(r, Qt::AlignCenter, text);
    p.setClipRect(filled);
    p.setPen(QColor(75, 75, 75));
    p.drawText(r.translated(1, 1), Qt::AlignCenter, text);
    p.setPen(Qt::white);
    p.drawText(r, Qt::AlignCenter, text);
}

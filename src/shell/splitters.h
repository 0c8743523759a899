#pragma once

#include <QList>
#include <QPointer>
#include <QRect>
#include <QWidget>

class QRubberBand;

// A bar the user drags to share space between the controls on its two
// sides. The bar keeps its margins from the window's edge and from the far
// edge of every control on its sides; on release the side controls end one
// pixel before and start one pixel after it.
class CSplitterBar : public QWidget
{
    Q_OBJECT
public:
    // The controls before (left or above) and after (right or below) the bar.
    void setSides(const QList<QWidget*>& before, const QList<QWidget*>& after);
    // Margins before and after; 10 and 10 until set.
    void setMargins(int before, int after);
    int marginBefore() const { return m_marginBefore; }
    int marginAfter() const { return m_marginAfter; }

    // The positions (left or top edge of the bar) a drag may reach; empty
    // range when first > second.
    QPair<int, int> allowedRange() const;
    // Puts the bar at position (clamped to nothing: callers keep the rules)
    // and lays out its neighbours.
    void moveTo(int position);
    int position() const;
    bool vertical() const { return m_vertical; }
    bool dragging() const { return m_band != nullptr; }

signals:
    // The bar moved by offset pixels (the window captures its layout again).
    void moved(int offset);

protected:
    CSplitterBar(bool vertical, QWidget* parent);
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    int along(const QPoint& p) const { return m_vertical ? p.x() : p.y(); }
    void endDrag(bool apply);

    bool m_vertical;
    QList<QPointer<QWidget>> m_before;
    QList<QPointer<QWidget>> m_after;
    int m_marginBefore = 10;
    int m_marginAfter = 10;
    QRubberBand* m_band = nullptr;
    QPair<int, int> m_range;
    int m_grabOffset = 0;
    int m_target = 0;
};

// The bar between the left and right parts of a window.
class CVertSplitter : public CSplitterBar
{
    Q_OBJECT
public:
    explicit CVertSplitter(QWidget* parent = nullptr) : CSplitterBar(true, parent) {}
};

// The bar between the upper and lower parts of a window.
class CHorzSplitter : public CSplitterBar
{
    Q_OBJECT
public:
    explicit CHorzSplitter(QWidget* parent = nullptr) : CSplitterBar(false, parent) {}
};

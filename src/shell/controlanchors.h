#pragma once

#include <QList>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QWidget>

// Keeps controls where they belong when their window changes size: each
// control stays fixed, stretches with the change, or moves with it, per
// direction, measured from the layout captured last.
class ControlAnchors
{
public:
    enum Mode { Fixed = 0, Stretch = 1, Move = 2 };

    void add(QWidget* control, int horizontal, int vertical, bool repaint = false,
             bool exclude = false);
    // Takes every control's current rectangle and the window's client size
    // as the starting point of later changes.
    void capture(const QSize& clientSize);
    // Moves and sizes the controls for a new client size.
    void apply(const QSize& clientSize) const;
    // Where a control captured at rect goes for a change of the client size.
    static QRect place(const QRect& rect, int horizontal, int vertical, const QSize& change);

private:
    struct Entry
    {
        QPointer<QWidget> control;
        QRect rect;
        int horizontal = Fixed;
        int vertical = Fixed;
        bool repaint = false;
        bool exclude = false;
    };
    QList<Entry> m_entries;
    QSize m_captured;
};

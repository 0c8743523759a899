#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

// A one-line text centred on a gradient: the contact line, the typing line
// and the own status label. The tool tip shows the text.
class CStaticColor : public QWidget
{
    Q_OBJECT
public:
    enum Direction { LeftToRight = 0, TopToBottom = 1 };

    explicit CStaticColor(QWidget* parent = nullptr);

    void SetText(const QString& text);
    void SetColours(const QColor& text, const QColor& start, const QColor& end);
    void SetGradient(const QColor& text, const QColor& start, const QColor& end, int direction,
                     bool mirror);

    QString text() const { return m_text; }
    QColor textColour() const { return m_textColour; }
    QColor startColour() const { return m_start; }
    QColor endColour() const { return m_end; }
    bool mirrored() const { return m_mirror; }

    // The colour of stripe i of length stripes: start to end, or with mirror
    // start at both ends and end in the middle.
    static QColor stripeColour(const QColor& start, const QColor& end, int i, int length,
                               bool mirror);
    // Each channel c becomes c + (127 - c / 2), at most 255.
    static QColor lighten(const QColor& colour);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_text;
    QColor m_textColour = Qt::black;
    QColor m_start = Qt::white;
    QColor m_end = Qt::white;
    int m_direction = LeftToRight;
    bool m_mirror = false;
};

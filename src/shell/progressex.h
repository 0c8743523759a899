#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

class QTimer;

// A progress bar drawn with the program's gradient and a centred caption
// that stays readable over both parts; position -1 starts the marquee and
// -2 stops it. A left click reports the value under the cursor.
class CProgressEx : public QWidget
{
    Q_OBJECT
public:
    explicit CProgressEx(QWidget* parent = nullptr, bool alternative = false);

    void SetRange(int low, int high);
    int lower() const { return m_low; }
    int upper() const { return m_high; }
    void SetPos(int position);
    int GetPos() const { return m_pos; }
    void SetStep(int step) { m_step = step; }
    void StepIt();
    // An owner's caption instead of the percentage; empty shows the percentage.
    void SetCaption(const QString& caption);
    bool marquee() const { return m_marquee; }

    // The value under x: x / width * (high - low) + low, not below low.
    int valueAt(int x) const;

signals:
    void valueClicked(int value);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    int m_low = 0;
    int m_high = 100;
    int m_pos = 0;
    int m_step = 1;
    bool m_marquee = false;
    int m_marqueePos = 0;
    QColor m_light;
    QString m_caption;
    QTimer* m_marqueeTimer;
};

#pragma once

#include <QString>
#include <QWidget>

// A static text whose lines may hold "Label:\t\tvalue": the labels stand in
// one column and the values start together in the next, whatever the font,
// as the tab stops of the texts mean them to. Lines without a tab run across
// the whole width.
class CTabbedText : public QWidget
{
    Q_OBJECT
public:
    explicit CTabbedText(const QString& text = QString(), QWidget* parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString& text);
    // Where the values start, in pixels from the left.
    int valueColumn() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_text;
};

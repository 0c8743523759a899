#include "shell/tabbedtext.h"

#include <QPainter>

namespace {

struct Line
{
    QString label; // the whole line when it has no tab
    QString value;
    bool tabbed = false;
};

QList<Line> linesOf(const QString& text)
{
    QList<Line> out;
    for (const QString& l : text.split(QLatin1Char('\n'))) {
        const qsizetype first = l.indexOf(QLatin1Char('\t'));
        if (first < 0) {
            out.append({l, QString(), false});
            continue;
        }
        const qsizetype last = l.lastIndexOf(QLatin1Char('\t'));
        out.append({l.left(first), l.mid(last + 1), true});
    }
    // A text that ends with a line break has no empty last line to show.
    if (out.size() > 1 && !out.last().tabbed && out.last().label.isEmpty())
        out.removeLast();
    return out;
}

} // namespace

CTabbedText::CTabbedText(const QString& text, QWidget* parent) : QWidget(parent), m_text(text) {}

void CTabbedText::setText(const QString& text)
{
    m_text = text;
    updateGeometry();
    update();
}

int CTabbedText::valueColumn() const
{
    const QFontMetrics fm = fontMetrics();
    int widest = 0;
    for (const Line& l : linesOf(m_text)) {
        if (l.tabbed)
            widest = std::max(widest, fm.horizontalAdvance(l.label));
    }
    return widest + fm.averageCharWidth() * 3;
}

QSize CTabbedText::sizeHint() const
{
    const QFontMetrics fm = fontMetrics();
    const int column = valueColumn();
    int width = 0;
    const QList<Line> lines = linesOf(m_text);
    for (const Line& l : lines) {
        width = std::max(width, l.tabbed ? column + fm.horizontalAdvance(l.value)
                                         : fm.horizontalAdvance(l.label));
    }
    return QSize(width + 2, int(lines.size()) * fm.lineSpacing() + 2);
}

void CTabbedText::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setPen(palette().color(QPalette::WindowText));
    const QFontMetrics fm = fontMetrics();
    const int column = valueColumn();
    int y = 1;
    for (const Line& l : linesOf(m_text)) {
        const QRect row(1, y, width() - 2, fm.lineSpacing());
        p.drawText(row, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, l.label);
        if (l.tabbed)
            p.drawText(row.adjusted(column, 0, 0, 0),
                       Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, l.value);
        y += fm.lineSpacing();
    }
}

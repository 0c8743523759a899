#include "shell/listctrlex.h"

#include <QFocusEvent>
#include <QHeaderView>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QRegularExpression>
#include <QStyledItemDelegate>
#include <QTimer>

#include <algorithm>
#include <vector>

namespace {

// Draws the cells of the progress column as a bar with the percentage, or a
// moving block for "-1".
class ProgressDelegate : public QStyledItemDelegate
{
public:
    explicit ProgressDelegate(CListCtrlEx* list) : QStyledItemDelegate(list), m_list(list) {}

    void paint(QPainter* p, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override
    {
        if (index.column() != m_list->progressColumn()) {
            QStyledItemDelegate::paint(p, option, index);
            return;
        }
        const QString text = index.data().toString();
        const QRect cell = option.rect.adjusted(1, 1, -1, -1);
        p->save();
        p->fillRect(option.rect, Qt::white);
        QLinearGradient gradient(cell.topLeft(), cell.topRight());
        gradient.setColorAt(0, QColor(123, 248, 253));
        gradient.setColorAt(1, QColor(4, 10, 132));
        QRect filled;
        if (text == QLatin1String("-1")) {
            const int end = cell.width() * m_list->animationOffset() / 100;
            const int w = cell.width() / 3;
            filled = QRect(cell.left() + end - w, cell.top(), w, cell.height()).intersected(cell);
            p->fillRect(filled, gradient);
        } else {
            const int value = std::clamp(text.toInt(), 0, 100);
            filled = QRect(cell.left(), cell.top(), cell.width() * value / 100, cell.height());
            p->fillRect(filled, gradient);
            const QString label = QStringLiteral("%1%").arg(value);
            p->setFont(m_list->font());
            p->setPen(QColor(240, 240, 240));
            p->drawText(cell.translated(1, 1), Qt::AlignCenter, label);
            p->setPen(QColor(75, 75, 75));
            p->drawText(cell, Qt::AlignCenter, label);
            p->setClipRect(filled);
            p->setPen(QColor(128, 128, 128));
            p->drawText(cell.translated(1, 1), Qt::AlignCenter, label);
            p->setPen(Qt::white);
            p->drawText(cell, Qt::AlignCenter, label);
            p->setClipping(false);
        }
        p->setPen(QColor(128, 128, 128));
        p->drawRect(cell.adjusted(0, 0, -1, -1));
        p->restore();
    }

private:
    CListCtrlEx* m_list;
};

int sign(qint64 v)
{
    return v < 0 ? -1 : (v > 0 ? 1 : 0);
}

} // namespace

CListCtrlEx::CListCtrlEx(QWidget* parent) : QTreeWidget(parent)
{
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setItemDelegate(new ProgressDelegate(this));
    header()->setMinimumSectionSize(25);
    header()->setSectionsClickable(true);
    connect(header(), &QHeaderView::sectionClicked, this, &CListCtrlEx::headerClicked);
    connect(header(), &QHeaderView::sectionHandleDoubleClicked, this, [this](int column) {
        if (column == m_progressColumn)
            setColumnWidth(column, 100);
        else
            resizeColumnToContents(column);
    });
}

int CListCtrlEx::compareText(const QString& a, const QString& b)
{
    return sign(QString::compare(a, b, Qt::CaseInsensitive));
}

int CListCtrlEx::compareNumber(const QString& a, const QString& b)
{
    // Non-numbers count as 0.
    return sign(a.trimmed().toLongLong() - b.trimmed().toLongLong());
}

qint64 CListCtrlEx::dateTimeKey(const QString& input)
{
    if (input.size() < 15 || input.size() > 50)
        return 0;
    QString text = input;
    text.replace(QLatin1Char('('), QLatin1Char(' ')).replace(QLatin1Char(')'), QLatin1Char(' '));
    static const char* const months[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                         "jul", "aug", "sep", "oct", "nov", "dec"};
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    bool pm = false;
    const QStringList words = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString& word : words) {
        if (word.contains(QLatin1Char('/'))) {
            const QStringList parts = word.split(QLatin1Char('/'));
            month = parts.value(0).toInt();
            day = parts.value(1).toInt();
            year = parts.value(2).toInt();
        } else if (word.contains(QLatin1Char(':'))) {
            const QStringList parts = word.split(QLatin1Char(':'));
            hour = parts.value(0).toInt();
            minute = parts.value(1).toInt();
            const QString secs = parts.value(2);
            second = QStringView(secs).left(2).toInt();
            if (secs.size() > 2 && secs.endsWith(QLatin1String("pm"), Qt::CaseInsensitive))
                pm = true;
        } else if (word.compare(QLatin1String("pm"), Qt::CaseInsensitive) == 0) {
            pm = true;
        } else {
            bool number = false;
            const int value = word.toInt(&number);
            if (number && value >= 1901) {
                year = value;
            } else if (number && value > 0) {
                day = value;
            } else if (word.size() >= 3 && word.at(0).isLetter()) {
                const QString start = word.left(3).toLower();
                for (int m = 0; m < 12; ++m) {
                    if (start == QLatin1String(months[m]))
                        month = m + 1;
                }
            }
        }
    }
    if (pm)
        hour += 12;
    const QString digits =
        QString::asprintf("%04d%02d%02d%02d%02d%02d", year, month, day, hour, minute, second);
    return digits.toLongLong();
}

void CListCtrlEx::SetColumnSortType(int column, int type, Compare compare)
{
    m_sortTypes[column] = ColumnSort{type, std::move(compare)};
}

void CListCtrlEx::Sort(int column, bool ascending, int type, Compare compare)
{
    const int count = topLevelItemCount();
    if (count == 0)
        return;
    if (count > SortNoticeRows) {
        m_sortNotice =
            ascending ? QStringLiteral("Ascending Sort...") : QStringLiteral("Descending Sort...");
        viewport()->repaint();
    }
    const auto cmp = [&](const QTreeWidgetItem* a, const QTreeWidgetItem* b) {
        switch (type) {
        case Number:
            return compareNumber(a->text(column), b->text(column));
        case DateTime:
            return sign(dateTimeKey(a->text(column)) - dateTimeKey(b->text(column)));
        case Custom:
            if (compare)
                return compare(a, b);
            [[fallthrough]];
        default:
            return compareText(a->text(column), b->text(column));
        }
    };
    // Snapshot every row with its selection, then put them back in the new
    // order. A stable sort gives the order the row-by-row exchange gives:
    // equal rows never change places.
    std::vector<QTreeWidgetItem*> rows;
    std::vector<QTreeWidgetItem*> selected;
    QTreeWidgetItem* current = currentItem();
    const QList<QTreeWidgetItem*> sel = selectedItems();
    selected.assign(sel.begin(), sel.end());
    rows.reserve(size_t(count));
    for (int i = count - 1; i >= 0; --i)
        rows.push_back(takeTopLevelItem(i));
    std::reverse(rows.begin(), rows.end());
    std::stable_sort(rows.begin(), rows.end(), [&](QTreeWidgetItem* a, QTreeWidgetItem* b) {
        return ascending ? cmp(a, b) < 0 : cmp(b, a) < 0;
    });
    for (QTreeWidgetItem* item : rows)
        addTopLevelItem(item);
    if (current)
        setCurrentItem(current, 0, QItemSelectionModel::NoUpdate);
    for (QTreeWidgetItem* item : selected)
        item->setSelected(true);
    m_sortNotice.clear();
    viewport()->update();
}

void CListCtrlEx::headerClicked(int column)
{
    if (column == m_lastColumn)
        m_ascending = !m_ascending;
    else
        m_ascending = true;
    m_lastColumn = column;
    const auto it = m_sortTypes.find(column);
    if (it == m_sortTypes.end())
        Sort(column, m_ascending);
    else
        Sort(column, m_ascending, it->second.type, it->second.compare);
}

void CListCtrlEx::SetProgressColumn(int column)
{
    m_progressColumn = column;
    if (column >= 0 && !m_animation) {
        m_animation = new QTimer(this);
        m_animation->setInterval(50);
        connect(m_animation, &QTimer::timeout, this, &CListCtrlEx::advanceAnimation);
        m_animation->start();
    } else if (column < 0 && m_animation) {
        m_animation->stop();
    }
}

void CListCtrlEx::advanceAnimation()
{
    m_animationOffset += 2;
    if (m_animationOffset > 140)
        m_animationOffset = 0;
    if (m_progressColumn < 0)
        return;
    for (int i = 0; i < topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = topLevelItem(i);
        if (item->text(m_progressColumn) == QLatin1String("-1")) {
            const QRect r = visualItemRect(item);
            if (r.intersects(viewport()->rect()))
                viewport()->update(r);
        }
    }
}

void CListCtrlEx::DeselectAll()
{
    clearSelection();
    setCurrentItem(nullptr, 0, QItemSelectionModel::NoUpdate);
}

void CListCtrlEx::paintEvent(QPaintEvent* event)
{
    if (m_sortNotice.isEmpty()) {
        QTreeWidget::paintEvent(event);
        return;
    }
    QPainter p(viewport());
    p.fillRect(viewport()->rect(), palette().base());
    QFont f(QStringLiteral("Verdana"));
    f.setPixelSize(13);
    f.setBold(true);
    p.setFont(f);
    p.setPen(Qt::black);
    p.drawText(8, 5 + QFontMetrics(f).ascent(), m_sortNotice);
}

void CListCtrlEx::focusInEvent(QFocusEvent* event)
{
    QTreeWidget::focusInEvent(event);
    // The selection shows again as focused rows.
    if (selectedItems().isEmpty() && currentItem())
        currentItem()->setSelected(true);
}

void CListCtrlEx::mousePressEvent(QMouseEvent* event)
{
    QTreeWidget::mousePressEvent(event);
    if (event->button() == Qt::LeftButton)
        emit clicked();
}

void CListCtrlEx::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::EnabledChange)
        header()->setEnabled(isEnabled());
    QTreeWidget::changeEvent(event);
}

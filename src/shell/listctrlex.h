#pragma once

#include <QTreeWidget>

#include <functional>
#include <map>

class QTimer;

// A report list that sorts stably by any column (text, number, date and
// time, or a comparison of the caller's), sorts on header clicks and can
// draw one column as progress bars.
class CListCtrlEx : public QTreeWidget
{
    Q_OBJECT
public:
    enum SortType { Text = 0, Number = 1, DateTime = 2, Custom = 3 };
    // Negative, zero or positive, like a string comparison.
    using Compare = std::function<int(const QTreeWidgetItem*, const QTreeWidgetItem*)>;

    // Above this many rows a sort shows its notice while it runs.
    static constexpr int SortNoticeRows = 400;

    explicit CListCtrlEx(QWidget* parent = nullptr);

    void Sort(int column, bool ascending, int type = Text, Compare compare = {});
    void SetColumnSortType(int column, int type, Compare compare = {});
    void SetProgressColumn(int column);
    int progressColumn() const { return m_progressColumn; }
    void DeselectAll();

    // "Ascending Sort..." or "Descending Sort..." while a long sort runs, else empty.
    QString sortingNotice() const { return m_sortNotice; }
    int animationOffset() const { return m_animationOffset; }

    // The comparisons of the sort types.
    static int compareText(const QString& a, const QString& b);
    static int compareNumber(const QString& a, const QString& b);
    // The text as the number YYYYMMDDhhmmss; 0 for texts it cannot read.
    static qint64 dateTimeKey(const QString& text);

signals:
    // A left button press in the list.
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void headerClicked(int column);
    void advanceAnimation();

    struct ColumnSort
    {
        int type = Text;
        Compare compare;
    };
    std::map<int, ColumnSort> m_sortTypes;
    int m_lastColumn = -1;
    bool m_ascending = true;
    int m_progressColumn = -1;
    int m_animationOffset = 0;
    QTimer* m_animation = nullptr;
    QString m_sortNotice;
};

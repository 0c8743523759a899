#pragma once

#include <QTabWidget>

class CTabChildDlg;

// The tab control of a tabbed dialog: each page is a CTabChildDlg shown
// below the tab row; only the selected page is visible.
class CTabDlgCtrl : public QTabWidget
{
    Q_OBJECT
public:
    explicit CTabDlgCtrl(QWidget* parent = nullptr);

    // Appends a tab with the caption for the page (the control takes it);
    // the first page is shown. Returns the page's index.
    int AddPage(const QString& caption, CTabChildDlg* page);
    // The page at index; null out of range.
    CTabChildDlg* page(int index) const;
};

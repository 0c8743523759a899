#include "shell/tabdlgctrl.h"

#include "shell/tabchilddlg.h"

CTabDlgCtrl::CTabDlgCtrl(QWidget* parent) : QTabWidget(parent) {}

int CTabDlgCtrl::AddPage(const QString& caption, CTabChildDlg* page)
{
    const int index = addTab(page, caption);
    setCurrentIndex(0);
    return index;
}

CTabChildDlg* CTabDlgCtrl::page(int index) const
{
    if (index < 0 || index >= count())
        return nullptr;
    return qobject_cast<CTabChildDlg*>(widget(index));
}

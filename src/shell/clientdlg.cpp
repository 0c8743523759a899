#include "shell/clientdlg.h"

#include "messenger/messengercontroller.h"
#include "shell/icons.h"
#include "shell/listctrlex.h"

#include <QMenu>
#include <QVBoxLayout>

CClientDlg::CClientDlg(MessengerController& controller, QWidget* parent)
    : QWidget(parent, Qt::Window), m_controller(controller)
{
    setWindowTitle(QStringLiteral("Contacts Browsing Our Shares..."));
    setWindowIcon(Icons::programIcon());
    resize(300, 240);
    m_list = new CListCtrlEx(this);
    m_list->setHeaderLabels({QStringLiteral("Contacts")});
    m_list->setRootIsDecorated(false);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setIconSize(QSize(32, 32));
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_list);
    connect(m_list, &QWidget::customContextMenuRequested, this, &CClientDlg::rowMenu);
    refresh();
}

void CClientDlg::refresh()
{
    m_list->clear();
    for (const MessengerController::BrowsingRow& row : m_controller.browsingRows()) {
        auto* item = new QTreeWidgetItem({row.text});
        item->setIcon(0, Icons::programIcon());
        m_list->addTopLevelItem(item);
    }
    m_list->resizeColumnToContents(0);
}

void CClientDlg::showAndRaise()
{
    show();
    raise();
    activateWindow();
}

void CClientDlg::KickUser(int row)
{
    m_controller.KickUser(row);
}

void CClientDlg::rowMenu(const QPoint& pos)
{
    QTreeWidgetItem* item = m_list->itemAt(pos);
    if (!item)
        return;
    const int row = m_list->indexOfTopLevelItem(item);
    QMenu menu(this);
    QAction* kick = menu.addAction(QStringLiteral("Kick User"));
    if (menu.exec(m_list->viewport()->mapToGlobal(pos)) == kick)
        KickUser(row);
}

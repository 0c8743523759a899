#include "shell/clientdlg.h"

#include "messenger/messengercontroller.h"
#include "shell/icons.h"
#include "shell/listctrlex.h"

#include <QMenu>
#include <QVBoxLayout>

CListCtrlEx* ContactsList(QWidget* window)
{
    auto* list = new CListCtrlEx(window);
    list->setHeaderLabels({QStringLiteral("Contacts")});
    list->setRootIsDecorated(false);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setIconSize(QSize(32, 32));
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(list);
    return list;
}

int ContactsRowMenu(CListCtrlEx* list, const QPoint& pos, const QString& item, bool isDefault)
{
    QTreeWidgetItem* row = list->itemAt(pos);
    if (!row)
        return -1;
    QMenu menu(list);
    QAction* action = menu.addAction(item);
    if (isDefault)
        menu.setDefaultAction(action);
    if (menu.exec(list->viewport()->mapToGlobal(pos)) != action)
        return -1;
    return list->indexOfTopLevelItem(row);
}

CClientDlg::CClientDlg(MessengerController& controller, QWidget* parent)
    : QWidget(parent, Qt::Window), m_controller(controller)
{
    setWindowTitle(QStringLiteral("Contacts Browsing Our Shares..."));
    setWindowIcon(Icons::programIcon());
    resize(300, 240);
    m_list = ContactsList(this);
    connect(m_list, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        const int row = ContactsRowMenu(m_list, pos, QStringLiteral("Kick User"), false);
        if (row >= 0)
            KickUser(row);
    });
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

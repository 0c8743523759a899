#include "shell/remotedlg.h"

#include "messenger/messengercontroller.h"
#include "shell/clientdlg.h"
#include "shell/icons.h"
#include "shell/listctrlex.h"

#include <QHeaderView>
#include <QMenu>
#include <QVBoxLayout>

namespace {
constexpr int UidRole = Qt::UserRole + 1;
}

CRemoteDlg* CRemoteDlg::open(MessengerController& controller, QWidget* parent)
{
    auto* dlg = new CRemoteDlg(controller, parent);
    dlg->setAttribute(Qt::WA_DeleteOnClose);
    dlg->show();
    dlg->raise();
    dlg->activateWindow();
    return dlg;
}

CRemoteDlg::CRemoteDlg(MessengerController& controller, QWidget* parent)
    : QWidget(parent, Qt::Window), m_controller(controller)
{
    setWindowTitle(QStringLiteral("Contacts that are sharing folders..."));
    setWindowIcon(Icons::programIcon());
    resize(300, 260);
    m_list = ContactsList(this);

    for (const Contact* c : controller.contacts()) {
        if (!c->peerShares)
            continue;
        auto* item =
            new QTreeWidgetItem({QStringLiteral("%1 (%2)").arg(DisplayName(*c), c->ip.text())});
        item->setIcon(0, Icons::statusIcon(c->status));
        item->setData(0, UidRole, c->uid.bytes());
        m_list->addTopLevelItem(item);
    }
    m_list->resizeColumnToContents(0);

    connect(m_list, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item, int) { viewShares(m_list->indexOfTopLevelItem(item)); });
    connect(m_list, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        const int row = ContactsRowMenu(m_list, pos, QStringLiteral("View Remote Shares"), true);
        if (row >= 0)
            viewShares(row);
    });
}

QByteArray CRemoteDlg::rowUid(int row) const
{
    QTreeWidgetItem* item = m_list->topLevelItem(row);
    return item ? item->data(0, UidRole).toByteArray() : QByteArray();
}

bool CRemoteDlg::viewShares(int row)
{
    if (row < 0 || row >= m_list->topLevelItemCount())
        return false;
    if (!m_controller.ViewRemoteShares(rowUid(row)))
        return false;
    close();
    return true;
}

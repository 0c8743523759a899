#include "shell/xferdlg.h"

#include "shell/fileicons.h"
#include "shell/listctrlex.h"
#include "shell/tabbedtext.h"
#include "shell/windowplace.h"
#include "transfers/transferformat.h"
#include "transfers/transfermanager.h"

#include <QApplication>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QResizeEvent>
#include <QScrollArea>
#include <QSet>
#include <QStyle>
#include <QVBoxLayout>

namespace {

constexpr int KeyRole = Qt::UserRole + 1;

Qt::Alignment alignmentOf(ColumnAlign align)
{
    switch (align) {
    case ColumnAlign::Right:
        return Qt::AlignRight | Qt::AlignVCenter;
    case ColumnAlign::Center:
        return Qt::AlignCenter;
    case ColumnAlign::Left:
        break;
    }
    return Qt::AlignLeft | Qt::AlignVCenter;
}

constexpr int MinColumnWidth = 25;

} // namespace

// --- the properties box ---

CPropDlg::CPropDlg(const QString& text, QWidget* owner)
    : QDialog(owner), m_text(new CTabbedText(text))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Transfer Properties"));
    setWindowIcon(style()->standardIcon(QStyle::SP_MessageBoxInformation));
    // Long paths can be scrolled to; the box keeps its size.
    auto* scroll = new QScrollArea;
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidget(m_text);
    scroll->setWidgetResizable(true);
    scroll->viewport()->setAutoFillBackground(false);
    m_text->setAutoFillBackground(false);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(Margin, Margin, Margin, Margin);
    layout->addWidget(scroll);
    resize(400, 214);
}

QString CPropDlg::text() const
{
    return m_text->text();
}

// --- the transfers window ---

CXferDlg::CXferDlg(TransferManager& manager, QWidget* parent)
    : QWidget(parent, Qt::Window), m_manager(manager), m_list(new CListCtrlEx(this))
{
    setWindowTitle(QStringLiteral("File and Folder Transfers"));
    const QList<TransferColumn>& columns = TransferColumns();
    QStringList titles;
    for (const TransferColumn& c : columns)
        titles.append(c.title);
    m_list->setColumnCount(int(columns.size()));
    m_list->setHeaderLabels(titles);
    m_list->header()->setStretchLastSection(false);
    m_list->header()->setMinimumSectionSize(MinColumnWidth);
    int total = 0;
    for (int i = 0; i < columns.size(); ++i) {
        m_list->setColumnWidth(i, columns[i].width);
        m_list->headerItem()->setTextAlignment(i, alignmentOf(columns[i].align));
        total += columns[i].width;
    }
    m_list->SetProgressColumn(TransferProgressColumn);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    m_list->setIconSize(QSize(16, 16));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_list);
    resize(total + m_list->frameWidth() * 2 + 4, 260);

    for (int i = 0; i < m_manager.rowCount(); ++i)
        insertItem(i);
    connect(&m_manager, &TransferManager::rowInserted, this, &CXferDlg::insertItem);
    connect(&m_manager, &TransferManager::rowChanged, this, &CXferDlg::refreshItem);
    connect(&m_manager, &TransferManager::rowRemoved, this, &CXferDlg::dropRemovedItems);

    connect(m_list, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        const int row = rowOfItem(m_list->itemAt(pos));
        if (row < 0)
            return;
        QMenu* menu = contextMenu(row);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(m_list->viewport()->mapToGlobal(pos));
    });
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        const int row = rowOfItem(item);
        if (row >= 0)
            runCommand(int(TransferCommand::Open), row);
    });
}

QTreeWidgetItem* CXferDlg::itemOfRow(int row) const
{
    if (row < 0 || row >= m_manager.rowCount())
        return nullptr;
    return m_items.value(m_manager.row(row).key);
}

int CXferDlg::rowOfItem(const QTreeWidgetItem* item) const
{
    if (!item)
        return -1;
    return m_manager.rowOfKey(item->data(0, KeyRole).toULongLong());
}

void CXferDlg::fillItem(QTreeWidgetItem* item, int row)
{
    const Transfer& t = m_manager.row(row).transfer;
    const QList<TransferColumn>& columns = TransferColumns();
    for (int c = 0; c < columns.size(); ++c) {
        item->setText(c, m_manager.columnText(row, c));
        item->setTextAlignment(c, alignmentOf(columns[c].align));
    }
    item->setIcon(0, FileTypeIcon(m_manager.columnText(row, 0), t.isFolder != 0));
}

void CXferDlg::insertItem(int row)
{
    auto* item = new QTreeWidgetItem;
    const quint64 key = m_manager.row(row).key;
    item->setData(0, KeyRole, key);
    fillItem(item, row);
    m_items.insert(key, item);
    m_list->insertTopLevelItem(std::min(row, m_list->topLevelItemCount()), item);
}

void CXferDlg::refreshItem(int row)
{
    if (QTreeWidgetItem* item = itemOfRow(row))
        fillItem(item, row);
}

void CXferDlg::dropRemovedItems()
{
    QSet<quint64> live;
    for (int i = 0; i < m_manager.rowCount(); ++i)
        live.insert(m_manager.row(i).key);
    for (auto it = m_items.begin(); it != m_items.end();) {
        if (live.contains(it.key())) {
            ++it;
            continue;
        }
        delete it.value();
        it = m_items.erase(it);
    }
}

QMenu* CXferDlg::contextMenu(int row)
{
    auto* menu = new QMenu(this);
    const quint64 key = m_manager.row(row).key;
    for (const TransferMenuItem& entry : m_manager.MenuItems(row)) {
        if (entry.kind == TransferMenuItem::Separator) {
            menu->addSeparator();
            continue;
        }
        QAction* a = menu->addAction(entry.text);
        a->setEnabled(entry.kind == TransferMenuItem::Command && entry.enabled);
        if (entry.kind != TransferMenuItem::Command)
            continue;
        const int command = int(entry.command);
        a->setData(command);
        connect(a, &QAction::triggered, this, [this, key, command] {
            // The clears do not depend on the row.
            const int at = m_manager.rowOfKey(key);
            if (at >= 0 || command >= int(TransferCommand::ClearCompleted) &&
                               command <= int(TransferCommand::ClearQueued))
                runCommand(command, at);
        });
    }
    return menu;
}

void CXferDlg::runCommand(int command, int row)
{
    m_manager.Command(TransferCommand(command), row);
}

CPropDlg* CXferDlg::showProperties(const QString& text)
{
    auto* box = new CPropDlg(text, this);
    m_boxes.append(box);
    box->show();
    box->raise();
    box->activateWindow();
    return box;
}

QList<CPropDlg*> CXferDlg::propertyBoxes() const
{
    QList<CPropDlg*> out;
    for (const QPointer<CPropDlg>& box : m_boxes) {
        if (box)
            out.append(box);
    }
    return out;
}

void CXferDlg::ShowTransfers(bool activate)
{
    if (isMinimized() || isMaximized()) {
        showNormal();
    } else if (!activate) {
        setAttribute(Qt::WA_ShowWithoutActivating);
        show();
        setAttribute(Qt::WA_ShowWithoutActivating, false);
        return;
    } else {
        show();
    }
    if (activate) {
        raise();
        activateWindow();
    }
}

void CXferDlg::restorePositions(const WindowPositions& windows)
{
    const QList<int> widths = TransferColumnWidths(windows.transferColumnWidths);
    for (int i = 0; i < widths.size(); ++i)
        m_list->setColumnWidth(i, std::max(widths[i], MinColumnWidth));
    if (!windows.moveTransfersWindow())
        return;
    QRect r = windows.transfersWindow.toQRect();
    if (r.width() < 100 || r.height() < 60)
        r.setSize(size());
    PlaceSavedWindow(*this, r);
}

void CXferDlg::storeColumnWidths(WindowPositions& windows) const
{
    windows.transferColumnWidths.clear();
    for (int i = 0; i < m_list->columnCount(); ++i)
        windows.transferColumnWidths.append(int32_t(m_list->columnWidth(i) & 0xFFFF));
}

void CXferDlg::storeRectangle(WindowPositions& windows) const
{
    windows.transfersWindow = StoredRect::fromQRect(QRect(pos(), size()));
}

void CXferDlg::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // The name column takes up the change in width.
    if (event->oldSize().isValid()) {
        const int change = event->size().width() - event->oldSize().width();
        m_list->setColumnWidth(0, std::max(MinColumnWidth, m_list->columnWidth(0) + change));
    }
}

void CXferDlg::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_F1) {
        emit helpRequested();
        return;
    }
    if (event->key() == Qt::Key_Escape) {
        hide();
        return;
    }
    QWidget::keyPressEvent(event);
}

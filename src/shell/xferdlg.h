#pragma once

#include "profile/profilestore.h"

#include <QDialog>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QWidget>

class CListCtrlEx;
class QMenu;
class CTabbedText;
class QTreeWidgetItem;
class TransferManager;

// The properties box of one transfer: a snapshot of its properties text,
// modeless, several may be open at once.
class CPropDlg : public QDialog
{
    Q_OBJECT
public:
    static constexpr int Margin = 5;

    CPropDlg(const QString& text, QWidget* owner);
    QString text() const;

private:
    CTabbedText* m_text;
};

// The transfers window: one row per transfer of the manager, newest on top,
// with the row commands on a context menu. The manager keeps the rows; the
// window follows its signals.
class CXferDlg : public QWidget
{
    Q_OBJECT
public:
    explicit CXferDlg(TransferManager& manager, QWidget* parent = nullptr);

    CListCtrlEx* list() const { return m_list; }
    // The list item showing the manager's row, and the other way round (-1
    // when the item's transfer is gone).
    QTreeWidgetItem* itemOfRow(int row) const;
    int rowOfItem(const QTreeWidgetItem* item) const;

    // The context menu of the manager's row; the caller owns it. Its
    // actions carry their command numbers as data and run on the row they
    // were built for, wherever it moved meanwhile.
    QMenu* contextMenu(int row);
    // A command on the row (double click issues Open).
    void runCommand(int command, int row);

    // Opens another properties box; every box keeps its own snapshot.
    CPropDlg* showProperties(const QString& text);
    QList<CPropDlg*> propertyBoxes() const;

    // Restores the window from minimised or maximised, or shows it; with
    // activate it comes to the front, without it it does not take the focus.
    void ShowTransfers(bool activate);

    // The window rectangle (when its left edge is set) and the column widths.
    void restorePositions(const WindowPositions& windows);
    void storeColumnWidths(WindowPositions& windows) const;
    void storeRectangle(WindowPositions& windows) const;

signals:
    // F1: the main window shows the help.
    void helpRequested();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void insertItem(int row);
    void refreshItem(int row);
    void dropRemovedItems();
    void fillItem(QTreeWidgetItem* item, int row);

    TransferManager& m_manager;
    CListCtrlEx* m_list;
    QHash<quint64, QTreeWidgetItem*> m_items; // by the row's key
    QList<QPointer<CPropDlg>> m_boxes;
};

#pragma once

#include <QWidget>

class CListCtrlEx;
class MessengerController;
class QPoint;
class QString;

// The one-column "Contacts" list with large icons that fills a window.
CListCtrlEx* ContactsList(QWidget* window);
// A row's menu with its one item; the row when it was chosen, else -1.
int ContactsRowMenu(CListCtrlEx* list, const QPoint& pos, const QString& item, bool isDefault);

// "Contacts Browsing Our Shares...": who browses our shared folders right
// now, one row per owner-side browse session. "Kick User" ends a session;
// its row goes when the session has ended.
class CClientDlg : public QWidget
{
    Q_OBJECT
public:
    explicit CClientDlg(MessengerController& controller, QWidget* parent = nullptr);

    CListCtrlEx* list() const { return m_list; }
    // The controller's browsing rows changed.
    void refresh();
    void showAndRaise();
    void KickUser(int row);

private:
    MessengerController& m_controller;
    CListCtrlEx* m_list;
};

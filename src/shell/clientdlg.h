#pragma once

#include <QWidget>

class CListCtrlEx;
class MessengerController;

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
    void rowMenu(const QPoint& pos);

    MessengerController& m_controller;
    CListCtrlEx* m_list;
};

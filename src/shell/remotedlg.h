#pragma once

#include <QByteArray>
#include <QWidget>

class CListCtrlEx;
class MessengerController;

// "Contacts that are sharing folders...": the contacts that told us they
// share something, as they were when the window opened. Choosing one asks
// its chat session for a browse session; the window then closes.
class CRemoteDlg : public QWidget
{
    Q_OBJECT
public:
    // A new window each time, deleted when closed.
    static CRemoteDlg* open(MessengerController& controller, QWidget* parent);

    CRemoteDlg(MessengerController& controller, QWidget* parent = nullptr);

    CListCtrlEx* list() const { return m_list; }
    // The uid a row keeps.
    QByteArray rowUid(int row) const;
    // Double click or "View Remote Shares" on a row: false when a message
    // told why not (the window stays open).
    bool viewShares(int row);

private:
    MessengerController& m_controller;
    CListCtrlEx* m_list;
};

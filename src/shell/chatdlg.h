#pragma once

#include "transfers/transfermanager.h"

#include <QDialog>
#include <QIcon>
#include <QString>
#include <QStringList>

#include <functional>

class CMsgRichEdit2;
class MessengerController;
class QLabel;
class QPushButton;
class QSplitter;
struct Contact;

// One contact's chat window: the contact's history above, the message input
// and Send below the splitter bar, the status line at the bottom. It lives as
// long as the contact; closing it only hides it.
class CChatDlg : public QDialog
{
    Q_OBJECT
public:
    static constexpr int MinWidth = 380;
    static constexpr int MinHeight = 250;
    // The splitter bar never stays closer than this to the window's top.
    static constexpr int MinBarTop = 100;
    // Room the bar leaves to the pane above it and the input below it.
    static constexpr int TopMargin = 60;
    static constexpr int BottomMargin = 25;
    static constexpr int MaxDroppedItems = TransferManager::MaxDropItems;

    // Drop notices, the codes the main window knows them by.
    enum Notice { TooManyFiles = 3, DropFailed = 4 };

    CChatDlg(MessengerController& controller, Contact& contact, QWidget* parent = nullptr);

    Contact& contact() const { return m_contact; }
    CMsgRichEdit2* historyPane() const { return m_history; }
    CMsgRichEdit2* input() const { return m_input; }
    QPushButton* sendButton() const { return m_send; }
    QLabel* statusLine() const { return m_status; }
    QSplitter* splitter() const { return m_splitter; }

    // Restores the window if minimised or maximised (otherwise shows it),
    // brings it to the front and focuses the input.
    void ShowAndFocus();
    // Caption "%s (%s) is %s" and icon from the contact.
    void Refresh();
    // The contact's history got a line: the pane shows it.
    void showLine();
    void setStatusText(const QString& text);
    QString statusText() const;
    // Shown minimised without taking the focus.
    void showInactive();
    void flash();
    bool isForeground() const;
    // The window's rectangle and the splitter bar's into the contact record.
    void storeGeometry();
    // The splitter bar's rectangle in window coordinates.
    QRect barRect() const;
    // Puts the bar's top at y (window coordinates), within the margins.
    void moveBar(int y);

    // The icon for a contact status; without one the window keeps its icon.
    static void setStatusIconProvider(std::function<QIcon(int status)> provider);

    // Dropped files and folders: more than 100 items give the notice
    // TooManyFiles; otherwise the accessible ones go out as transfers
    // (filesDropped) and any other one gives DropFailed.
    void dropItems(const QStringList& paths);

signals:
    void functionKeyPressed(int key);
    void filesDropped(const QStringList& paths);
    // A drop notice for the main window, with its caption and text.
    void notice(int code, const QString& caption, const QString& text);

public slots:
    void send();
    void reject() override;
    void setVisible(bool visible) override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void restoreGeometry();
    void keepBarLowEnough();

    MessengerController& m_controller;
    Contact& m_contact;
    CMsgRichEdit2* m_history = nullptr;
    CMsgRichEdit2* m_input = nullptr;
    QPushButton* m_send = nullptr;
    QLabel* m_status = nullptr;
    QSplitter* m_splitter = nullptr;
    bool m_geometryRestored = false;
};

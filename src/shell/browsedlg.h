#pragma once

#include "shares/remotebrowser.h"

#include <QWidget>

#include <functional>

class CListCtrlEx;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidgetItem;

// The window of one remote share browser: the listing with its three
// columns, the status line, history arrows, Stop/Refresh/Home/Search and the
// three check boxes. Every step goes to the browser logic; the window only
// shows what it reports. Closing the window ends the session (the owner of
// the window is told through the close handler and deletes it later).
class CBrowseDlg : public QWidget, public BrowserView
{
    Q_OBJECT
public:
    static constexpr int MinWidth = 400;
    static constexpr int MinHeight = 210;
    static constexpr int SearchTextLimit = 259;

    CBrowseDlg(RemoteBrowser& browser, std::function<void()> closeHandler,
               QWidget* parent = nullptr);
    ~CBrowseDlg() override;

    RemoteBrowser& browser() const { return m_browser; }
    CListCtrlEx* list() const { return m_list; }
    QLabel* statusLine() const { return m_status; }
    QLineEdit* searchEdit() const { return m_searchText; }
    QPushButton* backButton() const { return m_back; }
    QPushButton* forwardButton() const { return m_forward; }
    QPushButton* stopButton() const { return m_stop; }
    QPushButton* refreshButton() const { return m_refresh; }
    QPushButton* homeButton() const { return m_home; }
    QPushButton* searchButton() const { return m_search; }
    QCheckBox* fullPathsCheck() const { return m_fullPaths; }
    QCheckBox* subDirsCheck() const { return m_subDirs; }
    QCheckBox* exactCheck() const { return m_exact; }

    // The context menu's items for a row: "Open this Folder" (default) and
    // "Download this Folder", or "Download this File" (default).
    static QStringList menuItems(const ShareEntry& entry);
    // Double click or the default menu item on a row.
    void activateRow(int row);
    // The window is going away with its session: the browser is gone, no
    // close handler any more.
    void detach();

    // --- BrowserView ---
    void rowsReset() override;
    void rowsAppended(int first) override;
    void statusChanged(const QString& text) override;
    void stateChanged() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void appendRow(int row);
    void showRow(QTreeWidgetItem* item, const ShareEntry& entry);
    void rowMenu(const QPoint& pos);
    void syncChecks();

    RemoteBrowser& m_browser;
    std::function<void()> m_closeHandler;
    bool m_attached = true;
    QLabel* m_status;
    CListCtrlEx* m_list;
    QLineEdit* m_searchText;
    QPushButton* m_back;
    QPushButton* m_forward;
    QPushButton* m_stop;
    QPushButton* m_refresh;
    QPushButton* m_home;
    QPushButton* m_search;
    QCheckBox* m_fullPaths;
    QCheckBox* m_subDirs;
    QCheckBox* m_exact;
};

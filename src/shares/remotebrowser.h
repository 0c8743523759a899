#pragma once

#include "shares/shareentry.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

class QTimer;

// What the browser asks of its session (types 4 to 8).
class BrowseRequests
{
public:
    virtual ~BrowseRequests() = default;
    virtual void stop() = 0;
    virtual void listRoots() = 0;
    virtual void listFolder(const QByteArray& path) = 0;
    virtual void search(const QByteArray& pattern, const QByteArray& path, bool subFolders) = 0;
    virtual void sendRequest(const QByteArray& path) = 0;
};

// Whoever shows a browser: a window, or the console.
class BrowserView
{
public:
    virtual ~BrowserView() = default;
    // The rows were replaced (emptied, or a saved view restored).
    virtual void rowsReset() = 0;
    // Rows from `first` to the end were appended.
    virtual void rowsAppended(int first) = 0;
    virtual void statusChanged(const QString& text) = 0;
    // Busy state, back or forward enabling changed.
    virtual void stateChanged() = 0;
    // The owner finished a listing or search.
    virtual void listEnded() {}
    // A send result arrived (its status text is shown already).
    virtual void sendResult(int /*code*/) {}
};

// The logic of one remote share browser: the current path ("HOME" for the
// root list), the rows of the view, back and forward stacks of saved views,
// the busy and idle states, and the status line with its texts.
class RemoteBrowser : public QObject
{
    Q_OBJECT
public:
    static constexpr char Home[] = "HOME";
    static constexpr int ResultTextMs = 7000;

    struct View
    {
        bool searchSubDirs = true;
        bool matchExactly = false;
        int selectedRow = -1;
        QByteArray path;
        QString searchText;
        QList<ShareEntry> rows;
    };

    RemoteBrowser(const QString& title, BrowseRequests& requests, BrowserView* view = nullptr,
                  QObject* parent = nullptr);
    ~RemoteBrowser() override;

    QString title() const { return m_title; }
    // Who shows the browser from now on (may be null).
    void setView(BrowserView* view) { m_view = view; }
    // "Shared Folders of: " and the title.
    QString caption() const;

    // The session opened the browser: ask for the root list.
    void start();

    // --- state ---
    const QByteArray& currentPath() const { return m_current.path; }
    const QList<ShareEntry>& rows() const { return m_current.rows; }
    bool isBusy() const { return m_busy; }
    bool canGoBack() const { return !m_busy && !m_back.isEmpty(); }
    bool canGoForward() const { return !m_busy && !m_forward.isEmpty(); }
    int backDepth() const { return int(m_back.size()); }
    int forwardDepth() const { return int(m_forward.size()); }
    QString statusText() const { return m_status; }
    bool isResultTextShown() const;
    bool viewFullPaths() const { return m_fullPaths; }
    bool searchSubDirs() const { return m_current.searchSubDirs; }
    bool matchExactly() const { return m_current.matchExactly; }
    QString searchText() const { return m_current.searchText; }
    int selectedRow() const { return m_current.selectedRow; }

    // A row's column texts under the current "View Full Paths" setting.
    QString nameText(int row) const;
    static QString nameText(const ShareEntry& entry, bool fullPath);
    static QString sizeText(const ShareEntry& entry);
    static QString dateText(const ShareEntry& entry);
    // The status text of a send result; empty for -1.
    static QString sendResultText(int code);
    // The search text's refusal, or empty when the text may be searched.
    static QString invalidSearchText(const QString& text);

    // --- the user's actions (ignored while busy, except stop and send) ---
    void openFolder(int row);
    void openFolder(const QByteArray& path);
    // A file or folder row, or a path: asks the owner to send it.
    void download(int row);
    void download(const QByteArray& path);
    void refresh();
    void stop();
    void home();
    void back();
    void forward();
    void search(const QString& text);
    void setViewFullPaths(bool on);
    void setSearchSubDirs(bool on) { m_current.searchSubDirs = on; }
    void setMatchExactly(bool on) { m_current.matchExactly = on; }
    void setSelectedRow(int row) { m_current.selectedRow = row; }

    // --- the session's reports ---
    void addEntries(const QList<ShareEntry>& entries);
    void endOfList();
    void sendResult(int code);
    // The 7-second timer of a result text ran out.
    void resultTextExpired();

private:
    void setBusy(bool busy);
    void setStatus(const QString& text);
    void showResultText(const QString& text);
    void showDirectoryStatus();
    View takeView();
    void restore(View view);

    QString m_title;
    BrowseRequests& m_requests;
    BrowserView* m_view;
    View m_current;
    QList<View> m_back;
    QList<View> m_forward;
    bool m_busy = false;
    bool m_fullPaths = false;
    QString m_status = QStringLiteral(" Ready...");
    QTimer* m_resultTimer;
};

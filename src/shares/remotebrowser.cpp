#include "shares/remotebrowser.h"

#include "transfers/transferformat.h"

#include <QDateTime>
#include <QLocale>
#include <QTimer>

RemoteBrowser::RemoteBrowser(const QString& title, BrowseRequests& requests, BrowserView* view,
                             QObject* parent)
    : QObject(parent), m_title(title), m_requests(requests), m_view(view),
      m_resultTimer(new QTimer(this))
{
    m_current.path = Home;
    m_resultTimer->setSingleShot(true);
    m_resultTimer->setInterval(ResultTextMs);
    connect(m_resultTimer, &QTimer::timeout, this, &RemoteBrowser::resultTextExpired);
}

RemoteBrowser::~RemoteBrowser() = default;

QString RemoteBrowser::caption() const
{
    return QStringLiteral("Shared Folders of: ") + m_title;
}

void RemoteBrowser::start()
{
    setBusy(true);
    m_requests.listRoots();
}

bool RemoteBrowser::isResultTextShown() const
{
    return m_resultTimer->isActive();
}

QString RemoteBrowser::nameText(int row) const
{
    return nameText(m_current.rows.at(row), m_fullPaths);
}

QString RemoteBrowser::nameText(const ShareEntry& entry, bool fullPath)
{
    QString path = QString::fromUtf8(entry.path);
    if (fullPath)
        return path;
    // The owner's path is its own text: the last part after '\' or '/'.
    while (path.size() > 1 && (path.endsWith(u'\\') || path.endsWith(u'/')))
        path.chop(1);
    const qsizetype cut = std::max(path.lastIndexOf(u'\\'), path.lastIndexOf(u'/'));
    return cut < 0 || path.size() == 1 ? path : path.mid(cut + 1);
}

QString RemoteBrowser::sizeText(const ShareEntry& entry)
{
    return entry.folder ? QString() : FormatSize(entry.size);
}

QString RemoteBrowser::dateText(const ShareEntry& entry)
{
    if (entry.modified == 0)
        return QString();
    return QLocale::c().toString(QDateTime::fromSecsSinceEpoch(entry.modified),
                                 QStringLiteral("ddd MM/dd/yy hh:mm:ss AP"));
}

QString RemoteBrowser::sendResultText(int code)
{
    switch (code) {
    case 50:
        return QStringLiteral(" Transfer was Queued.");
    case 51:
        return QStringLiteral(" Transfer is already is waiting for your acceptance.");
    case 52:
        return QStringLiteral(" Transfer is already running.");
    case 53:
        return QStringLiteral(" Transfer ReQueue Attempted, previous state was: Completed");
    case 54:
        return QStringLiteral(" Transfer ReQueue Attempted, previous state was: Failed");
    case 55:
        return QStringLiteral(" Transfer ReQueue Attempted, previous state was: Canceled");
    case 56:
        return QStringLiteral(
            " Transfer ReQueue Attempted, previous state was: Manual Retry Required");
    case 57:
        return QStringLiteral(" Transfer is already trying to connect.");
    case -2:
        return QStringLiteral(" Transfer was Refused.");
    default:
        return QString();
    }
}

QString RemoteBrowser::invalidSearchText(const QString& text)
{
    static const QString invalid = QStringLiteral("\\/:?\"<>|");
    for (QChar c : text) {
        if (invalid.contains(c))
            return QStringLiteral(
                " Search string contains an invalid character: \\ / : ? \" < > |");
    }
    return QString();
}

void RemoteBrowser::setBusy(bool busy)
{
    m_busy = busy;
    if (m_view)
        m_view->stateChanged();
}

void RemoteBrowser::setStatus(const QString& text)
{
    m_status = text;
    if (m_view)
        m_view->statusChanged(text);
}

void RemoteBrowser::showResultText(const QString& text)
{
    setStatus(text);
    m_resultTimer->start();
}

void RemoteBrowser::showDirectoryStatus()
{
    setStatus(QStringLiteral(" Items: %1  Directory: %2")
                  .arg(m_current.rows.size())
                  .arg(QString::fromUtf8(m_current.path)));
}

RemoteBrowser::View RemoteBrowser::takeView()
{
    View saved = std::move(m_current);
    m_current = View{};
    m_current.path = saved.path;
    m_current.searchText = saved.searchText;
    m_current.searchSubDirs = saved.searchSubDirs;
    m_current.matchExactly = saved.matchExactly;
    if (m_view)
        m_view->rowsReset();
    return saved;
}

void RemoteBrowser::restore(View view)
{
    m_current = std::move(view);
    if (m_view)
        m_view->rowsReset();
}

void RemoteBrowser::openFolder(int row)
{
    if (row >= 0 && row < m_current.rows.size() && m_current.rows[row].folder)
        openFolder(m_current.rows[row].path);
}

void RemoteBrowser::openFolder(const QByteArray& path)
{
    if (m_busy)
        return;
    setBusy(true);
    m_forward.clear();
    m_back.append(takeView());
    m_current.path = path;
    m_requests.listFolder(path);
}

void RemoteBrowser::download(int row)
{
    if (row >= 0 && row < m_current.rows.size())
        download(m_current.rows[row].path);
}

void RemoteBrowser::download(const QByteArray& path)
{
    m_requests.sendRequest(path);
}

void RemoteBrowser::refresh()
{
    if (m_busy)
        return;
    setBusy(true);
    m_current.rows.clear();
    m_current.selectedRow = -1;
    if (m_view)
        m_view->rowsReset();
    if (m_current.path == Home)
        m_requests.listRoots();
    else
        m_requests.listFolder(m_current.path);
}

void RemoteBrowser::stop()
{
    m_requests.stop();
}

void RemoteBrowser::home()
{
    if (m_busy)
        return;
    m_current.rows.clear();
    m_current.selectedRow = -1;
    m_forward.clear();
    if (!m_back.isEmpty()) {
        View oldest = m_back.takeFirst();
        m_back.clear();
        restore(std::move(oldest));
    } else {
        if (m_view)
            m_view->rowsReset();
        m_busy = true;
        m_current.path = Home;
        m_requests.listRoots();
    }
    if (m_view)
        m_view->stateChanged();
    showDirectoryStatus();
}

void RemoteBrowser::back()
{
    if (m_busy || m_back.isEmpty())
        return;
    m_forward.append(std::move(m_current));
    restore(m_back.takeLast());
    if (m_view)
        m_view->stateChanged();
    showDirectoryStatus();
}

void RemoteBrowser::forward()
{
    if (m_busy || m_forward.isEmpty())
        return;
    m_back.append(std::move(m_current));
    restore(m_forward.takeLast());
    if (m_view)
        m_view->stateChanged();
    showDirectoryStatus();
}

void RemoteBrowser::search(const QString& text)
{
    if (m_busy)
        return;
    const QString refusal = invalidSearchText(text);
    if (!refusal.isEmpty()) {
        showResultText(refusal);
        return;
    }
    setBusy(true);
    m_forward.clear();
    m_back.append(takeView());
    m_current.searchText = text;
    const QString pattern = m_current.matchExactly ? text : u'*' + text + u'*';
    m_requests.search(pattern.toUtf8(), m_current.path, m_current.searchSubDirs);
}

void RemoteBrowser::setViewFullPaths(bool on)
{
    m_fullPaths = on;
    if (m_view)
        m_view->rowsReset();
}

void RemoteBrowser::addEntries(const QList<ShareEntry>& entries)
{
    if (entries.isEmpty())
        return;
    const int first = int(m_current.rows.size());
    m_current.rows.append(entries);
    if (m_view)
        m_view->rowsAppended(first);
    if (!m_resultTimer->isActive())
        setStatus(QStringLiteral(" Items: %1").arg(m_current.rows.size()));
}

void RemoteBrowser::endOfList()
{
    setBusy(false);
    if (!m_resultTimer->isActive())
        showDirectoryStatus();
    if (m_view)
        m_view->listEnded();
}

void RemoteBrowser::sendResult(int code)
{
    showResultText(sendResultText(code));
    if (m_view)
        m_view->sendResult(code);
}

void RemoteBrowser::resultTextExpired()
{
    m_resultTimer->stop();
    showDirectoryStatus();
}

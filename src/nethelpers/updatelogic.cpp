#include "nethelpers/updatelogic.h"

#include "nethelpers/upnptext.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#ifndef ZEPHLINK_VERSION
#define ZEPHLINK_VERSION ""
#endif

Q_LOGGING_CATEGORY(lcUpdate, "zephlink.update")

namespace {

QString tagValue(const QByteArray& text, const char* open, const char* close)
{
    const QByteArray openTag(open);
    const qsizetype start = text.indexOf(openTag);
    if (start < 0)
        return {};
    const qsizetype inner = start + openTag.size();
    const qsizetype end = text.indexOf(close, inner);
    if (end < 0)
        return {};
    return QString::fromUtf8(text.mid(inner, end - inner));
}

} // namespace

UpdateDescription UpdateDescription::parse(const QByteArray& text)
{
    UpdateDescription d;
    d.version = tagValue(text, "[VER]", "[/VER]");
    d.date = tagValue(text, "[DATE]", "[/DATE]");
    d.note = tagValue(text, "[NOTE]", "[/NOTE]");
    d.binUrl = tagValue(text, "[BIN]", "[/BIN]");
    d.size = qint32(DecimalPrefix(tagValue(text, "[SIZE]", "[/SIZE]").toLatin1()));
    return d;
}

QString& pendingUpdatePath()
{
    static QString path;
    return path;
}

QString& pendingUpdateVersion()
{
    static QString version;
    return version;
}

QString UpdateLogic::BuildDate()
{
    // __DATE__ is "Mmm dd yyyy" with a blank before a one-digit day.
    return QString::fromLatin1(__DATE__).simplified();
}

UpdateLogic::UpdateLogic(UpdateUi* ui, QObject* parent)
    : QObject(parent), m_ui(ui), m_manager(new QNetworkAccessManager(this)),
      m_fetch(m_manager, this), m_programPath(QCoreApplication::applicationFilePath()),
      currentVersion(QStringLiteral(ZEPHLINK_VERSION)), m_buildDate(BuildDate()),
      m_server(UpdateServer())
{
    connect(&m_fetch, &FetchUrl::finished, this, &UpdateLogic::checkFinished);
}

UpdateLogic::~UpdateLogic()
{
    // A download cut short by the program's end leaves no partial file; the
    // window is going away too and hears nothing more.
    if (m_download) {
        m_download->disconnect(this);
        m_download->abort();
    }
    if (m_file.isOpen()) {
        m_file.close();
        m_file.remove();
    }
}

void UpdateLogic::setCurrentVersion(const QString& version, const QString& buildDate)
{
    currentVersion = version;
    m_buildDate = buildDate;
}

void UpdateLogic::setMessage(const QString& text)
{
    m_message = text;
    if (m_ui)
        m_ui->updateMessageChanged(text);
}

void UpdateLogic::setButton(const QString& caption, bool enabled)
{
    m_caption = caption;
    m_enabled = enabled;
    if (m_ui)
        m_ui->updateButtonChanged(caption, enabled);
}

void UpdateLogic::setProgress(int percent)
{
    m_progress = percent;
    if (m_ui)
        m_ui->updateProgressChanged(percent);
}

QString UpdateLogic::versionLines() const
{
    return QStringLiteral("Current Version:\t\t%1 (%2)\r\nNew Version:\t\t%3 (%4)\r\nNote: %5\r\n")
        .arg(currentVersion, m_buildDate, newVersion, newDate, note);
}

void UpdateLogic::CheckForUpdates(int userCheck)
{
    quietCheck = userCheck ? 0 : 1;
    if (m_caption != CancelCaption) {
        setProgress(0);
        setButton(OkCaption, false);
        setMessage(QStringLiteral("Checking for updates..."));
        QUrl url = m_server;
        url.setPath(QStringLiteral("/downloads/qensoft/zlk6.txt"));
        m_fetch.start(url);
    }
    if (userCheck && m_ui)
        m_ui->showUpdateWindow();
}

void UpdateLogic::checkFinished(bool ok, const QByteArray& text)
{
    const UpdateDescription d = ok ? UpdateDescription::parse(text) : UpdateDescription();
    if (!ok) {
        setMessage(QStringLiteral("Could not connect."));
    } else if (d.version.isEmpty()) {
        setMessage(QStringLiteral("Update file not found."));
    } else {
        newVersion = d.version;
        newDate = d.date;
        note = d.note;
        downloadUrl = d.binUrl;
        expectedSize = d.size;
        // Any difference counts, older or newer.
        if (currentVersion != newVersion) {
            setMessage(QStringLiteral("Update to New Version?\r\n") + versionLines());
            setButton(UpdateCaption, true);
            if (quietCheck && m_ui)
                m_ui->showUpdateWindow();
            return;
        }
        setMessage(QStringLiteral("No Updates Found.\r\nYou are using the newest version.\r\n"
                                  "Version: ") +
                   currentVersion + QStringLiteral(" (") + m_buildDate + QStringLiteral(")"));
    }
    setButton(OkCaption, true);
}

void UpdateLogic::buttonPressed()
{
    if (!m_enabled)
        return;
    if (m_caption == UpdateCaption) {
        setMessage(QStringLiteral("Downloading New Version...\r\n") + versionLines());
        setButton(CancelCaption, true);
        startDownload();
        return;
    }
    if (m_caption == CancelCaption) {
        cancelRequested = 1;
        if (m_ui)
            m_ui->hideUpdateWindow();
        failDownload();
        return;
    }
    if (m_caption == RestartCaption) {
        pendingUpdatePath() = tempPath();
        pendingUpdateVersion() = newVersion;
        if (m_ui) {
            m_ui->exitRequested();
            m_ui->hideUpdateWindow();
        }
        return;
    }
    if (m_ui)
        m_ui->hideUpdateWindow();
}

void UpdateLogic::startDownload()
{
    cancelRequested = 0;
    m_begun = false;
    m_length = 0;
    m_received = 0;
    m_lastPercent = -1;
    const QUrl url(downloadUrl, QUrl::StrictMode);
    if (!url.isValid() || (url.scheme() != u"http" && url.scheme() != u"https")) {
        // Reported after this press has finished, as any other failure.
        QMetaObject::invokeMethod(
            this, [this] { endDownload(false); }, Qt::QueuedConnection);
        return;
    }
    QNetworkRequest request = WebRequest(url);
    request.setTransferTimeout(StallMs);
    m_manager->setProxy(ProxyFor(url));
    m_download = m_manager->get(request);
    connect(m_download, &QNetworkReply::readyRead, this, &UpdateLogic::downloadData);
    connect(m_download, &QNetworkReply::finished, this, &UpdateLogic::downloadFinished);
}

bool UpdateLogic::beginDownload()
{
    m_begun = true;
    if (m_download->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() != 200)
        return false;
    const QVariant header = m_download->header(QNetworkRequest::ContentLengthHeader);
    m_length = header.isValid() ? header.toLongLong() : 0;
    if (m_length == 0)
        m_length = m_download->bytesAvailable();
    // Refused before anything is written.
    if (m_length != qint64(expectedSize))
        return false;

    // The download file is the program's own: whatever stands under its name
    // (a link included) is replaced, never written through.
    const QString path = tempPath();
    QFile::remove(path);
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return false;
    setProgress(0);
    return true;
}

void UpdateLogic::downloadData()
{
    if (!m_download)
        return;
    if (!m_begun && !beginDownload()) {
        failDownload();
        return;
    }
    if (!m_file.isOpen())
        return;
    while (m_download->bytesAvailable() > 0 && !cancelRequested) {
        const QByteArray piece = m_download->read(4096);
        if (m_received + piece.size() > m_length || m_file.write(piece) != piece.size()) {
            // More than announced, or the disk refused it.
            failDownload();
            return;
        }
        m_received += piece.size();
        const int percent =
            m_length == 0 ? 100 : int(double(m_received) / double(m_length) * 100.0);
        if (percent != m_lastPercent) {
            m_lastPercent = percent;
            setProgress(percent);
        }
    }
}

void UpdateLogic::downloadFinished()
{
    if (m_download && m_download->error() == QNetworkReply::NoError) {
        if (!m_begun && !beginDownload()) {
            failDownload();
            return;
        }
        downloadData();
        if (!m_download)
            return;
    }
    const bool ok = m_download && m_download->error() == QNetworkReply::NoError &&
                    m_file.isOpen() && !cancelRequested && m_received == m_length;
    endDownload(ok);
}

void UpdateLogic::failDownload()
{
    if (m_download)
        m_download->abort();
    // The abort usually ends the download through its finished signal.
    if (m_download)
        endDownload(false);
}

void UpdateLogic::endDownload(bool success)
{
    if (m_download) {
        m_download->disconnect(this);
        m_download->deleteLater();
        m_download = nullptr;
    }
    if (m_file.isOpen()) {
        m_file.close();
        if (!success)
            m_file.remove();
    }
    if (!success) {
        qCDebug(lcUpdate) << "download failed; received" << m_received << "of" << m_length;
        setMessage(QStringLiteral("Download did not complete."));
        setButton(OkCaption, true);
        return;
    }
    setMessage(QStringLiteral("Click Restart to Start new Version.\r\n") + versionLines());
    setButton(RestartCaption, true);
}

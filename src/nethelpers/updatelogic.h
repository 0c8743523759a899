#pragma once

#include "nethelpers/fetchurl.h"

#include <QByteArray>
#include <QFile>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;

// The values of the update description file.
struct UpdateDescription
{
    QString version; // [VER]
    QString date;    // [DATE]
    QString note;    // [NOTE]
    QString binUrl;  // [BIN]
    qint32 size = 0; // [SIZE]; 0 when empty or not a number

    // Each value is the text between the first opening tag and the first
    // closing tag after it, tags matched exactly; a missing tag gives empty.
    static UpdateDescription parse(const QByteArray& text);
};

// A finished download waiting to take the program's place once the program
// has closed: the downloaded file (empty: nothing pending) and its version.
// Program-wide values, set by Restart and read by the start-up code after
// the main window closed.
QString& pendingUpdatePath();
QString& pendingUpdateVersion();

// The "Zephlink Update" window as the update logic sees it: the message
// area, the one button and the progress bar.
class UpdateUi
{
public:
    virtual ~UpdateUi() = default;
    virtual void updateMessageChanged(const QString& message) = 0;
    // The button's caption and whether it can be pressed.
    virtual void updateButtonChanged(const QString& caption, bool enabled) = 0;
    virtual void updateProgressChanged(int percent) = 0;
    // Show the window and bring it to the front.
    virtual void showUpdateWindow() = 0;
    virtual void hideUpdateWindow() = 0;
    // The program is to exit (the main window's exit command).
    virtual void exitRequested() = 0;
};

// The update check and download: reads the description file from the update
// server, offers a different version, downloads the new program next to the
// running one as "<program>.tmp" and, on Restart, leaves it in
// pendingUpdatePath() and asks the program to exit.
class UpdateLogic : public QObject
{
    Q_OBJECT
public:
    static inline const QString OkCaption = QStringLiteral("&OK");
    static inline const QString UpdateCaption = QStringLiteral("&Update");
    static inline const QString CancelCaption = QStringLiteral("&Cancel");
    static inline const QString RestartCaption = QStringLiteral("&Restart");
    // A download not finished after this long without data is dropped.
    static constexpr int StallMs = 60000;

    explicit UpdateLogic(UpdateUi* ui, QObject* parent = nullptr);
    ~UpdateLogic() override;

    // Defaults: the running program's path, the built version and build date,
    // and UpdateServer().
    void setProgramPath(const QString& path) { m_programPath = path; }
    void setCurrentVersion(const QString& version, const QString& buildDate);
    void setServer(const QUrl& server) { m_server = server; }

    // userCheck 1: the menu's check (window shown at once); 0: the quiet
    // automatic check (shown only when a different version is found).
    void CheckForUpdates(int userCheck);
    // The one button.
    void buttonPressed();

    const QString& message() const { return m_message; }
    const QString& caption() const { return m_caption; }
    bool isButtonEnabled() const { return m_enabled; }
    int progress() const { return m_progress; }
    // Where the new program is downloaded: the program path plus ".tmp".
    QString tempPath() const { return m_programPath + QStringLiteral(".tmp"); }
    const QString& newVersionText() const { return newVersion; }

    // The compiler's build date as "Mmm d yyyy".
    static QString BuildDate();

private:
    void setMessage(const QString& text);
    void setButton(const QString& caption, bool enabled);
    void setProgress(int percent);
    QString versionLines() const;
    void checkFinished(bool ok, const QByteArray& text);
    void startDownload();
    void downloadData();
    void downloadFinished();
    bool beginDownload();
    void failDownload();
    void endDownload(bool success);

    UpdateUi* m_ui;
    QNetworkAccessManager* m_manager;
    FetchUrl m_fetch;
    QString m_programPath;
    QString currentVersion;
    QString m_buildDate;
    QUrl m_server;

    QString m_message;
    QString m_caption = OkCaption;
    bool m_enabled = true;
    int m_progress = 0;

    int quietCheck = 0;
    int cancelRequested = 0;
    qint32 expectedSize = 0;
    QString downloadUrl;
    QString newVersion;
    QString newDate;
    QString note;

    QPointer<QNetworkReply> m_download;
    QFile m_file;
    bool m_begun = false;
    qint64 m_length = 0;
    qint64 m_received = 0;
    int m_lastPercent = -1;
};

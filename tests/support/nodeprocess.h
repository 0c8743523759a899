#pragma once

#include <QObject>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

// One headless node process for tests: started on a data root of its own,
// listening on 127.0.0.1 on a free port, driven by command lines and watched
// through its output lines. Waits run the event loop (with a deadline), so
// several nodes and their pipes keep moving while one is waited for.
class NodeProcess : public QObject
{
    Q_OBJECT
public:
    static constexpr int DefaultTimeoutMs = 15000;

    // executable: the zephlink-node program.
    explicit NodeProcess(QString executable, QObject* parent = nullptr);
    // Kills the process if it still runs.
    ~NodeProcess() override;

    // Starts a node on home with --listen 127.0.0.1 and the extra arguments
    // (--port 0 unless the extra arguments hold a --port), and waits for its
    // "listening <port>" line. False when it did not come.
    bool start(const QString& home, const QStringList& extraArguments = {},
               int timeoutMs = DefaultTimeoutMs);
    // The port of the last "listening" line.
    quint16 port() const { return m_port; }

    // Writes one command line.
    void send(const QString& line);
    // Sends a command and waits for its "ok" or "error ..." answer; returns
    // the answer (empty on time-out). output, when given, receives the lines
    // the command printed before its answer whose tag is outputTag.
    QString command(const QString& line, QStringList* output = nullptr,
                    const QString& outputTag = QString(), int timeoutMs = DefaultTimeoutMs);

    // Waits for an output line matching pattern that no earlier wait has
    // taken, takes it and returns it; empty on time-out.
    QString waitForLine(const QRegularExpression& pattern, int timeoutMs = DefaultTimeoutMs);
    QString waitForLine(const QString& pattern, int timeoutMs = DefaultTimeoutMs)
    {
        return waitForLine(QRegularExpression(pattern), timeoutMs);
    }
    // Lines matching pattern, taken or not, in order.
    QStringList linesMatching(const QRegularExpression& pattern) const;
    QStringList lines() const { return m_lines; }

    // SIGTERM (SIGINT with interrupt) to the process.
    void terminate(bool interrupt = false);
    // Waits for the process to end; false on time-out.
    bool waitForExit(int timeoutMs = DefaultTimeoutMs);
    int exitCode() const { return m_process.exitCode(); }
    QProcess::ExitStatus exitStatus() const { return m_process.exitStatus(); }
    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }

    // Standard error so far, for messages on failure.
    QString errorOutput() const { return QString::fromUtf8(m_stderr); }

signals:
    void lineReceived(const QString& line);

private:
    void readOutput();
    // Index of the first line from `from` that matches and is not taken; -1 if none.
    qsizetype findLine(const QRegularExpression& pattern, qsizetype from) const;
    // Runs the event loop until done() holds, a line or exit arrives, or the deadline.
    template <typename Done> bool waitUntil(Done done, int timeoutMs);

    QString m_executable;
    QProcess m_process;
    QByteArray m_partial;
    QByteArray m_stderr;
    QStringList m_lines;
    QList<bool> m_taken;
    quint16 m_port = 0;
};

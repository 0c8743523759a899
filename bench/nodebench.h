#pragma once

// Pieces shared by the node-to-node transfer benchmarks: a headless node
// driven over its console, the baseline tools run as child processes, peak
// memory of a process, and the figures' formatting.

#include <QByteArray>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <memory>

namespace nodebench {

constexpr int LineTimeoutMs = 30000;

// One zephlink-node process on a data root of its own, listening on
// 127.0.0.1 on a free port. Its output is read synchronously: a benchmark
// has nothing else to do while it waits.
class Node
{
public:
    explicit Node(QString executable);
    ~Node();
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    bool start(const QString& home, const QString& name);
    quint16 port() const { return m_port; }
    qint64 pid() const { return m_process.processId(); }

    // Sends a command and returns its "ok" or "error ..." answer (empty on
    // time-out).
    QString command(const QString& line, int timeoutMs = LineTimeoutMs);
    // Writes a command without waiting for its answer.
    void send(const QString& line);
    // The first output line not taken yet that matches; empty on time-out.
    QString waitForLine(const QRegularExpression& pattern, int timeoutMs = LineTimeoutMs);
    // "VmHWM" of the running process, in bytes; -1 when unreadable.
    qint64 peakResident() const;
    // User and system CPU time of the running process so far.
    double cpuSeconds() const;
    // Runs the exit sequence and waits for the process to end.
    bool quit();
    QString lastLines(int count) const;

private:
    bool readMore(int timeoutMs);
    qsizetype find(const QRegularExpression& pattern, qsizetype from) const;

    QString m_executable;
    QProcess m_process;
    QByteArray m_partial;
    QStringList m_lines;
    QList<bool> m_taken;
    quint16 m_port = 0;
};

// Two nodes on 127.0.0.1 that know each other: Alice sends at once (no send
// queue), Bob accepts every offer into autosaveDir (under Alice's name).
// They start one after the other: a node's uid is made of the clock, and two
// first starts in the same millisecond would share one.
struct NodePair
{
    std::unique_ptr<Node> alice;
    std::unique_ptr<Node> bob;

    // Starts both under root (homes alice/ and bob/) and adds Bob to Alice.
    bool start(const QString& executable, const QString& root, const QString& autosaveDir);
    // Queues path for Bob and returns the seconds until Bob's row shows
    // Completed; negative on failure. Waits for Alice's row as well.
    double send(const QString& path, int timeoutMs);
    bool quit();
};

// "VmHWM" of a process in bytes; -1 when unreadable.
qint64 peakResident(qint64 pid);

// User and system CPU seconds of a process; -1 when unreadable.
double cpuSeconds(qint64 pid);

// A TCP port on 127.0.0.1 that was free a moment ago.
quint16 freePort();
// Waits until something listens on 127.0.0.1:port; false after timeoutMs.
bool waitListening(quint16 port, int timeoutMs = 10000);

// Runs a program to its end; false when it could not start, timed out or
// exited with a non-zero code (its standard error is printed then).
bool run(const QString& program, const QStringList& arguments, int timeoutMs = 600000);
// Runs a shell command line; the same.
bool runShell(const QString& commandLine, int timeoutMs = 600000);
// Quotes a path for a shell command line.
QString shellQuoted(const QString& text);

// A started child process that is ended and reaped when this goes.
class Child
{
public:
    Child() = default;
    ~Child();
    bool start(const QString& program, const QStringList& arguments);
    bool startShell(const QString& commandLine);
    // Waits for the end; false when it timed out or the exit code was not 0.
    bool finish(int timeoutMs = 600000);
    qint64 pid() const { return m_process.processId(); }

private:
    QProcess m_process;
};

// Flushes dirty pages so that every run starts from the same writeback state.
void settleDisk();

// The node program: ZEPHLINK_NODE, else the path built beside the benchmark.
QString nodeExecutable();

double megabytesPerSecond(qint64 bytes, double seconds);
QString megabytes(qint64 bytes);

} // namespace nodebench

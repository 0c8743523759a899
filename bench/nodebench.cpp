#include "nodebench.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QTcpServer>
#include <QThread>

#include <cstdio>

#include <unistd.h>

namespace nodebench {

// ---- Node ----

Node::Node(QString executable) : m_executable(std::move(executable))
{
    // Warnings of the node show up beside the figures.
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

Node::~Node()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool Node::start(const QString& home, const QString& name)
{
    m_process.start(m_executable, {QStringLiteral("--home"), home, QStringLiteral("--listen"),
                                   QStringLiteral("127.0.0.1"), QStringLiteral("--port"),
                                   QStringLiteral("0"), QStringLiteral("--name"), name});
    if (!m_process.waitForStarted(LineTimeoutMs))
        return false;
    const QString line = waitForLine(QRegularExpression(QStringLiteral("^listening \\d+$")));
    m_port = quint16(line.mid(10).toUInt());
    return m_port != 0;
}

void Node::send(const QString& line)
{
    m_process.write(line.toUtf8() + '\n');
    m_process.waitForBytesWritten(LineTimeoutMs);
}

QString Node::command(const QString& line, int timeoutMs)
{
    const qsizetype from = m_lines.size();
    send(line);
    static const QRegularExpression answer(QStringLiteral("^(ok|error( .*)?)$"));
    QDeadlineTimer deadline(timeoutMs);
    qsizetype at;
    while ((at = find(answer, from)) < 0) {
        if (!readMore(int(deadline.remainingTime())))
            return QString();
    }
    m_taken[at] = true;
    return m_lines[at];
}

QString Node::waitForLine(const QRegularExpression& pattern, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    qsizetype at;
    while ((at = find(pattern, 0)) < 0) {
        if (!readMore(int(deadline.remainingTime())))
            return QString();
    }
    m_taken[at] = true;
    return m_lines[at];
}

bool Node::readMore(int timeoutMs)
{
    if (timeoutMs <= 0 || m_process.state() == QProcess::NotRunning)
        return false;
    if (!m_process.waitForReadyRead(timeoutMs))
        return false;
    m_partial += m_process.readAllStandardOutput();
    qsizetype newline;
    while ((newline = m_partial.indexOf('\n')) >= 0) {
        m_lines.append(QString::fromUtf8(m_partial.first(newline)));
        m_taken.append(false);
        m_partial.remove(0, newline + 1);
    }
    return true;
}

qsizetype Node::find(const QRegularExpression& pattern, qsizetype from) const
{
    for (qsizetype i = from; i < m_lines.size(); ++i) {
        if (!m_taken[i] && pattern.match(m_lines[i]).hasMatch())
            return i;
    }
    return -1;
}

qint64 Node::peakResident() const
{
    return nodebench::peakResident(pid());
}

double Node::cpuSeconds() const
{
    return nodebench::cpuSeconds(pid());
}

bool Node::quit()
{
    if (m_process.state() == QProcess::NotRunning)
        return true;
    send(QStringLiteral("quit"));
    m_process.closeWriteChannel();
    return m_process.waitForFinished(LineTimeoutMs) && m_process.exitCode() == 0;
}

QString Node::lastLines(int count) const
{
    return m_lines.mid(std::max<qsizetype>(0, m_lines.size() - count)).join(u'\n');
}

// ---- NodePair ----

bool NodePair::start(const QString& executable, const QString& root, const QString& autosaveDir)
{
    alice = std::make_unique<Node>(executable);
    bob = std::make_unique<Node>(executable);
    if (!alice->start(root + QStringLiteral("/alice"), QStringLiteral("Alice")) ||
        !bob->start(root + QStringLiteral("/bob"), QStringLiteral("Bob")))
        return false;
    // With the send queue off a send starts at once instead of on the
    // scheduler's next tick, up to a second later.
    if (alice->command(QStringLiteral("set sendQueueEnabled off")) != u"ok" ||
        bob->command(QStringLiteral("set autosaveDir ") + autosaveDir) != u"ok" ||
        bob->command(QStringLiteral("set autoAcceptAll on")) != u"ok" ||
        alice->command(QStringLiteral("add 127.0.0.1 %1").arg(bob->port())) != u"ok")
        return false;
    return !alice->waitForLine(QRegularExpression(QStringLiteral("^event New Contact Bob ")))
                .isEmpty() &&
           !bob->waitForLine(QRegularExpression(QStringLiteral("^event New Contact Alice ")))
                .isEmpty();
}

double NodePair::send(const QString& path, int timeoutMs)
{
    const QRegularExpression done(QStringLiteral("^transfer 1\tCompleted\t"));
    const QRegularExpression ended(
        QStringLiteral("^transfer 1\t(Completed|Failed|Canceled|ManualRetry)\t"));
    QElapsedTimer timer;
    timer.start();
    if (alice->command(QStringLiteral("send Bob ") + path) != u"ok")
        return -1;
    const QString line = bob->waitForLine(ended, timeoutMs);
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    if (!done.match(line).hasMatch()) {
        std::fprintf(stderr, "receiving node: %s\n", qPrintable(bob->lastLines(5)));
        return -1;
    }
    if (!done.match(alice->waitForLine(ended, timeoutMs)).hasMatch()) {
        std::fprintf(stderr, "sending node: %s\n", qPrintable(alice->lastLines(5)));
        return -1;
    }
    return seconds;
}

bool NodePair::quit()
{
    const bool a = alice->quit();
    const bool b = bob->quit();
    return a && b;
}

// ---- processes and ports ----

qint64 peakResident(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (pid <= 0 || !status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:")) {
            const QList<QByteArray> parts = line.simplified().split(' ');
            return parts.size() >= 2 ? parts.at(1).toLongLong() * 1024 : -1;
        }
    }
    return -1;
}

double cpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !stat.open(QIODevice::ReadOnly))
        return -1;
    // The command name may hold spaces; the fields after it are plain.
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    // utime and stime, fields 14 and 15 of the whole line.
    const qint64 ticks = fields.at(11).toLongLong() + fields.at(12).toLongLong();
    return double(ticks) / double(::sysconf(_SC_CLK_TCK));
}

quint16 freePort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

bool waitListening(quint16 port, int timeoutMs)
{
    // 127.0.0.1:port in state LISTEN (0A), as /proc/net/tcp writes it.
    const QByteArray local = QByteArrayLiteral("0100007F:") +
                             QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        QFile table(QStringLiteral("/proc/net/tcp"));
        if (table.open(QIODevice::ReadOnly)) {
            for (const QByteArray& line : table.readAll().split('\n')) {
                const QList<QByteArray> fields = line.simplified().split(' ');
                if (fields.size() > 3 && fields.at(1) == local && fields.at(3) == "0A")
                    return true;
            }
        }
        QThread::msleep(2);
    }
    return false;
}

namespace {

bool finishProcess(QProcess& process, const QString& what, int timeoutMs)
{
    if (!process.waitForFinished(timeoutMs)) {
        std::fprintf(stderr, "%s: did not end in time\n", qPrintable(what));
        process.kill();
        process.waitForFinished(5000);
        return false;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        std::fprintf(stderr, "%s: exit code %d\n%s", qPrintable(what), process.exitCode(),
                     process.readAllStandardError().constData());
        return false;
    }
    return true;
}

} // namespace

bool run(const QString& program, const QStringList& arguments, int timeoutMs)
{
    Child child;
    return child.start(program, arguments) && child.finish(timeoutMs);
}

bool runShell(const QString& commandLine, int timeoutMs)
{
    Child child;
    return child.startShell(commandLine) && child.finish(timeoutMs);
}

QString shellQuoted(const QString& text)
{
    QString quoted = text;
    quoted.replace(u'\'', QStringLiteral("'\\''"));
    return u'\'' + quoted + u'\'';
}

Child::~Child()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool Child::start(const QString& program, const QStringList& arguments)
{
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.start(program, arguments);
    if (!m_process.waitForStarted(10000)) {
        std::fprintf(stderr, "cannot start %s\n", qPrintable(program));
        return false;
    }
    return true;
}

bool Child::startShell(const QString& commandLine)
{
    return start(QStringLiteral("/bin/bash"),
                 {QStringLiteral("-c"), QStringLiteral("set -eo pipefail; ") + commandLine});
}

bool Child::finish(int timeoutMs)
{
    return finishProcess(m_process, m_process.arguments().join(u' '), timeoutMs);
}

void settleDisk()
{
    ::sync();
}

QString nodeExecutable()
{
    const QString fromEnvironment = qEnvironmentVariable("ZEPHLINK_NODE");
    return fromEnvironment.isEmpty() ? QStringLiteral(ZEPHLINK_NODE_PATH) : fromEnvironment;
}

double megabytesPerSecond(qint64 bytes, double seconds)
{
    return seconds > 0 ? double(bytes) / 1e6 / seconds : 0;
}

QString megabytes(qint64 bytes)
{
    return bytes < 0 ? QStringLiteral("?") : QString::number(double(bytes) / 1e6, 'f', 1);
}

} // namespace nodebench

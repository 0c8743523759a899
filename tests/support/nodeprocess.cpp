#include "nodeprocess.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include <csignal>

NodeProcess::NodeProcess(QString executable, QObject* parent)
    : QObject(parent), m_executable(std::move(executable))
{
    connect(&m_process, &QProcess::readyReadStandardOutput, this, &NodeProcess::readOutput);
    connect(&m_process, &QProcess::readyReadStandardError, this,
            [this] { m_stderr += m_process.readAllStandardError(); });
}

NodeProcess::~NodeProcess()
{
    if (isRunning()) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool NodeProcess::start(const QString& home, const QStringList& extraArguments, int timeoutMs)
{
    QStringList arguments{QStringLiteral("--home"), home, QStringLiteral("--listen"),
                          QStringLiteral("127.0.0.1")};
    if (!extraArguments.contains(QStringLiteral("--port")))
        arguments << QStringLiteral("--port") << QStringLiteral("0");
    arguments += extraArguments;
    m_port = 0;
    // A node under test looks for its router and its update server on
    // loopback only, whatever the calling shell had set.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const auto& [name, fallback] :
         {std::pair{QStringLiteral("ZEPHLINK_SSDP_ADDRESS"), QStringLiteral("127.0.0.1:9")},
          std::pair{QStringLiteral("ZEPHLINK_UPDATE_SERVER"),
                    QStringLiteral("http://127.0.0.1:9")}}) {
        const QString value = environment.value(name);
        if (!value.startsWith(QStringLiteral("127.")) &&
            !value.startsWith(QStringLiteral("http://127.")))
            environment.insert(name, fallback);
    }
    m_process.setProcessEnvironment(environment);
    m_process.start(m_executable, arguments);
    if (!m_process.waitForStarted(timeoutMs))
        return false;
    const QString line = waitForLine(QStringLiteral("^listening \\d+$"), timeoutMs);
    if (line.isEmpty())
        return false;
    m_port = quint16(line.mid(10).toUInt());
    return m_port != 0;
}

void NodeProcess::send(const QString& line)
{
    m_process.write(line.toUtf8() + '\n');
}

QString NodeProcess::command(const QString& line, QStringList* output, const QString& outputTag,
                             int timeoutMs)
{
    const qsizetype from = m_lines.size();
    send(line);
    static const QRegularExpression answer(QStringLiteral("^(ok|error( .*)?)$"));
    qsizetype at = -1;
    waitUntil([&] { return (at = findLine(answer, from)) >= 0; }, timeoutMs);
    if (at < 0)
        return QString();
    m_taken[at] = true;
    if (output) {
        output->clear();
        const QString prefix = outputTag + QLatin1Char(' ');
        for (qsizetype i = from; i < at; ++i) {
            if (m_lines[i].startsWith(prefix))
                output->append(m_lines[i].mid(prefix.size()));
        }
    }
    return m_lines[at];
}

QString NodeProcess::waitForLine(const QRegularExpression& pattern, int timeoutMs)
{
    qsizetype at = -1;
    waitUntil([&] { return (at = findLine(pattern, 0)) >= 0; }, timeoutMs);
    if (at < 0)
        return QString();
    m_taken[at] = true;
    return m_lines[at];
}

QStringList NodeProcess::linesMatching(const QRegularExpression& pattern) const
{
    QStringList out;
    for (const QString& line : m_lines) {
        if (pattern.match(line).hasMatch())
            out.append(line);
    }
    return out;
}

void NodeProcess::terminate(bool interrupt)
{
    const qint64 pid = m_process.processId();
    if (pid > 0)
        ::kill(pid_t(pid), interrupt ? SIGINT : SIGTERM);
}

bool NodeProcess::waitForExit(int timeoutMs)
{
    return waitUntil([this] { return !isRunning(); }, timeoutMs);
}

void NodeProcess::readOutput()
{
    m_partial += m_process.readAllStandardOutput();
    qsizetype newline;
    while ((newline = m_partial.indexOf('\n')) >= 0) {
        const QString line = QString::fromUtf8(m_partial.first(newline));
        m_partial.remove(0, newline + 1);
        m_lines.append(line);
        m_taken.append(false);
        emit lineReceived(line);
    }
}

qsizetype NodeProcess::findLine(const QRegularExpression& pattern, qsizetype from) const
{
    for (qsizetype i = from; i < m_lines.size(); ++i) {
        if (!m_taken[i] && pattern.match(m_lines[i]).hasMatch())
            return i;
    }
    return -1;
}

template <typename Done> bool NodeProcess::waitUntil(Done done, int timeoutMs)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    const auto check = [&] {
        if (done())
            loop.quit();
    };
    connect(this, &NodeProcess::lineReceived, &loop, check);
    connect(&m_process, &QProcess::finished, &loop, check);
    deadline.start(timeoutMs);
    loop.exec();
    return done();
}

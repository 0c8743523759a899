#include "node/console.h"

#include "node/consoletext.h"

void Console::print(QStringView tag, QStringView text)
{
    write(tag.toString() + QLatin1Char(' ') + ConsoleText::escape(text));
}

void Console::printFields(QStringView tag, const QStringList& fields)
{
    QStringList escaped;
    escaped.reserve(fields.size());
    for (const QString& f : fields)
        escaped.append(ConsoleText::escape(f));
    write(tag.toString() + QLatin1Char(' ') + escaped.join(QLatin1Char('\t')));
}

void Console::print(QStringView tag)
{
    write(tag.toString());
}

void Console::write(const QString& line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    // A closed output (the reader went away) must not stop the node.
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), m_out);
    std::fflush(m_out);
}

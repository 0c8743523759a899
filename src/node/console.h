#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

#include <cstdio>

// The node's standard output: one line per event or answer, each beginning
// with a tag, flushed at once so a script reading the pipe sees it now.
class Console
{
public:
    explicit Console(FILE* out = stdout) : m_out(out) {}

    // "tag text", the text escaped so that it stays on one line.
    void print(QStringView tag, QStringView text);
    // "tag field<TAB>field...", each field escaped.
    void printFields(QStringView tag, const QStringList& fields);
    // "tag" alone.
    void print(QStringView tag);

private:
    void write(const QString& line);

    FILE* m_out;
};

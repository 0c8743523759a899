#pragma once

#include <QAction>
#include <QMenu>
#include <QStringList>

// A menu's item texts in order, "-" for a separator.
inline QStringList menuTexts(const QMenu* menu)
{
    QStringList out;
    for (QAction* a : menu->actions())
        out << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return out;
}

#pragma once

#include "profile/profileui.h"

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

// Answers the first-start questions without a dialog.
class QuietProfileUi : public ProfileUi
{
public:
    void showMessage(Icon, const QString&, const QString&) override {}
    bool askDynamicIp(const QString&, const QString&) override { return false; }
    std::optional<QString> askScreenName(const QString&, const QString&, const QString&) override
    {
        return QStringLiteral("Alice");
    }
};

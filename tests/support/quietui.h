#pragma once

// A program's user interface that shows nothing and answers every question
// the same way: message boxes go to boxes ("caption|text"), popups to
// popups ("first|second"), the status line to status, the screen name
// asked at a first start is name, yes/no is yes, everything else is
// declined. Tests and benchmarks override what they watch.

#include "messenger/messengerui.h"
#include "profile/profileui.h"
#include "transfers/transferui.h"

#include <QStringList>

class QuietUi : public MessengerUi, public ProfileUi, public TransferUi
{
public:
    QString name;
    QStringList boxes, popups;
    QString status;

    void eventLine(const QString&) override {}
    void mainStatusChanged(const QString& text) override { status = text; }
    void chatStatusChanged(const Contact&, const QString&) override {}
    void lineAppended(const Contact*, const PaneLine&) override {}
    void typingChanged(const Contact&, bool) override {}
    void myStatusChanged(int, const QString&, const QList<StatusLabelColor>&) override {}
    void contactAdded(const Contact&) override {}
    void contactRemoving(const Contact&) override {}
    void contactChanged(const Contact&) override {}
    void contactListChanged() override {}
    void popup(const QString& first, const QString& second, const QByteArray&) override
    {
        popups.append(first + u'|' + second);
    }
    void playSound(const QString&) override {}
    void messageBox(ProfileUi::Icon, const QString& caption, const QString& text) override
    {
        boxes.append(caption + u'|' + text);
    }
    bool askYesNo(const QString&, const QString&) override { return true; }
    std::optional<QString> askText(const QString&, const QString&, const QString&) override
    {
        return std::nullopt;
    }
    void showMessage(ProfileUi::Icon icon, const QString& caption, const QString& text) override
    {
        messageBox(icon, caption, text);
    }
    bool askDynamicIp(const QString&, const QString&) override { return false; }
    std::optional<QString> askScreenName(const QString&, const QString&, const QString&) override
    {
        return name;
    }
    void askAccept(FileSessionId, const QString&, const QString&, const Transfer&) override {}
    void askSavePath(FileSessionId, const QString&, bool) override {}
    void askResume(FileSessionId, const ResumePromptContent&) override {}
};

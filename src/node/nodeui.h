#pragma once

#include "messenger/messengerui.h"
#include "profile/profileui.h"

#include <QString>

#include <optional>

class Console;

// The messenger and the profile reach the user of the headless node through
// this: every event line, received message, typing change, popup and message
// box becomes one console line. Nothing ever waits for an answer: the
// first-start questions are answered from the command line, other questions
// are answered Yes (the command that caused them was the user's decision).
class NodeUi : public MessengerUi, public ProfileUi
{
public:
    struct Answers
    {
        bool dynamicIp = true; // the first-start Dynamic IP question
        QString screenName;    // the first-start screen name; empty keeps the default
    };

    NodeUi(Console& console, Answers answers);

    // --- MessengerUi ---
    void eventLine(const QString& text) override;
    void mainStatusChanged(const QString&) override {}
    void chatStatusChanged(const Contact&, const QString&) override {}
    void lineAppended(const Contact* contact, const PaneLine& line) override;
    void typingChanged(const Contact& contact, bool typing) override;
    void myStatusChanged(int, const QString&, const QList<StatusLabelColor>&) override {}
    void contactAdded(const Contact&) override {}
    void contactRemoving(const Contact&) override {}
    void contactChanged(const Contact&) override {}
    void contactListChanged() override {}
    void popup(const QString& firstLine, const QString& secondLine, const QByteArray& uid) override;
    void playSound(const QString&) override {}
    void messageBox(MessengerUi::Icon icon, const QString& caption, const QString& text) override;
    bool askYesNo(const QString& caption, const QString& text) override;
    std::optional<QString> askText(const QString& title, const QString& text,
                                   const QString& prefill) override;

    // --- ProfileUi ---
    void showMessage(ProfileUi::Icon icon, const QString& caption, const QString& text) override;
    bool askDynamicIp(const QString& caption, const QString& question) override;
    std::optional<QString> askScreenName(const QString& title, const QString& prompt,
                                         const QString& current) override;

private:
    Console& m_console;
    Answers m_answers;
};

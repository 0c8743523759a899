#pragma once

#include "node/nodecommands.h"
#include "transfers/transfermanager.h"
#include "transfers/transferui.h"

#include <QHash>
#include <QObject>
#include <QString>

#include <map>
#include <memory>

class Console;
class MessengerController;

// The node's transfers: the transfer manager with the console as its user.
// Adds the transfer commands, prints a line whenever a row's state or status
// text changes, and turns the receiving sessions' prompts into numbered
// "prompt" lines that the accept, deny and resume commands answer.
//
// Create it before the controller starts; destroy it before the controller.
class NodeTransfers : public QObject, public TransferUi
{
    Q_OBJECT
public:
    NodeTransfers(MessengerController& controller, NodeCommands& commands, Console& console);
    ~NodeTransfers() override;

    TransferManager& manager() { return *m_manager; }

    // --- TransferUi ---
    void messageBox(Icon icon, const QString& caption, const QString& text) override;
    void askAccept(FileSessionId session, const QString& title, const QString& text,
                   const Transfer& offer) override;
    void askSavePath(FileSessionId session, const QString& proposedName, bool folder) override;
    void askResume(FileSessionId session, const ResumePromptContent& content) override;
    void closePrompts(FileSessionId session) override;

private:
    // What an open prompt waits for.
    enum class Awaits { Accept, Path, Resume };
    struct Prompt
    {
        FileSessionId session = 0;
        Awaits awaits = Awaits::Accept;
        bool folder = false;
        QString name; // name part of the sender's path
        ResumePromptContent resume;
    };

    void addCommands();
    CommandReply send(QStringView arguments);
    CommandReply list(QStringView arguments);
    CommandReply start(QStringView arguments);
    CommandReply retry(QStringView arguments);
    CommandReply cancel(QStringView arguments);
    CommandReply remove(QStringView arguments);
    CommandReply clear(QStringView arguments);
    CommandReply properties(QStringView arguments);
    CommandReply accept(QStringView arguments);
    CommandReply deny(QStringView arguments);
    CommandReply resume(QStringView arguments);

    // The row a ROW argument names (1 is the newest), as an index.
    int takeRow(QStringView& arguments, QString& error) const;
    // The open prompt an N argument names.
    Prompt* takePrompt(QStringView& arguments, QString& error);
    // Runs the first of the commands the row's menu offers and enables.
    CommandReply runOffered(int row, std::initializer_list<TransferCommand> commands,
                            const QString& what);
    int promptFor(FileSessionId session);
    void printIfChanged(int row);

    MessengerController& m_controller;
    NodeCommands& m_commands;
    Console& m_console;
    std::unique_ptr<TransferManager> m_manager;
    std::map<int, Prompt> m_prompts;
    int m_nextPrompt = 1;
    // What was last printed for each row (by row key): state and status.
    QHash<quint64, QPair<int, QString>> m_printed;
};

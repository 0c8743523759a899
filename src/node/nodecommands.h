#pragma once

#include <QList>
#include <QString>
#include <QStringView>

#include <functional>
#include <map>

class Console;
class MessengerController;
struct Contact;

// What a command answers: "ok", or "error <reason>".
class CommandReply
{
public:
    static CommandReply ok() { return CommandReply(); }
    static CommandReply error(QString reason)
    {
        CommandReply r;
        r.m_failed = true;
        r.m_reason = std::move(reason);
        return r;
    }
    bool isOk() const { return !m_failed; }
    const QString& reason() const { return m_reason; }

private:
    bool m_failed = false;
    QString m_reason;
};

// The node's console commands: one line each, a command name and its
// arguments. Every command answers exactly one "ok" or "error <reason>" line,
// after any lines it prints itself. Other subsystems add their commands with
// add() in the same style.
//
// A CONTACT argument is the contact's uid, its exact display name (in double
// quotes when it holds spaces or commas) or its 1-based row in `contacts`,
// tried in that order. TEXT arguments run to the end of the line and may
// hold \n, \r, \t and \\ escapes.
class NodeCommands
{
public:
    // Runs with the arguments (everything after the command name, trimmed).
    using Handler = std::function<CommandReply(QStringView arguments)>;

    NodeCommands(MessengerController& controller, Console& console);

    // Adds or replaces a command; usage is its one-line synopsis for `help`.
    void add(const QString& name, const QString& usage, Handler handler);
    bool has(const QString& name) const { return m_commands.count(name) != 0; }

    // Runs one input line and prints its answer. Blank lines and lines
    // starting with '#' are ignored.
    void execute(QStringView line);

    // Finds one contact by uid, display name or row; null with error set
    // when there is none, or when a display name names several.
    Contact* findContact(const QString& name, QString& error) const;
    // Takes one CONTACT word off the front of arguments.
    Contact* takeContact(QStringView& arguments, QString& error) const;

    MessengerController& controller() const { return m_controller; }
    Console& console() const { return m_console; }

private:
    struct Command
    {
        QString usage;
        Handler handler;
    };

    void addMessengerCommands();
    CommandReply help(QStringView arguments);
    CommandReply addContact(QStringView arguments);
    CommandReply connectContact(QStringView arguments);
    CommandReply disconnectContact(QStringView arguments);
    CommandReply connectAll(QStringView arguments);
    CommandReply block(QStringView arguments);
    CommandReply unblock(QStringView arguments);
    CommandReply deleteContact(QStringView arguments);
    CommandReply message(QStringView arguments);
    CommandReply typing(QStringView arguments);
    CommandReply status(QStringView arguments);
    CommandReply away(QStringView arguments);
    CommandReply name(QStringView arguments);
    CommandReply alias(QStringView arguments);
    CommandReply contacts(QStringView arguments);
    CommandReply queue(QStringView arguments);
    CommandReply history(QStringView arguments);
    CommandReply set(QStringView arguments);
    CommandReply me(QStringView arguments);
    CommandReply quit(QStringView arguments);

    // A command whose only argument is one CONTACT.
    Contact* onlyContact(QStringView arguments, QString& error) const;

    MessengerController& m_controller;
    Console& m_console;
    std::map<QString, Command> m_commands;
};

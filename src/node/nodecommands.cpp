#include "node/nodecommands.h"

#include "messenger/messengercontroller.h"
#include "messenger/rtfreader.h"
#include "messenger/rtfwriter.h"
#include "node/console.h"
#include "node/consoletext.h"
#include "profile/profilefolder.h"

using ConsoleText::takeWord;
using ConsoleText::unescape;
using ConsoleText::unquote;

namespace {

// A document's text without its final line breaks.
QString plainText(const QByteArray& rtf)
{
    QString t = RtfToPlainText(rtf);
    while (t.endsWith(QLatin1Char('\n')))
        t.chop(1);
    return t;
}

CommandReply usageError(QStringView usage)
{
    return CommandReply::error(QStringLiteral("usage: ") + usage.toString());
}

std::optional<int> parsePort(QStringView word, int lowest)
{
    bool ok = false;
    const int port = word.toInt(&ok);
    if (!ok || port < lowest || port > 65535)
        return std::nullopt;
    return port;
}

} // namespace

NodeCommands::NodeCommands(MessengerController& controller, Console& console)
    : m_controller(controller), m_console(console)
{
    addMessengerCommands();
}

void NodeCommands::add(const QString& name, const QString& usage, Handler handler)
{
    m_commands[name] = Command{usage, std::move(handler)};
}

void NodeCommands::addMessengerCommands()
{
    const auto bind = [this](CommandReply (NodeCommands::*method)(QStringView)) {
        return [this, method](QStringView arguments) { return (this->*method)(arguments); };
    };
    add(QStringLiteral("help"), QStringLiteral("help"), bind(&NodeCommands::help));
    add(QStringLiteral("add"), QStringLiteral("add HOST PORT [PASSWORD [KEY]]"),
        bind(&NodeCommands::addContact));
    add(QStringLiteral("connect"), QStringLiteral("connect CONTACT"),
        bind(&NodeCommands::connectContact));
    add(QStringLiteral("disconnect"), QStringLiteral("disconnect CONTACT"),
        bind(&NodeCommands::disconnectContact));
    add(QStringLiteral("connectall"), QStringLiteral("connectall"),
        bind(&NodeCommands::connectAll));
    add(QStringLiteral("block"), QStringLiteral("block CONTACT"), bind(&NodeCommands::block));
    add(QStringLiteral("unblock"), QStringLiteral("unblock CONTACT"), bind(&NodeCommands::unblock));
    add(QStringLiteral("delete"), QStringLiteral("delete CONTACT"),
        bind(&NodeCommands::deleteContact));
    add(QStringLiteral("msg"), QStringLiteral("msg CONTACT[,CONTACT...] TEXT"),
        bind(&NodeCommands::message));
    add(QStringLiteral("typing"), QStringLiteral("typing CONTACT 1|0"),
        bind(&NodeCommands::typing));
    add(QStringLiteral("status"), QStringLiteral("status online|away|offline"),
        bind(&NodeCommands::status));
    add(QStringLiteral("away"), QStringLiteral("away [TEXT]"), bind(&NodeCommands::away));
    add(QStringLiteral("name"), QStringLiteral("name TEXT"), bind(&NodeCommands::name));
    add(QStringLiteral("alias"), QStringLiteral("alias CONTACT [TEXT]"),
        bind(&NodeCommands::alias));
    add(QStringLiteral("contacts"), QStringLiteral("contacts"), bind(&NodeCommands::contacts));
    add(QStringLiteral("queue"), QStringLiteral("queue CONTACT"), bind(&NodeCommands::queue));
    add(QStringLiteral("history"), QStringLiteral("history [CONTACT]"),
        bind(&NodeCommands::history));
    add(QStringLiteral("set"), QStringLiteral("set FIELD VALUE"), bind(&NodeCommands::set));
    add(QStringLiteral("me"), QStringLiteral("me"), bind(&NodeCommands::me));
    add(QStringLiteral("quit"), QStringLiteral("quit"), bind(&NodeCommands::quit));
}

void NodeCommands::execute(QStringView line)
{
    QStringView rest = line.trimmed();
    if (rest.isEmpty() || rest.startsWith(u'#'))
        return;
    const QString name = takeWord(rest).toString().toLower();

    CommandReply reply;
    const auto it = m_commands.find(name);
    if (m_controller.isExiting())
        reply = CommandReply::error(QStringLiteral("exiting"));
    else if (it == m_commands.end())
        reply = CommandReply::error(QStringLiteral("unknown command: ") + name);
    else
        reply = it->second.handler(rest);

    if (reply.isOk())
        m_console.print(u"ok");
    else
        m_console.print(u"error", reply.reason());
}

Contact* NodeCommands::findContact(const QString& name, QString& error) const
{
    if (name.isEmpty()) {
        error = QStringLiteral("missing contact");
        return nullptr;
    }
    if (Contact* c = m_controller.findContact(name.toUtf8()))
        return c;

    Contact* named = nullptr;
    for (Contact* c : m_controller.contacts()) {
        if (DisplayName(*c) != name)
            continue;
        if (named) {
            error = QStringLiteral("several contacts are named ") + name;
            return nullptr;
        }
        named = c;
    }
    if (named)
        return named;

    bool isNumber = false;
    const int row = name.toInt(&isNumber);
    if (isNumber) {
        if (Contact* c = m_controller.contactAt(row - 1))
            return c;
    }
    error = QStringLiteral("no such contact: ") + name;
    return nullptr;
}

Contact* NodeCommands::takeContact(QStringView& arguments, QString& error) const
{
    return findContact(unquote(takeWord(arguments)), error);
}

Contact* NodeCommands::onlyContact(QStringView arguments, QString& error) const
{
    // One word (quoted or not); otherwise the whole rest is a display name
    // typed without quotes.
    QStringView rest = arguments;
    const QStringView word = takeWord(rest);
    return findContact(rest.isEmpty() ? unquote(word) : arguments.toString(), error);
}

// --- the commands ---

CommandReply NodeCommands::help(QStringView)
{
    for (const auto& [name, command] : m_commands)
        m_console.print(u"help", command.usage);
    return CommandReply::ok();
}

CommandReply NodeCommands::addContact(QStringView arguments)
{
    const QString host = unquote(takeWord(arguments));
    const QStringView portWord = takeWord(arguments);
    const QByteArray password = unquote(takeWord(arguments)).toUtf8();
    const QByteArray key = unquote(takeWord(arguments)).toUtf8();
    if (host.isEmpty() || portWord.isEmpty() || !arguments.isEmpty())
        return usageError(u"add HOST PORT [PASSWORD [KEY]]");
    const std::optional<int> port = parsePort(portWord, 1);
    if (!port)
        return CommandReply::error(QStringLiteral("bad port: ") + portWord.toString());
    m_controller.AddContact(host, *port, password, key);
    return CommandReply::ok();
}

CommandReply NodeCommands::connectContact(QStringView arguments)
{
    QString error;
    Contact* c = onlyContact(arguments, error);
    if (!c)
        return CommandReply::error(error);
    m_controller.Connect(*c);
    return CommandReply::ok();
}

CommandReply NodeCommands::disconnectContact(QStringView arguments)
{
    QString error;
    Contact* c = onlyContact(arguments, error);
    if (!c)
        return CommandReply::error(error);
    if (c->sessionThread == 0)
        return CommandReply::error(QStringLiteral("not connected"));
    m_controller.Disconnect(*c);
    return CommandReply::ok();
}

CommandReply NodeCommands::connectAll(QStringView arguments)
{
    if (!arguments.isEmpty())
        return usageError(u"connectall");
    m_controller.ConnectAll();
    return CommandReply::ok();
}

CommandReply NodeCommands::block(QStringView arguments)
{
    QString error;
    Contact* c = onlyContact(arguments, error);
    if (!c)
        return CommandReply::error(error);
    m_controller.Block(*c);
    return CommandReply::ok();
}

CommandReply NodeCommands::unblock(QStringView arguments)
{
    QString error;
    Contact* c = onlyContact(arguments, error);
    if (!c)
        return CommandReply::error(error);
    m_controller.Unblock(*c);
    return CommandReply::ok();
}

CommandReply NodeCommands::deleteContact(QStringView arguments)
{
    QString error;
    Contact* c = onlyContact(arguments, error);
    if (!c)
        return CommandReply::error(error);
    // The command itself is the user's confirmation.
    m_controller.Delete(c, false);
    return CommandReply::ok();
}

CommandReply NodeCommands::message(QStringView arguments)
{
    const QStringView recipients = takeWord(arguments);
    if (recipients.isEmpty())
        return usageError(u"msg CONTACT[,CONTACT...] TEXT");
    QList<Contact*> selected;
    for (const QString& name : ConsoleText::splitList(recipients)) {
        QString error;
        Contact* c = findContact(name, error);
        if (!c)
            return CommandReply::error(error);
        if (!selected.contains(c))
            selected.append(c);
    }
    const QString text = unescape(arguments);
    if (text.isEmpty())
        return CommandReply::error(QStringLiteral("no message to send"));

    const MessengerController::SendResult result =
        m_controller.SendFromMain(selected, RtfFromPlainText(text));
    if (!result.failed.isEmpty())
        return CommandReply::error(QStringLiteral("queue full: ") +
                                   result.failed.join(QStringLiteral(", ")));
    if (result.sent.isEmpty())
        return CommandReply::error(QStringLiteral("no message to send"));
    return CommandReply::ok();
}

CommandReply NodeCommands::typing(QStringView arguments)
{
    QString error;
    Contact* c = takeContact(arguments, error);
    if (!c)
        return CommandReply::error(error);
    if (arguments != u"1" && arguments != u"0")
        return usageError(u"typing CONTACT 1|0");
    if (c->sessionThread == 0)
        return CommandReply::error(QStringLiteral("not connected"));
    m_controller.ChatInputTyping(*c, arguments == u"1" ? 1 : 0);
    return CommandReply::ok();
}

CommandReply NodeCommands::status(QStringView arguments)
{
    const QString word = arguments.toString().toLower();
    if (word == u"online")
        m_controller.SetMyStatus(StatusOnline);
    else if (word == u"away")
        m_controller.SetMyStatus(StatusAway);
    else if (word == u"offline")
        m_controller.SetMyStatus(StatusOffline);
    else
        return usageError(u"status online|away|offline");
    return CommandReply::ok();
}

CommandReply NodeCommands::away(QStringView arguments)
{
    m_controller.SetAwayMessage(unescape(arguments));
    return CommandReply::ok();
}

CommandReply NodeCommands::name(QStringView arguments)
{
    if (!m_controller.SetScreenName(unescape(arguments)))
        return usageError(u"name TEXT");
    return CommandReply::ok();
}

CommandReply NodeCommands::alias(QStringView arguments)
{
    QString error;
    Contact* c = takeContact(arguments, error);
    if (!c)
        return CommandReply::error(error);
    m_controller.SetAlias(*c, unescape(arguments));
    return CommandReply::ok();
}

CommandReply NodeCommands::contacts(QStringView arguments)
{
    if (!arguments.isEmpty())
        return usageError(u"contacts");
    for (const Contact* c : m_controller.contacts()) {
        m_console.printFields(u"contact",
                              {QString::fromUtf8(c->uid.bytes()), QString::number(c->status),
                               DisplayName(*c),
                               c->ip.text() + QLatin1Char(':') + QString::number(c->port),
                               QString::number(c->queue.size())});
    }
    return CommandReply::ok();
}

CommandReply NodeCommands::queue(QStringView arguments)
{
    QString error;
    Contact* c = onlyContact(arguments, error);
    if (!c)
        return CommandReply::error(error);
    const QString prefix = DisplayName(*c) + QStringLiteral(": ");
    for (const QByteArray& document : MessengerController::queueDocuments(*c))
        m_console.print(u"queue", prefix + plainText(document));
    return CommandReply::ok();
}

CommandReply NodeCommands::history(QStringView arguments)
{
    // Without a contact: the main pane, which holds every conversation.
    const ChatHistory* pane = &m_controller.mainHistory();
    if (!arguments.isEmpty()) {
        QString error;
        Contact* c = onlyContact(arguments, error);
        if (!c)
            return CommandReply::error(error);
        pane = &m_controller.history(*c);
    }
    if (!pane->isEmpty()) {
        for (const QString& line : pane->plainText().split(QLatin1Char('\n')))
            m_console.print(u"history", line);
    }
    return CommandReply::ok();
}

CommandReply NodeCommands::set(QStringView arguments)
{
    const QString field = unquote(takeWord(arguments));
    const QString value = unescape(arguments);
    if (field.isEmpty())
        return usageError(u"set FIELD VALUE");

    Settings settings = m_controller.settings();
    Identity own = m_controller.myIdentity();
    const auto badValue = [&] {
        return CommandReply::error(QStringLiteral("bad value for ") + field + QStringLiteral(": ") +
                                   value);
    };

    if (const int index = Settings::fieldIndex(field); index >= 0) {
        bool ok = false;
        int32_t word = value.toInt(&ok);
        if (!ok && (value == u"on" || value == u"off")) {
            word = value == u"on" ? 1 : 0;
            ok = true;
        }
        if (!ok)
            return badValue();
        // Stored as the options dialog stores them: flags as 0 or 1, the
        // simultaneous maximum at least 1, the translucency within 0..255.
        if (index == Settings::fieldIndex(u"maxSendTransfers"))
            word = qMax(word, 1);
        else if (index == Settings::fieldIndex(u"translucency"))
            word = qBound(0, word, 255);
        else
            word = word != 0 ? 1 : 0;
        settings.setWord(index, word);
    } else if (field == u"autosaveDir") {
        if (!CreateFolderPath(value))
            return CommandReply::error(QStringLiteral(
                "Could not create autosave directory, check your drive and syntax."));
        settings.autosaveDir = value.toUtf8();
    } else if (field == u"sharedPaths") {
        settings.setSharedPathTexts(value.split(QLatin1Char('\n'), Qt::SkipEmptyParts));
    } else if (field == u"key") {
        if (value.size() < 9)
            return CommandReply::error(
                QStringLiteral("Encryption key must be at least 9 characters long."));
        own.key.setText(value);
    } else if (field == u"name") {
        // Peers show nothing for an empty name.
        if (value.isEmpty())
            return badValue();
        own.name.setText(value);
    } else if (field == u"dns") {
        own.dns.setText(value);
    } else if (field == u"password") {
        own.password.setText(value);
    } else if (field == u"awayMessage") {
        own.awayMessage.setText(value);
    } else if (field == u"port") {
        const std::optional<int> port = parsePort(value, 1);
        if (!port)
            return badValue();
        own.port = *port;
    } else {
        return CommandReply::error(QStringLiteral("unknown field: ") + field);
    }
    m_controller.ApplyOptions(settings, own);
    return CommandReply::ok();
}

CommandReply NodeCommands::me(QStringView arguments)
{
    if (!arguments.isEmpty())
        return usageError(u"me");
    const Identity& own = m_controller.myIdentity();
    m_console.printFields(u"me", {QString::fromUtf8(own.uid.bytes()), QString::number(own.status),
                                  own.name.text(), QString::number(own.port)});
    return CommandReply::ok();
}

CommandReply NodeCommands::quit(QStringView arguments)
{
    if (!arguments.isEmpty())
        return usageError(u"quit");
    m_controller.Exit();
    return CommandReply::ok();
}

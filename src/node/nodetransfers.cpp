#include "node/nodetransfers.h"

#include "messenger/messengercontroller.h"
#include "node/console.h"
#include "node/consoletext.h"
#include "profile/profilefolder.h"
#include "transfers/transferformat.h"

#include <QFileInfo>

using ConsoleText::takeWord;
using ConsoleText::unquote;

namespace {

QString stateName(TransferState state)
{
    switch (state) {
    case TransferState::Queued:
        return QStringLiteral("Queued");
    case TransferState::Waiting:
        return QStringLiteral("Waiting");
    case TransferState::Transferring:
        return QStringLiteral("Transferring");
    case TransferState::Completed:
        return QStringLiteral("Completed");
    case TransferState::Failed:
        return QStringLiteral("Failed");
    case TransferState::Canceled:
        return QStringLiteral("Canceled");
    case TransferState::ManualRetry:
        return QStringLiteral("ManualRetry");
    case TransferState::Connecting:
        return QStringLiteral("Connecting");
    }
    return QString::number(int(state));
}

QString kindWord(bool folder)
{
    return folder ? QStringLiteral("folder") : QStringLiteral("file");
}

// A PATH argument runs to the end of the line; quotes are optional.
QString pathArgument(QStringView arguments)
{
    const QStringView rest = arguments.trimmed();
    return rest.startsWith(u'"') ? unquote(rest) : rest.toString();
}

CommandReply usageError(QStringView usage)
{
    return CommandReply::error(QStringLiteral("usage: ") + usage.toString());
}

} // namespace

NodeTransfers::NodeTransfers(MessengerController& controller, NodeCommands& commands,
                             Console& console)
    : m_controller(controller), m_commands(commands), m_console(console),
      m_manager(std::make_unique<TransferManager>(controller, this))
{
    m_manager->attach();
    connect(m_manager.get(), &TransferManager::rowInserted, this, &NodeTransfers::printIfChanged);
    connect(m_manager.get(), &TransferManager::rowChanged, this, &NodeTransfers::printIfChanged);
    connect(m_manager.get(), &TransferManager::rowRemoved, this, [this] {
        QHash<quint64, QPair<int, QString>> kept;
        for (int i = 0; i < m_manager->rowCount(); ++i) {
            const quint64 key = m_manager->row(i).key;
            if (m_printed.contains(key))
                kept.insert(key, m_printed.value(key));
        }
        m_printed.swap(kept);
    });
    addCommands();
}

NodeTransfers::~NodeTransfers() = default;

void NodeTransfers::addCommands()
{
    const auto bind = [this](CommandReply (NodeTransfers::*method)(QStringView)) {
        return [this, method](QStringView arguments) { return (this->*method)(arguments); };
    };
    m_commands.add(QStringLiteral("send"), QStringLiteral("send CONTACT PATH"),
                   bind(&NodeTransfers::send));
    m_commands.add(QStringLiteral("transfers"), QStringLiteral("transfers"),
                   bind(&NodeTransfers::list));
    m_commands.add(QStringLiteral("start"), QStringLiteral("start ROW"),
                   bind(&NodeTransfers::start));
    m_commands.add(QStringLiteral("retry"), QStringLiteral("retry ROW"),
                   bind(&NodeTransfers::retry));
    m_commands.add(QStringLiteral("cancel"), QStringLiteral("cancel ROW"),
                   bind(&NodeTransfers::cancel));
    m_commands.add(QStringLiteral("remove"), QStringLiteral("remove ROW"),
                   bind(&NodeTransfers::remove));
    m_commands.add(QStringLiteral("clear"), QStringLiteral("clear completed|incomplete|all|queued"),
                   bind(&NodeTransfers::clear));
    m_commands.add(QStringLiteral("properties"), QStringLiteral("properties ROW"),
                   bind(&NodeTransfers::properties));
    m_commands.add(QStringLiteral("accept"), QStringLiteral("accept N [PATH]"),
                   bind(&NodeTransfers::accept));
    m_commands.add(QStringLiteral("deny"), QStringLiteral("deny N"), bind(&NodeTransfers::deny));
    m_commands.add(QStringLiteral("resume"),
                   QStringLiteral("resume N resume|overwrite|reselect|autorename|cancel"),
                   bind(&NodeTransfers::resume));
}

// --- rows ---

int NodeTransfers::takeRow(QStringView& arguments, QString& error) const
{
    const QStringView word = takeWord(arguments);
    bool ok = false;
    const int row = word.toInt(&ok);
    if (!ok || row < 1 || row > m_manager->rowCount()) {
        error = QStringLiteral("no such row: ") + word.toString();
        return -1;
    }
    return row - 1;
}

void NodeTransfers::printIfChanged(int row)
{
    const TransferRow& r = m_manager->row(row);
    const QPair<int, QString> shown(int(r.transfer.state), r.transfer.statusText);
    const auto it = m_printed.constFind(r.key);
    if (it != m_printed.constEnd() && *it == shown)
        return;
    m_printed.insert(r.key, shown);
    m_console.printFields(u"transfer",
                          {QString::number(row + 1), stateName(r.transfer.state),
                           QString::number(r.transfer.percent), r.transfer.statusText});
}

CommandReply NodeTransfers::runOffered(int row, std::initializer_list<TransferCommand> commands,
                                       const QString& what)
{
    const QList<TransferMenuItem> items = m_manager->MenuItems(row);
    for (TransferCommand command : commands) {
        for (const TransferMenuItem& item : items) {
            if (item.kind != TransferMenuItem::Command || item.command != command)
                continue;
            if (!item.enabled)
                return CommandReply::error(QStringLiteral("contact not connected"));
            if (!m_manager->Command(command, row))
                return CommandReply::error(what + QStringLiteral(" failed"));
            return CommandReply::ok();
        }
    }
    return CommandReply::error(QStringLiteral("cannot %1 a %2 transfer")
                                   .arg(what, stateName(m_manager->row(row).transfer.state)));
}

// --- commands ---

CommandReply NodeTransfers::send(QStringView arguments)
{
    QString error;
    Contact* contact = m_commands.takeContact(arguments, error);
    if (!contact)
        return CommandReply::error(error);
    const QString path = pathArgument(arguments);
    if (path.isEmpty())
        return usageError(u"send CONTACT PATH");
    if (!QFileInfo::exists(path))
        return CommandReply::error(QStringLiteral("no such file or folder: ") + path);
    const int before = m_manager->rowCount();
    m_manager->QueueSend(*contact, path);
    if (m_manager->rowCount() == before)
        return CommandReply::error(QStringLiteral("already in the transfer list"));
    return CommandReply::ok();
}

CommandReply NodeTransfers::list(QStringView arguments)
{
    if (!arguments.isEmpty())
        return usageError(u"transfers");
    for (int i = 0; i < m_manager->rowCount(); ++i) {
        const Transfer& t = m_manager->row(i).transfer;
        m_console.printFields(u"row", {QString::number(i + 1), stateName(t.state),
                                       TransferTypeText(t), m_manager->columnText(i, 0),
                                       QString::number(t.bytesDone), QString::number(t.totalSize),
                                       QString::number(t.percent), t.statusText});
    }
    return CommandReply::ok();
}

CommandReply NodeTransfers::start(QStringView arguments)
{
    QString error;
    const int row = takeRow(arguments, error);
    if (row < 0)
        return CommandReply::error(error);
    if (m_manager->row(row).transfer.state != TransferState::Queued)
        return CommandReply::error(QStringLiteral("not queued; use retry"));
    return runOffered(row, {TransferCommand::Start}, QStringLiteral("start"));
}

CommandReply NodeTransfers::retry(QStringView arguments)
{
    QString error;
    const int row = takeRow(arguments, error);
    if (row < 0)
        return CommandReply::error(error);
    if (m_manager->row(row).transfer.state == TransferState::Queued)
        return CommandReply::error(QStringLiteral("queued; use start"));
    // A finished folder is sent again whole, walked anew.
    return runOffered(row, {TransferCommand::ResendAll, TransferCommand::Start},
                      QStringLiteral("retry"));
}

CommandReply NodeTransfers::cancel(QStringView arguments)
{
    QString error;
    const int row = takeRow(arguments, error);
    if (row < 0)
        return CommandReply::error(error);
    return runOffered(row, {TransferCommand::Cancel}, QStringLiteral("cancel"));
}

CommandReply NodeTransfers::remove(QStringView arguments)
{
    QString error;
    const int row = takeRow(arguments, error);
    if (row < 0)
        return CommandReply::error(error);
    return runOffered(row, {TransferCommand::Remove}, QStringLiteral("remove"));
}

CommandReply NodeTransfers::clear(QStringView arguments)
{
    const QString which = arguments.trimmed().toString().toLower();
    TransferCommand command;
    if (which == u"completed")
        command = TransferCommand::ClearCompleted;
    else if (which == u"incomplete")
        command = TransferCommand::ClearIncomplete;
    else if (which == u"all")
        command = TransferCommand::ClearCompletedAndIncomplete;
    else if (which == u"queued")
        command = TransferCommand::ClearQueued;
    else
        return usageError(u"clear completed|incomplete|all|queued");
    m_manager->Command(command, -1);
    return CommandReply::ok();
}

CommandReply NodeTransfers::properties(QStringView arguments)
{
    QString error;
    const int row = takeRow(arguments, error);
    if (row < 0)
        return CommandReply::error(error);
    const QStringList lines = m_manager->Properties(row).split(u'\n', Qt::SkipEmptyParts);
    for (const QString& line : lines)
        m_console.printFields(u"properties", line.split(u'\t', Qt::SkipEmptyParts));
    return CommandReply::ok();
}

// --- prompts ---

int NodeTransfers::promptFor(FileSessionId session)
{
    for (const auto& [number, prompt] : m_prompts) {
        if (prompt.session == session)
            return number;
    }
    const int number = m_nextPrompt++;
    m_prompts[number].session = session;
    return number;
}

NodeTransfers::Prompt* NodeTransfers::takePrompt(QStringView& arguments, QString& error)
{
    const QStringView word = takeWord(arguments);
    bool ok = false;
    const auto it = m_prompts.find(word.toInt(&ok));
    if (!ok || it == m_prompts.end()) {
        error = QStringLiteral("no such prompt: ") + word.toString();
        return nullptr;
    }
    return &it->second;
}

void NodeTransfers::messageBox(Icon, const QString& caption, const QString& text)
{
    m_console.print(u"notice", caption + QStringLiteral(": ") + text);
}

void NodeTransfers::askAccept(FileSessionId session, const QString&, const QString&,
                              const Transfer& offer)
{
    const int number = promptFor(session);
    Prompt& p = m_prompts[number];
    p.awaits = Awaits::Accept;
    p.folder = offer.isFolder != 0;
    p.name = PathNamePart(offer.senderPath);
    const TransferContactInfo info = m_manager->contactInfo(offer.contactUid);
    const QString contact =
        info.found ? ContactColumnText(info.name, info.ip) : QString::fromUtf8(offer.contactUid);
    // The offer's status text carries its size.
    m_console.printFields(u"prompt", {QStringLiteral("accept"), QString::number(number),
                                      kindWord(p.folder), p.name, offer.statusText, contact});
}

void NodeTransfers::askSavePath(FileSessionId session, const QString& proposedName, bool folder)
{
    const int number = promptFor(session);
    Prompt& p = m_prompts[number];
    p.awaits = Awaits::Path;
    p.folder = folder;
    p.name = proposedName;
    m_console.printFields(u"prompt", {QStringLiteral("path"), QString::number(number),
                                      kindWord(folder), proposedName});
}

void NodeTransfers::askResume(FileSessionId session, const ResumePromptContent& content)
{
    const int number = promptFor(session);
    Prompt& p = m_prompts[number];
    p.awaits = Awaits::Resume;
    p.resume = content;
    m_console.printFields(u"prompt", {QStringLiteral("resume"), QString::number(number),
                                      content.title, content.text});
}

void NodeTransfers::closePrompts(FileSessionId session)
{
    for (auto it = m_prompts.begin(); it != m_prompts.end(); ++it) {
        if (it->second.session != session)
            continue;
        m_console.printFields(u"prompt", {QStringLiteral("closed"), QString::number(it->first)});
        m_prompts.erase(it);
        return;
    }
}

CommandReply NodeTransfers::accept(QStringView arguments)
{
    QString error;
    Prompt* p = takePrompt(arguments, error);
    if (!p)
        return CommandReply::error(error);
    if (p->awaits == Awaits::Resume)
        return CommandReply::error(QStringLiteral("answer with resume"));
    QString path = pathArgument(arguments);
    if (path.isEmpty()) {
        if (p->awaits == Awaits::Path || !IsUsableName(p->name))
            return CommandReply::error(QStringLiteral("a path is needed"));
        // Without a path: the name the sender gave, in the autosave folder.
        path = m_controller.settings().autosaveDirText() + u'/' + p->name;
    }
    path = QFileInfo(path).absoluteFilePath();
    if (!CreateFolderPath(QFileInfo(path).path()))
        return CommandReply::error(QStringLiteral("cannot create the folder of ") + path);
    const bool posted = p->awaits == Awaits::Accept ? m_manager->answerAccept(p->session, path)
                                                    : m_manager->answerSavePath(p->session, path);
    if (!posted)
        return CommandReply::error(QStringLiteral("the transfer has ended"));
    return CommandReply::ok();
}

CommandReply NodeTransfers::deny(QStringView arguments)
{
    QString error;
    Prompt* p = takePrompt(arguments, error);
    if (!p)
        return CommandReply::error(error);
    bool posted = false;
    switch (p->awaits) {
    case Awaits::Accept:
        posted = m_manager->answerDeny(p->session);
        break;
    case Awaits::Path:
        posted = m_manager->answerSavePath(p->session, QString());
        break;
    case Awaits::Resume:
        posted = m_manager->answerResume(p->session, ResumeChoice::Cancel);
        break;
    }
    if (!posted)
        return CommandReply::error(QStringLiteral("the transfer has ended"));
    return CommandReply::ok();
}

CommandReply NodeTransfers::resume(QStringView arguments)
{
    QString error;
    Prompt* p = takePrompt(arguments, error);
    if (!p)
        return CommandReply::error(error);
    if (p->awaits != Awaits::Resume)
        return CommandReply::error(QStringLiteral("no resume question open"));
    const QString word = arguments.trimmed().toString().toLower();
    ResumeChoice choice;
    if (word == u"resume" && p->resume.resumeEnabled)
        choice = ResumeChoice::Resume;
    else if (word == u"overwrite" && p->resume.overwriteEnabled)
        choice = ResumeChoice::Overwrite;
    else if (word == u"reselect")
        choice = ResumeChoice::Reselect;
    else if (word == u"autorename")
        choice = ResumeChoice::AutoRename;
    else if (word == u"cancel")
        choice = ResumeChoice::Cancel;
    else if (word == u"resume" || word == u"overwrite")
        return CommandReply::error(word + QStringLiteral(" is not offered"));
    else
        return usageError(u"resume N resume|overwrite|reselect|autorename|cancel");
    if (!m_manager->answerResume(p->session, choice))
        return CommandReply::error(QStringLiteral("the transfer has ended"));
    return CommandReply::ok();
}

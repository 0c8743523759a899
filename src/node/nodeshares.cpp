#include "node/nodeshares.h"

#include "messenger/messengercontroller.h"
#include "node/console.h"
#include "node/consoletext.h"
#include "transfers/transfermanager.h"

#include <QDir>
#include <QFile>

using ConsoleText::takeWord;
using ConsoleText::unquote;

namespace {

CommandReply usage(QStringView text)
{
    return CommandReply::error(QStringLiteral("usage: ") + text.toString());
}

QByteArray pathText(QStringView arguments)
{
    const QStringView rest = arguments.trimmed();
    return QFile::encodeName(rest.startsWith(u'"') ? unquote(rest) : rest.toString());
}

// An absolute, cleaned local path for the share lists.
QByteArray sharePath(QStringView arguments)
{
    const QByteArray text = pathText(arguments);
    if (text.isEmpty())
        return {};
    return QFile::encodeName(
        QDir::cleanPath(QDir::current().absoluteFilePath(QFile::decodeName(text))));
}

} // namespace

NodeShares::NodeShares(MessengerController& controller, TransferManager& transfers,
                       NodeCommands& commands, Console& console)
    : m_controller(controller), m_commands(commands), m_console(console),
      m_browsing(std::make_unique<ShareBrowsing>(controller, transfers, this))
{
    m_browsing->attach();
    addCommands();
}

NodeShares::~NodeShares()
{
    m_browsing.reset();
}

void NodeShares::addCommands()
{
    const auto bind = [this](CommandReply (NodeShares::*method)(QStringView)) {
        return [this, method](QStringView arguments) { return (this->*method)(arguments); };
    };
    const auto step = [this](void (RemoteBrowser::*method)()) {
        return [this, method](QStringView arguments) { return navigate(arguments, method); };
    };
    m_commands.add(QStringLiteral("share"), QStringLiteral("share [CONTACT] PATH"),
                   bind(&NodeShares::share));
    m_commands.add(QStringLiteral("unshare"), QStringLiteral("unshare [CONTACT] PATH"),
                   bind(&NodeShares::unshare));
    m_commands.add(QStringLiteral("shares"), QStringLiteral("shares [CONTACT]"),
                   bind(&NodeShares::shares));
    m_commands.add(QStringLiteral("sharing"), QStringLiteral("sharing on|off"),
                   bind(&NodeShares::sharing));
    m_commands.add(QStringLiteral("peers"), QStringLiteral("peers"), bind(&NodeShares::peers));
    m_commands.add(QStringLiteral("browse"), QStringLiteral("browse CONTACT"),
                   bind(&NodeShares::browse));
    m_commands.add(QStringLiteral("ls"), QStringLiteral("ls [PATH]"), bind(&NodeShares::ls));
    m_commands.add(QStringLiteral("search"), QStringLiteral("search PATTERN [sub]"),
                   bind(&NodeShares::search));
    m_commands.add(QStringLiteral("back"), QStringLiteral("back"), step(&RemoteBrowser::back));
    m_commands.add(QStringLiteral("forward"), QStringLiteral("forward"),
                   step(&RemoteBrowser::forward));
    m_commands.add(QStringLiteral("home"), QStringLiteral("home"), step(&RemoteBrowser::home));
    m_commands.add(QStringLiteral("refresh"), QStringLiteral("refresh"),
                   step(&RemoteBrowser::refresh));
    m_commands.add(QStringLiteral("stop"), QStringLiteral("stop"), step(&RemoteBrowser::stop));
    m_commands.add(QStringLiteral("get"), QStringLiteral("get PATH"), bind(&NodeShares::get));
    m_commands.add(QStringLiteral("browsing"), QStringLiteral("browsing"),
                   bind(&NodeShares::browsingRows));
    m_commands.add(QStringLiteral("kick"), QStringLiteral("kick ROW"), bind(&NodeShares::kick));
}

// --- share lists ---

CommandReply NodeShares::share(QStringView arguments)
{
    return editShares(arguments, true);
}

CommandReply NodeShares::unshare(QStringView arguments)
{
    return editShares(arguments, false);
}

CommandReply NodeShares::editShares(QStringView arguments, bool add)
{
    // An absolute path alone edits the list for everybody.
    QStringView rest = arguments.trimmed();
    Contact* contact = nullptr;
    if (!rest.startsWith(u'/')) {
        QString error;
        contact = m_commands.takeContact(rest, error);
        if (!contact)
            return CommandReply::error(error);
    }
    const QByteArray path = sharePath(rest);
    if (path.isEmpty())
        return usage(add ? u"share [CONTACT] PATH" : u"unshare [CONTACT] PATH");
    QList<QByteArray> list = contact ? contact->shares : m_controller.settings().sharedPaths;
    if (add) {
        if (!QFileInfo(QFile::decodeName(path)).isDir())
            return CommandReply::error(QStringLiteral("no such folder: ") +
                                       QFile::decodeName(path));
        list.append(path);
    } else if (list.removeAll(path) == 0) {
        return CommandReply::error(QStringLiteral("not shared: ") + QFile::decodeName(path));
    }
    if (contact)
        m_controller.SetContactShares(*contact, list);
    else
        m_controller.SetGeneralSharing(Settings::on(m_controller.settings().sharingEnabled), list);
    return CommandReply::ok();
}

CommandReply NodeShares::shares(QStringView arguments)
{
    QStringView rest = arguments.trimmed();
    QList<QByteArray> list;
    if (rest.isEmpty()) {
        list = m_controller.settings().sharedPaths;
        m_console.print(u"sharing", Settings::on(m_controller.settings().sharingEnabled)
                                        ? QStringLiteral("on")
                                        : QStringLiteral("off"));
    } else {
        QString error;
        Contact* contact = m_commands.takeContact(rest, error);
        if (!contact)
            return CommandReply::error(error);
        list = contact->shares;
    }
    for (const QByteArray& path : list)
        m_console.print(u"share", QFile::decodeName(path));
    return CommandReply::ok();
}

CommandReply NodeShares::sharing(QStringView arguments)
{
    const QStringView word = arguments.trimmed();
    if (word != u"on" && word != u"off")
        return usage(u"sharing on|off");
    m_controller.SetGeneralSharing(word == u"on", m_controller.settings().sharedPaths);
    return CommandReply::ok();
}

CommandReply NodeShares::peers(QStringView arguments)
{
    if (!arguments.trimmed().isEmpty())
        return usage(u"peers");
    for (const Contact* c : m_controller.contacts()) {
        if (c->peerShares)
            m_console.print(u"peer", QStringLiteral("%1 (%2)").arg(DisplayName(*c), c->ip.text()));
    }
    return CommandReply::ok();
}

// --- browsing ---

CommandReply NodeShares::browse(QStringView arguments)
{
    QString error;
    QStringView rest = arguments.trimmed();
    Contact* contact = m_commands.takeContact(rest, error);
    if (!contact)
        return CommandReply::error(error);
    if (!m_controller.ViewRemoteShares(contact->uid.bytes()))
        return CommandReply::error(QStringLiteral("cannot browse this contact now"));
    return CommandReply::ok();
}

BrowserView* NodeShares::browserOpened(BrowseId session, RemoteBrowser& browser)
{
    m_current = session;
    m_console.print(u"browse", browser.title());
    return this;
}

void NodeShares::browserClosing(BrowseId session, RemoteBrowser& browser)
{
    m_console.print(u"closed", browser.title());
    if (session == m_current)
        m_current = 0;
}

RemoteBrowser* NodeShares::current(QString& error) const
{
    RemoteBrowser* b = m_browsing->browser(m_current);
    if (!b)
        error = QStringLiteral("no browser open");
    return b;
}

void NodeShares::printRows(const RemoteBrowser& browser, int first)
{
    const QList<ShareEntry>& rows = browser.rows();
    for (qsizetype i = first; i < rows.size(); ++i) {
        const ShareEntry& e = rows[i];
        m_console.print(u"entry", QStringLiteral("%1 %2 %3 %4")
                                      .arg(QChar(e.folder ? u'D' : u'F'))
                                      .arg(e.size)
                                      .arg(e.modified)
                                      .arg(QString::fromUtf8(e.path)));
    }
}

void NodeShares::printEnd(const RemoteBrowser& browser)
{
    m_console.print(u"end", QStringLiteral("%1 %2")
                                .arg(browser.rows().size())
                                .arg(QString::fromUtf8(browser.currentPath())));
}

void NodeShares::rowsAppended(int first)
{
    if (RemoteBrowser* b = m_browsing->browser(m_current))
        printRows(*b, first);
}

void NodeShares::listEnded()
{
    if (RemoteBrowser* b = m_browsing->browser(m_current))
        printEnd(*b);
}

void NodeShares::sendResult(int code)
{
    m_console.print(u"result",
                    QStringLiteral("%1%2").arg(code).arg(RemoteBrowser::sendResultText(code)));
}

CommandReply NodeShares::ls(QStringView arguments)
{
    QString error;
    RemoteBrowser* b = current(error);
    if (!b)
        return CommandReply::error(error);
    if (b->isBusy())
        return CommandReply::error(QStringLiteral("a listing is running"));
    const QByteArray path = pathText(arguments);
    if (path.isEmpty())
        return navigate(u"", &RemoteBrowser::home);
    b->openFolder(path);
    return CommandReply::ok();
}

CommandReply NodeShares::search(QStringView arguments)
{
    QString error;
    RemoteBrowser* b = current(error);
    if (!b)
        return CommandReply::error(error);
    if (b->isBusy())
        return CommandReply::error(QStringLiteral("a listing is running"));
    QStringView rest = arguments.trimmed();
    const QString pattern = unquote(takeWord(rest));
    const QStringView flag = rest.trimmed();
    if (pattern.isEmpty() || (!flag.isEmpty() && flag != u"sub"))
        return usage(u"search PATTERN [sub]");
    // A pattern with its own '*' is taken exactly; a plain text is searched
    // for anywhere in the names.
    b->setMatchExactly(pattern.contains(u'*'));
    b->setSearchSubDirs(flag == u"sub");
    b->search(pattern);
    if (!b->isBusy())
        return CommandReply::error(b->statusText().trimmed());
    return CommandReply::ok();
}

CommandReply NodeShares::navigate(QStringView arguments, void (RemoteBrowser::*step)())
{
    if (!arguments.trimmed().isEmpty())
        return CommandReply::error(QStringLiteral("no arguments expected"));
    QString error;
    RemoteBrowser* b = current(error);
    if (!b)
        return CommandReply::error(error);
    if (b->isBusy() && step != &RemoteBrowser::stop)
        return CommandReply::error(QStringLiteral("a listing is running"));
    (b->*step)();
    // A view restored from memory asks nothing of the owner: show it now.
    if (!b->isBusy() && step != &RemoteBrowser::stop) {
        printRows(*b, 0);
        printEnd(*b);
    }
    return CommandReply::ok();
}

CommandReply NodeShares::get(QStringView arguments)
{
    QString error;
    RemoteBrowser* b = current(error);
    if (!b)
        return CommandReply::error(error);
    const QByteArray path = pathText(arguments);
    if (path.isEmpty())
        return usage(u"get PATH");
    b->download(path);
    return CommandReply::ok();
}

CommandReply NodeShares::browsingRows(QStringView arguments)
{
    if (!arguments.trimmed().isEmpty())
        return usage(u"browsing");
    const auto& rows = m_controller.browsingRows();
    for (qsizetype i = 0; i < rows.size(); ++i)
        m_console.print(u"browsing", QStringLiteral("%1 %2").arg(i + 1).arg(rows[i].text));
    return CommandReply::ok();
}

CommandReply NodeShares::kick(QStringView arguments)
{
    bool ok = false;
    const int row = arguments.trimmed().toInt(&ok);
    if (!ok || row < 1 || row > m_controller.browsingRows().size())
        return usage(u"kick ROW");
    m_controller.KickUser(row - 1);
    return CommandReply::ok();
}

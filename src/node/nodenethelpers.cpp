#include "node/nodenethelpers.h"

#include "app/startup.h"
#include "messenger/messengercontroller.h"
#include "node/console.h"
#include "node/consoletext.h"
#include "node/nodecommands.h"

#include <QTimer>

using ConsoleText::takeWord;

namespace {

// A caption as the button shows it: without its mnemonic marker.
QString shownCaption(QString caption)
{
    return caption.remove(QLatin1Char('&'));
}

std::optional<int> portWord(QStringView word)
{
    bool ok = false;
    const int port = word.toInt(&ok);
    if (!ok || port < 1 || port > 65535)
        return std::nullopt;
    return port;
}

} // namespace

// One `myip` lookup: prints the facts, then the Internet IP once known.
class NodeNetHelpers::IpLines : public IpHelperUi
{
public:
    explicit IpLines(Console& console) : m_console(console), helper(this) {}
    void ipFactsShown(const IpFacts& facts) override
    {
        print(QStringLiteral("Internet IP:"), facts.internetIp);
        print(QStringLiteral("LAN IP:"), facts.lanIp);
        print(QStringLiteral("Local DNS:"), facts.localDns);
        print(QStringLiteral("Port:"), facts.port);
    }
    void internetIpShown(const QString& text) override
    {
        print(QStringLiteral("Internet IP:"), text);
        done = true;
    }
    void print(const QString& label, const QString& value)
    {
        m_console.print(u"myip", label + QLatin1Char(' ') + value);
    }

    Console& m_console;
    IpHelper helper;
    bool done = false;
};

NodeNetHelpers::NodeNetHelpers(MessengerController& controller, NodeCommands& commands,
                               Console& console, std::function<void()> exitRequested)
    : m_controller(controller), m_console(console), m_exitRequested(std::move(exitRequested)),
      m_update(this)
{
    m_router.setLog(this);
    WireAutomaticWork(controller, m_update, m_router);
    addCommands(commands);
}

NodeNetHelpers::~NodeNetHelpers()
{
    m_router.setLog(nullptr);
}

void NodeNetHelpers::upnpStatus(const QString& line, bool)
{
    m_console.print(u"router", line);
}

void NodeNetHelpers::showUpdateWindow()
{
    m_updateShown = true;
    schedulePrint();
}

void NodeNetHelpers::exitRequested()
{
    if (m_exitRequested)
        m_exitRequested();
}

void NodeNetHelpers::schedulePrint()
{
    // The window's caption and message change together; one line per change.
    if (m_printScheduled)
        return;
    m_printScheduled = true;
    QTimer::singleShot(0, this, &NodeNetHelpers::printUpdate);
}

void NodeNetHelpers::printUpdate()
{
    m_printScheduled = false;
    if (!m_updateShown)
        return;
    const QString line =
        shownCaption(m_update.caption()) + QStringLiteral(": ") + m_update.message();
    if (line == m_lastUpdateLine)
        return;
    m_lastUpdateLine = line;
    m_console.print(u"update", line);
}

void NodeNetHelpers::addCommands(NodeCommands& commands)
{
    commands.add(QStringLiteral("router"), QStringLiteral("router map|unmap|list|remap OLD NEW"),
                 [this](QStringView arguments) {
                     const QString usage =
                         QStringLiteral("usage: router map|unmap|list|remap OLD NEW");
                     const QString job = takeWord(arguments).toString();
                     int port = m_controller.myIdentity().port;
                     if (port == 0)
                         port = m_controller.listenPort();
                     if (job == u"remap") {
                         const auto from = portWord(takeWord(arguments));
                         const auto to = portWord(takeWord(arguments));
                         if (!from || !to || !arguments.isEmpty())
                             return CommandReply::error(usage);
                         m_router.RemapPort(*from, *to);
                         return CommandReply::ok();
                     }
                     if (!arguments.isEmpty())
                         return CommandReply::error(usage);
                     if (job == u"map")
                         m_router.MapPort(port);
                     else if (job == u"unmap")
                         m_router.UnmapPort(port);
                     else if (job == u"list")
                         m_router.ListMappings();
                     else
                         return CommandReply::error(usage);
                     return CommandReply::ok();
                 });

    commands.add(QStringLiteral("myip"), QStringLiteral("myip"), [this](QStringView arguments) {
        if (!arguments.isEmpty())
            return CommandReply::error(QStringLiteral("usage: myip"));
        // Finished lookups make room; each new one runs on its own.
        std::erase_if(m_ipLookups, [](const auto& l) { return l->done; });
        auto lookup = std::make_unique<IpLines>(m_console);
        int port = m_controller.myIdentity().port;
        if (!lookup->helper.open(port))
            return CommandReply::error(QStringLiteral("no host name"));
        m_ipLookups.push_back(std::move(lookup));
        return CommandReply::ok();
    });

    commands.add(QStringLiteral("update"), QStringLiteral("update check|download|cancel|restart"),
                 [this](QStringView arguments) {
                     const QString what = takeWord(arguments).toString();
                     const auto press = [this](const QString& caption) {
                         if (m_update.caption() != caption || !m_update.isButtonEnabled())
                             return CommandReply::error(QStringLiteral("the button shows ") +
                                                        shownCaption(m_update.caption()));
                         m_update.buttonPressed();
                         return CommandReply::ok();
                     };
                     if (!arguments.isEmpty())
                         return CommandReply::error(
                             QStringLiteral("usage: update check|download|cancel|restart"));
                     if (what == u"check") {
                         m_update.CheckForUpdates(1);
                         return CommandReply::ok();
                     }
                     if (what == u"download")
                         return press(UpdateLogic::UpdateCaption);
                     if (what == u"cancel")
                         return press(UpdateLogic::CancelCaption);
                     if (what == u"restart")
                         return press(UpdateLogic::RestartCaption);
                     return CommandReply::error(
                         QStringLiteral("usage: update check|download|cancel|restart"));
                 });
}

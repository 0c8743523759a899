#include "node/nodeui.h"

#include "node/console.h"

NodeUi::NodeUi(Console& console, Answers answers)
    : m_console(console), m_answers(std::move(answers))
{}

void NodeUi::eventLine(const QString& text)
{
    m_console.print(u"event", text);
}

void NodeUi::lineAppended(const Contact* contact, const PaneLine& line)
{
    // Received lines reach both the main pane and the chat pane; the main
    // pane's copy is the one printed.
    if (contact)
        return;
    const QString prefix = line.sender + QStringLiteral(": ");
    switch (line.kind) {
    case PaneLine::Peer:
        for (const QString& document : line.documents)
            m_console.print(u"message", prefix + document);
        break;
    case PaneLine::QueuedPeer:
        for (const QString& document : line.documents)
            m_console.print(u"queued", prefix + document);
        break;
    case PaneLine::Own:
    case PaneLine::QueuedOwn:
        break;
    }
}

void NodeUi::typingChanged(const Contact& contact, bool typing)
{
    m_console.print(u"typing",
                    DisplayName(contact) + (typing ? QStringLiteral(" 1") : QStringLiteral(" 0")));
}

void NodeUi::popup(const QString& firstLine, const QString& secondLine, const QByteArray&)
{
    m_console.print(u"popup", firstLine + QStringLiteral(": ") + secondLine);
}

void NodeUi::messageBox(MessengerUi::Icon, const QString& caption, const QString& text)
{
    m_console.print(u"notice", caption + QStringLiteral(": ") + text);
}

bool NodeUi::askYesNo(const QString& caption, const QString& text)
{
    m_console.print(u"notice", caption + QStringLiteral(": ") + text);
    return true;
}

std::optional<QString> NodeUi::askText(const QString&, const QString&, const QString&)
{
    // Texts come with the commands; a prompt has nobody to answer it.
    return std::nullopt;
}

void NodeUi::showMessage(ProfileUi::Icon, const QString& caption, const QString& text)
{
    m_console.print(u"notice", caption + QStringLiteral(": ") + text);
}

bool NodeUi::askDynamicIp(const QString&, const QString&)
{
    return m_answers.dynamicIp;
}

std::optional<QString> NodeUi::askScreenName(const QString&, const QString&, const QString&)
{
    if (m_answers.screenName.isEmpty())
        return std::nullopt;
    return m_answers.screenName;
}

#pragma once

// What the parts of the messenger controller (messengercontroller.cpp,
// controllersessions.cpp, controllermessages.cpp) share. Not for use
// elsewhere.

#include "messenger/chathistory.h"
#include "messenger/messengercontroller.h"
#include "messenger/richtext.h"
#include "records/contact.h"

#include <QDateTime>
#include <QLoggingCategory>
#include <QString>

#include <cstdint>
#include <memory>

Q_DECLARE_LOGGING_CATEGORY(lcMessenger)

struct MessengerController::Entry
{
    std::unique_ptr<Contact> contact;
    ChatHistory history;
    QString status; // the chat window's status line
    // Block or delete asked of the bound session: it holds even when the
    // session ends for another reason before it sees the request.
    EndReason requestedEnd = EndReason::Disconnect;
};

namespace ControllerDetail {

inline const QString OnlineSound = QStringLiteral("online.wav");
inline const QString MessageSound = QStringLiteral("msg.wav");
inline const QString IdleMessage = QStringLiteral("Idle");
inline const QString TypingWord = QStringLiteral("typing");

inline uint32_t now()
{
    return static_cast<uint32_t>(QDateTime::currentSecsSinceEpoch());
}

// A document's text for a pane line, without its final line breaks.
inline QString plainText(const RichText& document)
{
    QString t = document.plainText();
    while (t.endsWith(QLatin1Char('\n')))
        t.chop(1);
    return t;
}

// The event line of a peer whose identity arrives under a new name (and no
// alias of ours hides it); empty when the name is unchanged.
inline QString RenameLine(const Contact& stored, const Contact& received)
{
    if (!received.alias.isEmpty() || received.name == stored.name)
        return QString();
    return QStringLiteral("\"%1\" changed name to \"%2\" and is %3")
        .arg(stored.name.text(), received.name.text(), StatusText(received));
}

} // namespace ControllerDetail

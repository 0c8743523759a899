#pragma once

#include <QIcon>
#include <QPixmap>

namespace Icons {

// The icon of a contact status: 0 Online, 1 Away, 2 Away with message,
// 3 Offline, 4 Blocked (anything else shows Offline).
QIcon statusIcon(int status);
QPixmap statusPixmap(int status, int size);
// The program's own icon (also the tray's Online icon).
QIcon programIcon();
// The tray and chat-window icon of the own status: program icon for Online,
// the Away icon for Away, the Offline icon for Offline.
QIcon ownStatusIcon(int status);

} // namespace Icons

// The names the contract with the chat window uses.
inline QIcon statusIcon(int status)
{
    return Icons::statusIcon(status);
}
inline QIcon programIcon()
{
    return Icons::programIcon();
}

#pragma once

#include "records/contact.h"
#include "profile/profilestore.h"
#include "profile/profileui.h"

#include <QByteArray>
#include <QList>
#include <QPoint>
#include <QString>
#include <QStringList>

#include <optional>

// The colours of the own status label, in the order the coloured label takes
// them.
struct StatusLabelColor
{
    int red = 0;
    int green = 0;
    int blue = 0;
    friend bool operator==(const StatusLabelColor&, const StatusLabelColor&) = default;
};

// One line the controller appended to a history pane: the line's header and
// the documents streamed in after it.
struct PaneLine
{
    enum Kind {
        Own,        // a message the user sent
        QueuedOwn,  // a message the user sent that was queued for later
        Peer,       // a message received
        QueuedPeer, // offline messages received, one document per message
    };
    Kind kind = Own;
    QString sender;     // display name of the sender (own screen name for own lines)
    QString recipients; // own lines: the names the message went to
    // Plain text of each document after the header: one for Own, QueuedOwn
    // and Peer; every document of the queue for QueuedPeer.
    QStringList documents;
};

// How the messenger controller reaches the user. The desktop shell shows
// windows, the headless node prints lines, tests record.
//
// Everything is called on the controller's (main) thread. Calls naming a
// contact pass the controller's own record, valid until contactRemoving()
// was called for it. Window requests and queries have do-nothing defaults:
// a front end without windows (the node) has no windows to show, none is
// visible and none is in the foreground.
class MessengerUi
{
public:
    using Icon = ProfileUi::Icon;

    virtual ~MessengerUi() = default;

    // --- panes and lines ---
    // A line for the main window's event pane.
    virtual void eventLine(const QString& text) = 0;
    // The main window's status line shows text (typing texts, send results).
    virtual void mainStatusChanged(const QString& text) = 0;
    // The status line of the contact's chat window shows text.
    virtual void chatStatusChanged(const Contact& contact, const QString& text) = 0;
    // A line was appended to the main history pane (contact null) or to the
    // contact's chat history. The rich text is in the controller's ChatHistory.
    virtual void lineAppended(const Contact* contact, const PaneLine& line) = 0;
    // The peer's typing flag changed.
    virtual void typingChanged(const Contact& contact, bool typing) = 0;
    // The own status label and icons: status 0..3, label text and its colours.
    virtual void myStatusChanged(int status, const QString& label,
                                 const QList<StatusLabelColor>& colors) = 0;

    // --- contact list ---
    // A contact joined the list (its chat window is made with it).
    virtual void contactAdded(const Contact& contact) = 0;
    // A contact is about to leave the list (its chat window goes with it).
    virtual void contactRemoving(const Contact& contact) = 0;
    // A contact's row and chat window show its current data.
    virtual void contactChanged(const Contact& contact) = 0;
    // Redraw the whole list.
    virtual void contactListChanged() = 0;

    // --- notices ---
    // Notification popup: first line the display name, second "Is Online",
    // "Sent a Message", ...; uid names the contact for the popup's Talk button.
    virtual void popup(const QString& firstLine, const QString& secondLine,
                       const QByteArray& uid) = 0;
    // Plays a sound file ("online.wav", "msg.wav") without waiting.
    virtual void playSound(const QString& fileName) = 0;
    // A top-most message box.
    virtual void messageBox(Icon icon, const QString& caption, const QString& text) = 0;
    // A top-most Yes/No question; Yes is true.
    virtual bool askYesNo(const QString& caption, const QString& text) = 0;
    // A one-line text prompt; no value when cancelled.
    virtual std::optional<QString> askText(const QString& title, const QString& text,
                                           const QString& prefill) = 0;

    // --- windows (optional) ---
    virtual bool isMainWindowVisible() { return false; }
    virtual bool isMainWindowForeground() { return false; }
    virtual bool isChatWindowVisible(const Contact&) { return false; }
    virtual bool isChatWindowForeground(const Contact&) { return false; }
    // Number of selected rows in the contact list.
    virtual int selectedContactCount() { return 0; }
    // Shows the window minimised without activating it.
    virtual void showMainWindowInactive() {}
    virtual void showChatWindowInactive(const Contact&) {}
    // Flashes the taskbar button.
    virtual void flashMainWindow() {}
    virtual void flashChatWindow(const Contact&) {}
    // Restores (or shows) the chat window, brings it to the front and focuses
    // its input.
    virtual void showChatWindowAndFocus(const Contact&) {}
    // Selects and focuses only this contact's row, shows the main window
    // (restored), brings it to the front and focuses the main input.
    virtual void focusContactInMainWindow(const Contact&) {}
    // The queue viewer: title and the queue's documents as rich text.
    virtual void showQueueViewer(const QString& /*title*/, const QList<QByteArray>& /*documents*/)
    {}
    // Exit: refresh the stored rectangles from the visible windows before
    // WindowPos.cfg is written (main window, dividers, transfers window, each
    // contact's chat window and divider).
    virtual void refreshWindowPositions(WindowPositions& /*windows*/,
                                        const QList<Contact*>& /*contacts*/)
    {}
    // Exit: remove the tray icon and hide the main, transfers and chat windows.
    virtual void hideWindows() {}
    // The rows of the browsing-contacts window changed.
    virtual void browsingRowsChanged() {}
};

// Where the cursor is, for idle detection.
class IdleSource
{
public:
    virtual ~IdleSource() = default;
    virtual QPoint cursorPosition() = 0;
};

// What the transfer rows learn about contacts.
class ContactHooks
{
public:
    virtual ~ContactHooks() = default;
    // A contact was identified or added: rows with its uid bind to it.
    virtual void contactIdentified(Contact& contact) = 0;
    // A contact leaves the list: rows bound to it are unbound.
    virtual void contactRemoved(const Contact& contact) = 0;
    // The contact's address or display name changed (its record already
    // holds the new one): rows show "name (address)" anew.
    virtual void contactNameOrAddressChanged(const Contact& contact) = 0;
    // The contact's screen name changed from oldName (its record already
    // holds the new one): rows show the new name, and the autosave folder
    // follows when autosave subfolders are on.
    virtual void contactRenamed(const Contact& contact, const QString& oldName) = 0;
};

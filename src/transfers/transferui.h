#pragma once

#include "profile/profileui.h"
#include "transfers/acceptresume.h"
#include "transfers/transfer.h"
#include "transfers/transferhost.h"

#include <QString>

// How the transfer manager reaches the user. The desktop shows the
// transfers window, message boxes and prompts; the headless node prints
// lines and reads answers; tests record.
//
// Everything is called on the manager's (main) thread and must not wait for
// the user: prompts are answered later through the manager's answer
// functions (answerAccept, answerDeny, answerSavePath, answerResume).
class TransferUi
{
public:
    using Icon = ProfileUi::Icon;

    virtual ~TransferUi() = default;

    // A top-most message box ("Duplicate Send", "File not found", the
    // transfer list file's load and write errors).
    virtual void messageBox(Icon icon, const QString& caption, const QString& text) = 0;

    // --- prompts of a receiving session ---
    // The accept prompt: "&Accept" or "&Deny".
    virtual void askAccept(FileSessionId session, const QString& title, const QString& text,
                           const Transfer& offer) = 0;
    // The size of the offer became known while the accept prompt is open.
    virtual void acceptTextChanged(FileSessionId /*session*/, const QString& /*text*/) {}
    // The save picker: a file or folder path; the proposed name is the name
    // part of the sender's path.
    virtual void askSavePath(FileSessionId session, const QString& proposedName, bool folder) = 0;
    // The resume prompt ("Resume File?", "File Already Exist", ...).
    virtual void askResume(FileSessionId session, const ResumePromptContent& content) = 0;
    // Every prompt of the session goes away.
    virtual void closePrompts(FileSessionId /*session*/) {}

    // --- window and shell requests (optional) ---
    // Shows the transfers window; without activate it is shown without
    // taking the focus (a new row appeared).
    virtual void showTransfers(bool /*activate*/) {}
    // Opens an existing file or folder with its default program.
    virtual void openPath(const QString& /*path*/) {}
    // Shows an existing file or folder selected in the file manager.
    virtual void showInFolder(const QString& /*path*/) {}
    // A modeless properties box with this snapshot.
    virtual void showProperties(const QString& /*text*/) {}
};

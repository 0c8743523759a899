#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>

class QWidget;

// Files that ship with the program ("help.htm", "online.wav", "msg.wav"):
// next to the executable first, then in the installed data folder. Empty
// when neither holds it.
QString ShippedFile(const QString& name);

// Every message box of the shell goes through here: top-most, with the
// given icon, caption and text. Tests replace the hook to record instead
// of blocking on a dialog.
using MessageBoxHook =
    std::function<void(QWidget* parent, QMessageBox::Icon, const QString&, const QString&)>;
void ShowMessageBox(QWidget* parent, QMessageBox::Icon icon, const QString& caption,
                    const QString& text);
void SetMessageBoxHook(MessageBoxHook hook);

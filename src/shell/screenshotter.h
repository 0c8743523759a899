#pragma once

class MessengerController;
class ShellUi;

// Pictures of the running program for the documentation: with
// ZEPHLINK_SCREENSHOTS=<folder> set, the program saves its main window, a
// chat window, the tray menu and a popup there as PNG files once its
// contacts are connected, then exits. Nothing happens without the variable.
namespace Screenshotter {
void startIfAsked(ShellUi& ui, MessengerController& controller);
}

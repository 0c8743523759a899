#pragma once

#include <QString>
#include <QStringList>

class CUPNPSocket;
class MessengerController;
class UpdateLogic;

// The start-up and after-exit steps the desktop program and the node share.

// The start-with-the-system form: any argument (after the program) equal to "-m".
bool HasMinimizedSwitch(const QStringList& arguments);

// The automatic work besides connecting: the quiet update check (the
// controller calls it only when automatic checks are on, at start-up and
// daily) and the router start-up step (the "&Auto Configure Router" job on
// the own data port). update and router must outlive the controller's run.
void WireAutomaticWork(MessengerController& controller, UpdateLogic& update, CUPNPSocket& router);

// The file that records the installed version: "installed-version" in the
// data root.
QString InstalledVersionPath(const QString& dataRoot);

// What the swap after exit did.
struct SwapResult
{
    bool swapped = false; // the program path now holds the downloaded file
    bool started = false; // the program path was started
};

// The swap after the main window closed and the exit work is done, when an
// update is pending (pendingUpdatePath() and pendingUpdateVersion() of the
// update logic): delete "<program>.old", rename the program to
// "<program>.old", rename the download to the program's name and make it
// executable, record the version in the data root (only when the data root
// exists), then start the program path with arguments. A failed step does
// not stop the later ones: if the old program cannot move aside, the one
// started is the old one. Nothing happens when downloadedPath is empty.
SwapResult PerformPendingSwap(const QString& programPath, const QString& downloadedPath,
                              const QString& version, const QString& dataRoot,
                              const QStringList& arguments, bool startProgram = true);

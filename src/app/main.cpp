#include "app/singleinstance.h"
#include "app/startup.h"
#include "messenger/messengercontroller.h"
#include "nethelpers/updatelogic.h"
#include "profile/profilefolder.h"
#include "shell/icons.h"
#include "shell/messengerdlg.h"
#include "shell/screenshotter.h"
#include "shell/shellui.h"
#include "shell/trayicon.h"
#include "shell/updatedlg.h"
#include "shell/upnpdlg.h"
#include "transfers/transfermanager.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QHostAddress>
#include <QLoggingCategory>
#include <QSessionManager>

#include <cstdio>
#include <memory>

Q_LOGGING_CATEGORY(lcApp, "zephlink.app")

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zephlink P2P"));
    QApplication::setApplicationVersion(QStringLiteral(ZEPHLINK_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("zephlink"));
    QApplication::setWindowIcon(Icons::programIcon());
    // The program lives on in the tray when its last window is hidden.
    QApplication::setQuitOnLastWindowClosed(false);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Zephlink P2P messenger and file transfer"));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption home(QStringLiteral("home"),
                                  QStringLiteral("Data root (like ZEPHLINK_HOME)."),
                                  QStringLiteral("DIR"));
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("Own data port (0 picks a free one)."),
                                  QStringLiteral("N"));
    const QCommandLineOption listen(QStringLiteral("listen"),
                                    QStringLiteral("Address the listener binds."),
                                    QStringLiteral("ADDRESS"));
    const QCommandLineOption minimized(QStringLiteral("m"),
                                       QStringLiteral("Start hidden in the tray."));
    const QCommandLineOption verbose(QStringLiteral("verbose"),
                                     QStringLiteral("Debug messages on standard error."));
    parser.addOptions({home, port, listen, minimized, verbose});
    parser.process(app);
    if (!parser.isSet(verbose))
        QLoggingCategory::setFilterRules(QStringLiteral("zephlink.*.debug=false"));

    // One program per profile: a second start asks the running one to
    // show itself and ends without a window.
    const QString profileFolder = ProfileFolder(parser.value(home));
    auto instance = std::make_unique<SingleInstance>(profileFolder);
    if (!instance->tryBecomePrimary()) {
        qCDebug(lcApp) << "another program runs on" << profileFolder << "and was asked to restore";
        return 0;
    }

    ShellUi ui;
    MessengerController controller(&ui, &ui);
    controller.setProfileFolder(profileFolder);
    controller.setMinimizedStart(parser.isSet(minimized));
    controller.setIdleSource(&ui);
    if (parser.isSet(listen)) {
        QHostAddress address;
        if (!address.setAddress(parser.value(listen))) {
            std::fprintf(stderr, "zephlink: bad listen address\n");
            return 2;
        }
        controller.setListenAddress(address);
    }
    if (parser.isSet(port)) {
        bool ok = false;
        const int p = parser.value(port).toInt(&ok);
        if (!ok || p < 0 || p > 65535) {
            std::fprintf(stderr, "zephlink: bad port\n");
            return 2;
        }
        controller.setPortOverride(p);
    }

    TransferManager transfers(controller, &ui);
    transfers.attach();
    ui.attach(controller, &transfers);
    CMessengerDlg* window = ui.mainWindow();
    // A "-m" start stays in the tray; without a tray it starts minimised,
    // so that the user can still reach it.
    const bool toTray = parser.isSet(minimized) && CTrayIcon::available();
    window->setMayShow(!toTray);
    window->trayIcon()->Create(window, Icons::programIcon(), QStringLiteral("Zephlink P2P"));

    QObject::connect(&controller, &MessengerController::exited, &app, [] { QApplication::quit(); });
    // A later start on this profile (command 140): the window comes back
    // from the tray unless the program is exiting.
    QObject::connect(instance.get(), &SingleInstance::restoreRequested, window,
                     [window, &controller] {
                         if (controller.isExiting())
                             return;
                         window->restoreFromTray();
                         qCDebug(lcApp) << "restored: visible" << window->isVisible() << "minimized"
                                        << window->isMinimized();
                     });
    QObject::connect(&controller, &MessengerController::listening, &app,
                     [](quint16 port) { qCDebug(lcApp) << "listening on" << port; });
    // Connecting, the quiet update check and the router mapping: at once,
    // or 30 seconds after a "-m" start.
    WireAutomaticWork(controller, window->updateDialog()->logic(),
                      window->routerDialog()->socket());
    // The desktop session ends: the files are written at once.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &controller,
                     [&controller](QSessionManager&) { controller.SessionEnding(); });

    controller.start();
    window->restorePositions(controller.windowPositions());
    ui.restoreTransfersWindow(controller.windowPositions());
    window->applySettings();
    window->showMainHistory();
    if (parser.isSet(minimized) && !toTray)
        window->showMinimized();
    else
        window->show();

    Screenshotter::startIfAsked(ui, controller);
    const int result = app.exec();
    ui.deleteWindows();

    // A finished update takes the program's place now that the exit work is
    // done; the new program starts on the same profile, so this one lets go
    // of it first.
    instance.reset();
    if (!pendingUpdatePath().isEmpty())
        PerformPendingSwap(QCoreApplication::applicationFilePath(), pendingUpdatePath(),
                           pendingUpdateVersion(), DataRoot(parser.value(home)),
                           QCoreApplication::arguments().mid(1));
    return result;
}

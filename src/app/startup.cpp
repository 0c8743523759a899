#include "app/startup.h"

#include "messenger/messengercontroller.h"
#include "nethelpers/updatelogic.h"
#include "nethelpers/upnpsocket.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>

#include <memory>

bool HasMinimizedSwitch(const QStringList& arguments)
{
    return arguments.mid(1).contains(QStringLiteral("-m"));
}

void WireAutomaticWork(MessengerController& controller, UpdateLogic& update, CUPNPSocket& router)
{
    controller.setUpdateCheckHook([&update] { update.CheckForUpdates(0); });
    controller.setRouterStartupHook([&controller, &router] {
        const int port = controller.myIdentity().port;
        if (port != 0) {
            router.MapPort(port);
            return;
        }
        // A port picked at start is known once the listener listens.
        auto once = std::make_shared<QMetaObject::Connection>();
        *once = QObject::connect(&controller, &MessengerController::listening, &router,
                                 [once, &router](quint16 listening) {
                                     QObject::disconnect(*once);
                                     router.MapPort(listening);
                                 });
    });
}

QString InstalledVersionPath(const QString& dataRoot)
{
    return QDir(dataRoot).filePath(QStringLiteral("installed-version"));
}

SwapResult PerformPendingSwap(const QString& programPath, const QString& downloadedPath,
                              const QString& version, const QString& dataRoot,
                              const QStringList& arguments, bool startProgram)
{
    SwapResult result;
    if (downloadedPath.isEmpty())
        return result;
    const QString old = programPath + QStringLiteral(".old");
    QFile::remove(old);
    QFile::rename(programPath, old);
    if (QFile::rename(downloadedPath, programPath)) {
        QFile::setPermissions(programPath, QFile::permissions(programPath) | QFile::ExeOwner |
                                               QFile::ExeGroup | QFile::ExeOther |
                                               QFile::ReadOwner);
        result.swapped = true;
    }
    if (!dataRoot.isEmpty() && QFileInfo(dataRoot).isDir()) {
        QSaveFile file(InstalledVersionPath(dataRoot));
        if (file.open(QIODevice::WriteOnly)) {
            file.write(version.toUtf8() + '\n');
            file.commit();
        }
    }
    if (startProgram)
        result.started = QProcess::startDetached(programPath, arguments);
    return result;
}

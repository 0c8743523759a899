#include "app/singleinstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

namespace {
constexpr char RestoreRequest[] = "restore\n";
}

SingleInstance::SingleInstance(const QString& profileFolder, QObject* parent)
    : QObject(parent), m_name(serverName(profileFolder))
{}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::serverName(const QString& profileFolder)
{
    QString path = QDir::cleanPath(QDir(profileFolder).absolutePath());
    const QString canonical = QDir(path).canonicalPath();
    if (!canonical.isEmpty())
        path = canonical;
    const QByteArray hash = QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Sha256);
    const QString name = QStringLiteral("zephlink-") + QString::fromLatin1(hash.toHex().left(32));
    // In the user's own runtime folder nobody else can take the name first;
    // without one the socket goes to the shared temporary folder.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime) && QFileInfo(runtime).isDir() &&
        runtime.size() < 60)
        return QDir(runtime).filePath(name);
    return name;
}

bool SingleInstance::handToRunning()
{
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(HandOffMs))
        return false;
    socket.write(RestoreRequest);
    socket.waitForBytesWritten(HandOffMs);
    socket.disconnectFromServer();
    return true;
}

bool SingleInstance::tryBecomePrimary()
{
    if (m_server)
        return true;
    if (handToRunning())
        return false;
    auto* server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(m_name)) {
        // Either a program started at the same moment, or a crashed one left
        // its socket file behind.
        if (handToRunning()) {
            delete server;
            return false;
        }
        QLocalServer::removeServer(m_name);
        if (!server->listen(m_name)) {
            delete server;
            // Nothing can listen here: run unguarded rather than not at all.
            return !handToRunning();
        }
    }
    m_server = server;
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::acceptConnections);
    return true;
}

void SingleInstance::acceptConnections()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        socket->setParent(this);
        socket->setReadBufferSize(MaxRequest);
        auto* deadline = new QTimer(socket);
        deadline->setSingleShot(true);
        connect(deadline, &QTimer::timeout, socket, &QLocalSocket::abort);
        deadline->start(HandOffMs);
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() >= MaxRequest)
                    socket->abort();
                return;
            }
            const QByteArray line = socket->readLine(MaxRequest).trimmed();
            socket->abort();
            if (line == "restore")
                emit restoreRequested();
        });
    }
}

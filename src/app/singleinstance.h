#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

// One running program per profile. The first start listens on a local
// socket named after the profile folder; a later start with the same
// profile hands "restore" to the first one and is told to end.
//
//     SingleInstance instance(ProfileFolder(dataRoot));
//     if (!instance.tryBecomePrimary())
//         return 0;                      // the running one restores itself
//     QObject::connect(&instance, &SingleInstance::restoreRequested, ...);
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    // How long a start waits for the running program to take its request,
    // and how long the running program waits for a request to arrive.
    static constexpr int HandOffMs = 3000;
    // A request is one short line; a caller sending more is cut off.
    static constexpr qint64 MaxRequest = 64;

    explicit SingleInstance(const QString& profileFolder, QObject* parent = nullptr);
    ~SingleInstance() override;

    // True: this is the only program on the profile, and it now answers later
    // starts. False: another one runs; it was sent "restore" (the caller
    // ends at once).
    bool tryBecomePrimary();
    bool isPrimary() const { return m_server != nullptr; }

    // The local socket's name for a profile folder (its path's hash, so any
    // path length fits), in $XDG_RUNTIME_DIR when there is one.
    static QString serverName(const QString& profileFolder);

signals:
    // A later start on the same profile asked the running program to show itself.
    void restoreRequested();

private:
    bool handToRunning();
    void acceptConnections();

    QString m_name;
    QLocalServer* m_server = nullptr;
};

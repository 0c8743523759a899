#pragma once

#include "scriptedpeer.h"
#include "testsupport.h"

#include "records/contact.h"
#include "transfers/acceptresume.h"
#include "transfers/filesessions.h"
#include "transfers/headcrc.h"
#include "transfers/transferformat.h"
#include "transfers/transferhost.h"
#include "transport/listenthread.h"
#include "transport/packetcipher.h"
#include "transport/sessionthread.h"
#include "transport/threadregistry.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <sys/socket.h>

#include <algorithm>
#include <functional>
#include <limits>
#include <memory>

namespace filetest {

inline Identity makeIdentity(const char* uid, const char* name, const char* key)
{
    Identity id;
    id.port = 8410;
    id.uid.set(QByteArray(uid));
    id.name.set(QByteArray(name));
    id.key.set(QByteArray(key));
    return id;
}

inline QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char(generator.generate() & 0xFF);
    return bytes;
}

inline bool makeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    return testsupport::writeAll(path, bytes);
}

// Every file below root, relative path -> contents.
inline QMap<QString, QByteArray> treeOf(const QString& root)
{
    QMap<QString, QByteArray> tree;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        tree.insert(QDir(root).relativeFilePath(path), testsupport::readAll(path));
    }
    return tree;
}

// Stands in for the transfers window and the controller: answers as set up,
// records every report and prompt, on the test's thread.
class RecordingHost : public TransferHost
{
public:
    struct Progress
    {
        Transfer t;
        QString progressText, speedText;
    };
    struct End
    {
        int result;
        Transfer t;
    };
    struct Prompt
    {
        QString kind; // "accept", "path", "resume"
        FileSessionId session = 0;
        QString title, text, proposedName;
        ResumePromptContent content;
    };

    Identity own;
    QString autosave;
    QList<Transfer> ownReceives; // rows the trust check looks at
    std::function<void(Transfer&)> onIdentified;
    std::function<void(const Prompt&)> onPrompt;

    QList<Transfer> identified, selecting, accepted;
    QList<Progress> progressReports;
    QList<End> ended;
    QList<Prompt> prompts;
    QList<FileSessionId> promptsClosed;

    Identity ownIdentity() override { return own; }
    QString autosaveFolder(const QByteArray&) override { return autosave; }
    TransferContactInfo contactInfo(const QByteArray& uid) override
    {
        return {true, QStringLiteral("Peer ") + QString::fromUtf8(uid),
                QStringLiteral("127.0.0.1")};
    }
    bool savedPathTrusted(const Transfer& offer) override
    {
        return std::any_of(ownReceives.cbegin(), ownReceives.cend(),
                           [&](const Transfer& row) { return MatchesOwnReceive(offer, row); });
    }
    bool sendingSessionIdentified(Transfer& s) override
    {
        if (onIdentified)
            onIdentified(s);
        identified.append(CopyTransfer(s));
        return true;
    }
    void selectingSavePath(const Transfer& s) override { selecting.append(s); }
    void progress(const Transfer& s, const QString& p, const QString& speed) override
    {
        progressReports.append({s, p, speed});
    }
    void receiveAccepted(const Transfer& s) override { accepted.append(s); }
    void sessionEnded(int result, const Transfer& s) override { ended.append({result, s}); }
    void askAccept(FileSessionId session, const QString& title, const QString& text,
                   const Transfer&) override
    {
        prompt({QStringLiteral("accept"), session, title, text, {}, {}});
    }
    void acceptTextChanged(FileSessionId session, const QString& text) override
    {
        prompt({QStringLiteral("text"), session, {}, text, {}, {}});
    }
    void askSavePath(FileSessionId session, const QString& name, bool) override
    {
        prompt({QStringLiteral("path"), session, {}, {}, name, {}});
    }
    void askResume(FileSessionId session, const ResumePromptContent& content) override
    {
        prompt({QStringLiteral("resume"), session, content.title, content.text, {}, content});
    }
    void closePrompts(FileSessionId session) override { promptsClosed.append(session); }

    int result() const { return ended.isEmpty() ? -1 : ended.last().result; }

private:
    void prompt(const Prompt& p)
    {
        prompts.append(p);
        if (onPrompt)
            onPrompt(p);
    }
};

// One side of the protocol spoken by hand, for what a real session never
// sends or to hold a real one at a chosen point.
class RawPeer : public testsupport::ScriptedPeer
{
public:
    PacketCipher stream;

    explicit RawPeer(const QByteArray& key) : ScriptedPeer(key) {}

    using ScriptedPeer::open;
    // The opening side of a file connection.
    bool open(quint16 port) { return ScriptedPeer::open(port, 1); }

    void restartStream() { stream.Seed(cipher.CurrentSeed()); }
    void sendRaw(QByteArray data)
    {
        stream.XorStream(reinterpret_cast<uint8_t*>(data.data()), size_t(data.size()));
        socket->write(data);
    }
};

// Forwards one connection to a target port. Past `cap` bytes towards the
// target it either cuts both connections (the target still gets every byte
// before the cut) or holds the rest back.
class Relay : public QObject
{
public:
    enum class Mode { Cut, Hold };

    Relay(quint16 target, qint64 cap, Mode mode) : m_target(target), m_cap(cap), m_mode(mode)
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        // Accepted sockets take this over: a held connection fills quickly.
        const int small = 64 * 1024;
        ::setsockopt(int(m_server.socketDescriptor()), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        QObject::connect(&m_server, &QTcpServer::newConnection, this, &Relay::onConnection);
    }
    quint16 port() const { return m_server.serverPort(); }
    qint64 forwarded() const { return m_forwarded; }
    bool capped() const { return m_forwarded >= m_cap; }
    // What was held back goes on, and so does the end of the connection.
    void release()
    {
        m_cap = std::numeric_limits<qint64>::max();
        forward();
    }

private:
    void onConnection()
    {
        m_in = m_server.nextPendingConnection();
        m_in->setReadBufferSize(64 * 1024);
        m_out = new QTcpSocket(this);
        QObject::connect(m_out, &QTcpSocket::connected, this, &Relay::forward);
        QObject::connect(m_in, &QTcpSocket::readyRead, this, &Relay::forward);
        QObject::connect(m_out, &QTcpSocket::readyRead, this,
                         [this] { m_in->write(m_out->readAll()); });
        QObject::connect(m_out, &QTcpSocket::disconnected, m_in, &QTcpSocket::disconnectFromHost);
        QObject::connect(m_in, &QTcpSocket::disconnected, m_out, &QTcpSocket::disconnectFromHost);
        m_out->connectToHost(QHostAddress::LocalHost, m_target);
    }
    void forward()
    {
        if (m_out->state() != QAbstractSocket::ConnectedState || m_forwarded >= m_cap)
            return;
        const QByteArray bytes = m_in->read(std::min(m_cap - m_forwarded, m_in->bytesAvailable()));
        m_forwarded += bytes.size();
        m_out->write(bytes);
        if (m_forwarded >= m_cap && m_mode == Mode::Cut) {
            m_in->abort();
            m_out->disconnectFromHost();
        }
    }

    QTcpServer m_server;
    QTcpSocket* m_in = nullptr;
    QTcpSocket* m_out = nullptr;
    quint16 m_target;
    qint64 m_cap;
    Mode m_mode;
    qint64 m_forwarded = 0;
};

inline QByteArray u32(quint32 v)
{
    QByteArray b(4, '\0');
    qToLittleEndian(v, b.data());
    return b;
}
inline QByteArray u64(quint64 v)
{
    QByteArray b(8, '\0');
    qToLittleEndian(v, b.data());
    return b;
}

// Two sides of file sessions: A opens every session, B accepts through its
// own listener. A's files live in src, B saves into dst.
class FileSessionFixture
{
protected:
    struct Side
    {
        RecordingHost host;
        std::unique_ptr<FileSessions> sessions;
    };

    std::unique_ptr<ThreadRegistry> registry;
    std::unique_ptr<Side> a, b;
    SessionHandle listener;
    quint16 portB = 0;
    std::unique_ptr<QTemporaryDir> tmp;
    QString src, dst;

    // configure runs on both sides' directories before the listener starts.
    bool setUpPair(const char* key, const std::function<void(FileSessions&)>& configure)
    {
        registry = std::make_unique<ThreadRegistry>();
        tmp = std::make_unique<QTemporaryDir>();
        src = tmp->filePath(QStringLiteral("src"));
        dst = tmp->filePath(QStringLiteral("inbox"));
        QDir().mkpath(src);
        a = std::make_unique<Side>();
        b = std::make_unique<Side>();
        a->host.own = makeIdentity("uidA", "Alice", key);
        b->host.own = makeIdentity("uidB", "Bob", key);
        b->host.autosave = dst;
        for (Side* side : {a.get(), b.get()}) {
            side->sessions = std::make_unique<FileSessions>(side->host, *registry);
            configure(*side->sessions);
        }
        auto* l = new CListenThread(0, *registry);
        l->setListenAddress(QHostAddress::LocalHost);
        l->setSessionFactory(ConnectionHello::File, b->sessions->acceptedSessionFactory());
        listener = startSessionThread(l, ThreadKind::Listener, *registry);
        if (!QTest::qWaitFor([l] { return l->boundPort() != 0; }, 5000))
            return false;
        portB = l->boundPort();
        return true;
    }

    // Ends the listener and every session; false when threads outlive 15 s.
    bool stopSessions()
    {
        listener.end();
        a->sessions.reset();
        b->sessions.reset();
        return QTest::qWaitFor([this] { return registry->count() == 0; }, 15000);
    }

    void tearDownPair()
    {
        a.reset();
        b.reset();
        registry.reset();
        tmp.reset();
    }

    static Contact contactAt(quint16 port)
    {
        Contact c = NewContact();
        c.ip.set(QByteArrayLiteral("127.0.0.1"));
        c.port = port;
        return c;
    }

    // A folder send whose entry list is already complete.
    static Transfer folderSend(const QString& path)
    {
        Transfer t = NewTransfer();
        t.isSend = 1;
        t.isFolder = 1;
        t.senderPath = path;
        t.entries = NewEntryList();
        t.entries->paths = treeOf(path).keys();
        for (const QString& rel : t.entries->paths)
            t.totalSize += FileSize(path + u'/' + rel);
        t.statusText = FormatSize(t.totalSize);
        return t;
    }

    FileSessionId offer(const Transfer& t, quint16 port = 0)
    {
        return a->sessions->startOutgoing(FileSessions::Mode::Offer, a->host.own,
                                          contactAt(port ? port : portB), t);
    }

    static bool ended(const Side& side, int n = 1)
    {
        return QTest::qWaitFor([&] { return side.host.ended.size() >= n; }, 20000);
    }
};

} // namespace filetest

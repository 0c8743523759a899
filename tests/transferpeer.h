#pragma once

// One program for the transfer tests: a real controller and (optionally) a
// transfer manager on a profile of its own, listening on 127.0.0.1 with a
// free port. UiT answers for the user.

#include "messenger/messengercontroller.h"
#include "profile/profilestore.h"
#include "quietui.h"
#include "testsupport.h"
#include "transfers/transferlist.h"
#include "transfers/transfermanager.h"

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QHostAddress>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

namespace transfertest {

// A user who sees nothing but the message boxes and answers the first-start
// questions with its name.
using QuietUi = ::QuietUi;

// Runs the controller's exit sequence and waits for its end, at most 30 s.
// A plain loop: a spy's wait returns at once after a failed check, and the
// registry must outlive the shutdown that runs on its own thread.
inline bool ExitController(MessengerController* c)
{
    if (!c || c->isExiting())
        return true;
    bool exited = false;
    QEventLoop loop;
    QObject::connect(c, &MessengerController::exited, &loop, [&] {
        exited = true;
        loop.quit();
    });
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    c->Exit();
    if (!exited)
        loop.exec();
    return exited;
}

template <class UiT> struct PeerBase
{
    QTemporaryDir dir;
    QString root;
    QString folder;
    QByteArray uid;
    UiT ui;
    ThreadRegistry registry;
    std::unique_ptr<MessengerController> c;
    std::unique_ptr<TransferManager> m;

    PeerBase(const QString& name, const QByteArray& id, const QString& dataRoot = QString(),
             bool withManager = true)
        : root(dataRoot.isEmpty() ? dir.path() : dataRoot),
          folder(root + QStringLiteral("/Profiles/u/")), uid(id)
    {
        ui.name = name;
        c = std::make_unique<MessengerController>(&ui, &ui, registry);
        c->setProfileFolder(folder);
        c->setListenAddress(QHostAddress::LocalHost);
        c->setPortOverride(0);
        if (withManager) {
            m = std::make_unique<TransferManager>(*c, &ui);
            m->setSchedulerPeriod(0); // the tests tick by hand
            m->attach();
        }
    }
    ~PeerBase()
    {
        exit();
        m.reset();
        c.reset();
    }
    PeerBase(const PeerBase&) = delete;
    PeerBase& operator=(const PeerBase&) = delete;

    QString path(const QString& relative) const { return root + QLatin1Char('/') + relative; }
    void prepare(const Settings& settings, const QList<Contact>& contacts = {},
                 const QList<TransferListRow>& rows = {})
    {
        QDir().mkpath(folder);
        ProfileStore store(folder, nullptr);
        store.writeSettings(settings);
        Identity own = DefaultIdentity();
        own.name.setText(ui.name);
        own.uid.set(uid);
        store.writeMyInfo(own);
        store.writeContacts(contacts);
        if (!rows.isEmpty())
            SaveTransferList(folder + TransfersFileName, rows, nullptr);
    }
    bool start()
    {
        c->start();
        return QTest::qWaitFor([this] { return c->listenPort() != 0; }, 10000);
    }
    bool exit() { return ExitController(c.get()); }
    quint16 port() const { return c->listenPort(); }
    Contact& contact(const QByteArray& id) const { return *c->findContact(id); }
    const Transfer& t(int row) const { return m->row(row).transfer; }
};

inline Contact stored(const QString& name, const QByteArray& uid)
{
    Contact c = NewContact();
    c.name.setText(name);
    c.uid.set(uid);
    c.ip.set("127.0.0.1");
    return c;
}

inline QString makeFile(const QString& path, int size, int seed = 0)
{
    QDir().mkpath(QFileInfo(path).path());
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 131 + seed) ^ (i >> 7));
    testsupport::writeAll(path, bytes);
    return path;
}

// a opens the chat session to b; both see the other Online.
template <class A, class B> bool connectPair(A& a, B& b)
{
    a.c->AddContact(QStringLiteral("127.0.0.1"), b.port(), QByteArray(), QByteArray());
    return QTest::qWaitFor(
        [&] {
            const Contact* x = a.c->findContact(b.uid);
            const Contact* y = b.c->findContact(a.uid);
            // A typing notice goes out only once a session is fully open.
            return x && y && x->status == StatusOnline && y->status == StatusOnline &&
                   a.c->chatSessions().postTyping(x->sessionThread, 0) &&
                   b.c->chatSessions().postTyping(y->sessionThread, 0);
        },
        10000);
}

} // namespace transfertest

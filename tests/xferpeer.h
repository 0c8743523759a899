#pragma once

// A program for the transfers window's tests: a real controller and transfer
// manager on a profile of its own, listening on 127.0.0.1, whose receiving
// prompts are the desktop's own and whose rows show in a transfers window.

#include "messenger/messengercontroller.h"
#include "profile/profilestore.h"
#include "shell/acceptdlg.h"
#include "shell/xferdlg.h"
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
#include <QTreeWidgetItem>

#include <memory>

namespace xfertest {

class Ui : public MessengerUi, public ProfileUi, public TransferUi
{
public:
    QString name;
    QStringList boxes; // "caption|text"
    TransferPrompts prompts;
    CXferDlg* window = nullptr;
    QStringList opened;

    void eventLine(const QString&) override {}
    void mainStatusChanged(const QString&) override {}
    void chatStatusChanged(const Contact&, const QString&) override {}
    void lineAppended(const Contact*, const PaneLine&) override {}
    void typingChanged(const Contact&, bool) override {}
    void myStatusChanged(int, const QString&, const QList<StatusLabelColor>&) override {}
    void contactAdded(const Contact&) override {}
    void contactRemoving(const Contact&) override {}
    void contactChanged(const Contact&) override {}
    void contactListChanged() override {}
    void popup(const QString&, const QString&, const QByteArray&) override {}
    void playSound(const QString&) override {}
    void messageBox(ProfileUi::Icon, const QString& caption, const QString& text) override
    {
        boxes.append(caption + QLatin1Char('|') + text);
    }
    bool askYesNo(const QString&, const QString&) override { return true; }
    std::optional<QString> askText(const QString&, const QString&, const QString&) override
    {
        return std::nullopt;
    }
    void showMessage(ProfileUi::Icon icon, const QString& caption, const QString& text) override
    {
        messageBox(icon, caption, text);
    }
    bool askDynamicIp(const QString&, const QString&) override { return false; }
    std::optional<QString> askScreenName(const QString&, const QString&, const QString&) override
    {
        return name;
    }
    void askAccept(FileSessionId session, const QString& title, const QString& text,
                   const Transfer& offer) override
    {
        prompts.askAccept(session, title, text, offer);
    }
    void acceptTextChanged(FileSessionId session, const QString& text) override
    {
        prompts.acceptTextChanged(session, text);
    }
    void askSavePath(FileSessionId session, const QString& proposedName, bool folder) override
    {
        prompts.askSavePath(session, proposedName, folder);
    }
    void askResume(FileSessionId session, const ResumePromptContent& content) override
    {
        prompts.askResume(session, content);
    }
    void closePrompts(FileSessionId session) override { prompts.closePrompts(session); }
    void openPath(const QString& path) override { opened.append(path); }
    void showInFolder(const QString& path) override
    {
        opened.append(QStringLiteral("select ") + path);
    }
    void showTransfers(bool activate) override
    {
        if (window)
            window->ShowTransfers(activate);
    }
    void showProperties(const QString& text) override
    {
        if (window)
            window->showProperties(text);
    }
};

struct Peer
{
    QTemporaryDir dir;
    QString root;
    QString folder;
    QByteArray uid;
    Ui ui;
    ThreadRegistry registry;
    std::unique_ptr<MessengerController> c;
    std::unique_ptr<TransferManager> m;
    std::unique_ptr<CXferDlg> w;

    Peer(const QString& name, const QByteArray& id)
        : root(dir.path()), folder(root + QStringLiteral("/Profiles/u/")), uid(id)
    {
        ui.name = name;
        c = std::make_unique<MessengerController>(&ui, &ui, registry);
        c->setProfileFolder(folder);
        c->setListenAddress(QHostAddress::LocalHost);
        c->setPortOverride(0);
        m = std::make_unique<TransferManager>(*c, &ui);
        m->setSchedulerPeriod(0); // the tests tick by hand
        m->attach();
        ui.prompts.setManager(m.get());
        w = std::make_unique<CXferDlg>(*m);
        ui.window = w.get();
    }
    ~Peer()
    {
        exit();
        w.reset();
        m.reset();
        c.reset();
    }

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
    bool exit()
    {
        if (!c || c->isExiting())
            return true;
        bool exited = false;
        QEventLoop loop;
        QObject::connect(c.get(), &MessengerController::exited, &loop, [&] {
            exited = true;
            loop.quit();
        });
        QTimer::singleShot(30000, &loop, &QEventLoop::quit);
        c->Exit();
        if (!exited)
            loop.exec();
        return exited;
    }
    quint16 port() const { return c->listenPort(); }
    Contact& contact(const QByteArray& id) const { return *c->findContact(id); }
    const Transfer& t(int row) const { return m->row(row).transfer; }
    // The text the window shows in a cell of the manager's row.
    QString cell(int row, int column) const
    {
        QTreeWidgetItem* item = w->itemOfRow(row);
        return item ? item->text(column) : QStringLiteral("<no item>");
    }
};

inline Settings settings(const QString& inbox = QString(), bool autoAccept = true)
{
    Settings s = Settings::defaults();
    s.connectAllOnStartup = 0;
    s.dynamicIp = 0;
    s.sendQueueEnabled = 0;
    s.maxSendTransfers = 1;
    s.autoAcceptAll = autoAccept ? 1 : 0;
    s.autosaveSubfolders = 0;
    s.autosaveDir = inbox.toUtf8();
    return s;
}

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
inline bool connectPair(Peer& a, Peer& b)
{
    a.c->AddContact(QStringLiteral("127.0.0.1"), b.port(), QByteArray(), QByteArray());
    return QTest::qWaitFor(
        [&] {
            const Contact* x = a.c->findContact(b.uid);
            const Contact* y = b.c->findContact(a.uid);
            return x && y && x->status == StatusOnline && y->status == StatusOnline &&
                   a.c->chatSessions().postTyping(x->sessionThread, 0) &&
                   b.c->chatSessions().postTyping(y->sessionThread, 0);
        },
        10000);
}

} // namespace xfertest

#pragma once

// A recording user and a controller on a temporary profile, shared by the
// controller tests.

#include "messenger/messengercontroller.h"
#include "messenger/rtfwriter.h"
#include "profile/profilestore.h"
#include "transport/threadregistry.h"

#include <QDir>
#include <QHash>
#include <QHostAddress>
#include <QSignalSpy>
#include <QStringList>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

class RecordingUi : public MessengerUi, public ProfileUi, public ContactHooks
{
public:
    // What the user sees.
    QStringList events;
    QStringList popups; // "first line|second line"
    QStringList sounds;
    QStringList boxes;     // "caption|text"
    QStringList questions; // "caption|text"
    QString mainStatus;
    QHash<const Contact*, QString> chatStatus;
    struct Line
    {
        const Contact* pane;
        PaneLine line;
    };
    QList<Line> lines;
    QStringList typing; // "name 1"
    int myStatus = -1;
    QString myLabel;
    QStringList windowRequests;
    QStringList hooks;

    // How the user answers.
    bool yes = true;
    std::optional<QString> textAnswer;
    QString screenName = QStringLiteral("Default Name");
    bool mainVisible = false;
    bool chatVisible = false;
    int selected = 0;

    void eventLine(const QString& text) override { events.append(text); }
    void mainStatusChanged(const QString& text) override { mainStatus = text; }
    void chatStatusChanged(const Contact& c, const QString& text) override
    {
        chatStatus[&c] = text;
    }
    void lineAppended(const Contact* pane, const PaneLine& line) override
    {
        lines.append({pane, line});
    }
    void typingChanged(const Contact& c, bool on) override
    {
        typing.append(DisplayName(c) + (on ? QStringLiteral(" 1") : QStringLiteral(" 0")));
    }
    void myStatusChanged(int status, const QString& label, const QList<StatusLabelColor>&) override
    {
        myStatus = status;
        myLabel = label;
    }
    void contactAdded(const Contact&) override {}
    void contactRemoving(const Contact& c) override { chatStatus.remove(&c); }
    void contactChanged(const Contact&) override {}
    void contactListChanged() override {}
    void popup(const QString& first, const QString& second, const QByteArray&) override
    {
        popups.append(first + QLatin1Char('|') + second);
    }
    void playSound(const QString& fileName) override { sounds.append(fileName); }
    void messageBox(MessengerUi::Icon, const QString& caption, const QString& text) override
    {
        boxes.append(caption + QLatin1Char('|') + text);
    }
    bool askYesNo(const QString& caption, const QString& text) override
    {
        questions.append(caption + QLatin1Char('|') + text);
        return yes;
    }
    std::optional<QString> askText(const QString&, const QString&, const QString&) override
    {
        return textAnswer;
    }
    bool isMainWindowVisible() override { return mainVisible; }
    bool isChatWindowVisible(const Contact&) override { return chatVisible; }
    int selectedContactCount() override { return selected; }
    void showChatWindowAndFocus(const Contact& c) override
    {
        windowRequests.append(QStringLiteral("chat ") + DisplayName(c));
    }
    void focusContactInMainWindow(const Contact& c) override
    {
        windowRequests.append(QStringLiteral("main ") + DisplayName(c));
    }

    // ProfileUi
    void showMessage(ProfileUi::Icon, const QString& caption, const QString& text) override
    {
        boxes.append(caption + QLatin1Char('|') + text);
    }
    bool askDynamicIp(const QString&, const QString&) override { return false; }
    std::optional<QString> askScreenName(const QString&, const QString&, const QString&) override
    {
        return screenName;
    }

    // ContactHooks
    void contactIdentified(Contact& c) override
    {
        hooks.append(QStringLiteral("identified ") + c.name.text());
    }
    void contactRemoved(const Contact& c) override
    {
        hooks.append(QStringLiteral("removed ") + c.name.text());
    }
    void contactNameOrAddressChanged(const Contact& c) override
    {
        hooks.append(QStringLiteral("changed ") + DisplayName(c));
    }
    void contactRenamed(const Contact& c, const QString& oldName) override
    {
        hooks.append(QStringLiteral("renamed %1 %2").arg(oldName, c.name.text()));
    }

    // The plain text of every line of a pane (null: main pane) of this kind.
    QStringList texts(const Contact* pane, PaneLine::Kind kind) const
    {
        QStringList out;
        for (const Line& l : lines) {
            if (l.pane == pane && l.line.kind == kind)
                out += l.line.documents;
        }
        return out;
    }
};

// One controller with its own profile folder, thread registry and recording
// user, listening on 127.0.0.1 with a free port.
struct Core
{
    QTemporaryDir dir;
    RecordingUi ui;
    ThreadRegistry registry;
    std::unique_ptr<MessengerController> c;

    explicit Core(const QString& name, const QString& root = QString())
    {
        ui.screenName = name;
        folder = (root.isEmpty() ? dir.path() : root) + QStringLiteral("/Profiles/u/");
        c = std::make_unique<MessengerController>(&ui, &ui, registry);
        c->setProfileFolder(folder);
        c->setListenAddress(QHostAddress::LocalHost);
        c->setPortOverride(0);
        c->setContactHooks(&ui);
    }
    ~Core() { exit(); }

    // Settings without automatic connecting, and optionally stored contacts.
    void prepare(const QList<Contact>& contacts = {}, Settings settings = quietSettings())
    {
        QDir().mkpath(folder);
        ProfileStore store(folder, nullptr);
        store.writeSettings(settings);
        if (!contacts.isEmpty())
            store.writeContacts(contacts);
    }
    static Settings quietSettings()
    {
        Settings s = Settings::defaults();
        s.connectAllOnStartup = 0;
        s.dynamicIp = 0;
        return s;
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
        QSignalSpy spy(c.get(), &MessengerController::exited);
        c->Exit();
        // Not spy.wait(): after a failed check it returns at once, and the
        // registry must outlive the shutdown.
        return QTest::qWaitFor([&] { return spy.count() == 1; }, 30000);
    }
    quint16 port() const { return c->listenPort(); }
    Contact* contact(const QString& displayName) const
    {
        for (Contact* x : c->contacts()) {
            if (DisplayName(*x) == displayName)
                return x;
        }
        return nullptr;
    }

    QString folder;
};

inline QByteArray rtf(const QString& text)
{
    return RtfFromPlainText(text);
}

// A port nobody listens on: it was free a moment ago.
inline quint16 freedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

// A contact as the profile stores it, at 127.0.0.1.
inline Contact storedContact(const QString& name, const QByteArray& uid, quint16 port)
{
    Contact c = NewContact();
    c.name.setText(name);
    c.uid.set(uid);
    c.ip.set("127.0.0.1");
    c.port = port;
    return c;
}

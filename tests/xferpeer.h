#pragma once

// A program for the transfers window's tests: its receiving prompts are the
// desktop's own and its rows show in a transfers window.

#include "shell/acceptdlg.h"
#include "shell/xferdlg.h"
#include "transferpeer.h"

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

// A program whose rows show in a transfers window.
struct Peer : transfertest::PeerBase<Ui>
{
    std::unique_ptr<CXferDlg> w;

    Peer(const QString& name, const QByteArray& id) : PeerBase(name, id)
    {
        ui.prompts.setManager(m.get());
        w = std::make_unique<CXferDlg>(*m);
        ui.window = w.get();
    }
    ~Peer()
    {
        exit();
        ui.window = nullptr;
        w.reset();
    }

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

using transfertest::connectPair;
using transfertest::makeFile;
using transfertest::stored;

} // namespace xfertest

#pragma once

// A program for the transfers window's tests: its receiving prompts are the
// desktop's own and its rows show in a transfers window.

#include "shell/acceptdlg.h"
#include "shell/xferdlg.h"
#include "transferpeer.h"

#include <QTreeWidgetItem>

#include <memory>

namespace xfertest {

class Ui : public transfertest::QuietUi
{
public:
    TransferPrompts prompts;
    CXferDlg* window = nullptr;
    QStringList opened;

    void messageBox(ProfileUi::Icon icon, const QString& caption, const QString& text) override
    {
        QuietUi::messageBox(icon, caption, text);
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
        QTreeWidgetItem* item = w ? w->itemOfRow(row) : nullptr;
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

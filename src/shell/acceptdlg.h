#pragma once

#include "transfers/acceptresume.h"
#include "transfers/transfer.h"
#include "transfers/transferhost.h"

#include <QDialog>
#include <QHash>
#include <QObject>
#include <QPointer>

class CFileDialogEx;
class CTabbedText;
class QLabel;
class QPushButton;
class TransferManager;

// "Accept File Transfer?": who offers what and how big, with "&Accept" and
// "&Deny". Modeless and top-most; the session keeps running meanwhile.
class CAcceptDlg : public QDialog
{
    Q_OBJECT
public:
    CAcceptDlg(const QString& title, const QString& text, const Transfer& offer);

    QString text() const;
    // A size update arrived: the text is rebuilt with it.
    void setText(const QString& text);
    const QPixmap& picture() const { return m_picture; }
    QPushButton* acceptButton() const { return m_accept; }
    QPushButton* denyButton() const { return m_deny; }

    // Escape and the close box are a "&Deny".
    void reject() override;

signals:
    void answered(bool accept);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    CTabbedText* m_text;
    QPixmap m_picture;
    QPushButton* m_accept;
    QPushButton* m_deny;
    bool m_answered = false;
};

// "Resume File?" and its relatives: what is already at the chosen place and
// the five ways on. Modal for the user; closing it is "&Cancel".
class CResumeDlg : public QDialog
{
    Q_OBJECT
public:
    explicit CResumeDlg(const ResumePromptContent& content, QWidget* parent = nullptr);

    QString text() const;
    PromptIcon icon() const { return m_icon; }
    const QPixmap& picture() const { return m_picture; }
    QPushButton* button(ResumeChoice choice) const;

    // Escape and the close box are a "&Cancel".
    void reject() override;

signals:
    void chosen(ResumeChoice choice);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    CTabbedText* m_text;
    QPixmap m_picture;
    PromptIcon m_icon;
    QHash<int, QPushButton*> m_buttons;
    bool m_answered = false;
};

// The receiving side's prompts, per file session: the accept prompt, the
// save picker and the resume prompt. Every widget lives on the main thread;
// the answers reach the session through the transfer manager as queued
// calls, so the session keeps serving its connection while the user thinks.
class TransferPrompts : public QObject
{
    Q_OBJECT
public:
    explicit TransferPrompts(QObject* parent = nullptr);
    ~TransferPrompts() override;

    void setManager(TransferManager* manager) { m_manager = manager; }

    void askAccept(FileSessionId session, const QString& title, const QString& text,
                   const Transfer& offer);
    void acceptTextChanged(FileSessionId session, const QString& text);
    void askSavePath(FileSessionId session, const QString& proposedName, bool folder);
    void askResume(FileSessionId session, const ResumePromptContent& content);
    // The session decided or ended: every prompt of it goes, an open picker
    // is canceled without answering.
    void closePrompts(FileSessionId session);

    CAcceptDlg* acceptDialog(FileSessionId session) const;
    CFileDialogEx* picker(FileSessionId session) const;
    CResumeDlg* resumeDialog(FileSessionId session) const;
    // Sessions with a prompt open, in no particular order.
    QList<FileSessionId> sessions() const { return m_prompts.keys(); }

signals:
    // A prompt or picker was shown (tests and the screenshot run watch).
    void promptShown(QWidget* prompt);

private:
    struct Prompts
    {
        QPointer<CAcceptDlg> accept;
        QPointer<CFileDialogEx> picker;
        QPointer<CResumeDlg> resume;
    };
    void deny(FileSessionId session);

    TransferManager* m_manager = nullptr;
    QHash<FileSessionId, Prompts> m_prompts;
};

#pragma once

#include "nethelpers/updatelogic.h"

#include <QDialog>

class CProgressEx;
class QPlainTextEdit;
class QPushButton;

// "Zephlink Update": the message, the download's progress bar and the one
// button whose caption is the state ("&OK", "&Update", "&Cancel",
// "&Restart"). Made hidden with the main window and kept for the program's
// run; the menu's check shows it at once, the automatic check only when a
// different version is offered.
class CUpdateDlg : public QDialog, public UpdateUi
{
    Q_OBJECT
public:
    explicit CUpdateDlg(QWidget* parent = nullptr);

    UpdateLogic& logic() { return m_logic; }
    // userCheck 1: the menu's check; 0: the automatic one.
    void CheckForUpdates(int userCheck) { m_logic.CheckForUpdates(userCheck); }

    QPlainTextEdit* messageText() const { return m_message; }
    CProgressEx* progressBar() const { return m_progress; }
    QPushButton* actionButton() const { return m_button; }

    // --- UpdateUi ---
    void updateMessageChanged(const QString& message) override;
    void updateButtonChanged(const QString& caption, bool enabled) override;
    void updateProgressChanged(int percent) override;
    void showUpdateWindow() override;
    void hideUpdateWindow() override;
    void exitRequested() override;

signals:
    // "&Restart": the program exits so that the new version can start.
    void restartRequested();

private:
    UpdateLogic m_logic;
    QPlainTextEdit* m_message;
    CProgressEx* m_progress;
    QPushButton* m_button;
};

#pragma once

#include "records/identity.h"
#include "profile/settings.h"

#include <QDialog>

class CTabDlgCtrl;
class CUPNPDlg;
class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

// "Program Options": the settings and the own identity on four pages
// ("Connections", "Notifications", "Transfers", "Advanced"). The pages are
// filled from the records when the dialog opens and written back only on
// OK, after the autosave folder and the key passed their checks; the
// start-with-the-system entry is read on opening and written on OK.
class COptionsDlg : public QDialog
{
    Q_OBJECT
public:
    static constexpr int MaxText = 259;
    static constexpr int MinKeyLength = 9;

    // router (may be null) hears of a data port change.
    COptionsDlg(Settings& settings, Identity& own, CUPNPDlg* router, QWidget* parent = nullptr);

    // The program the start-with-the-system entry starts; default the
    // running program.
    void setProgramPath(const QString& path) { m_programPath = path; }
    CTabDlgCtrl* tabs() const { return m_tabs; }

    void accept() override;

signals:
    // "&Select Shares" closed with OK: the all-contacts list changed (kept
    // even when the options are cancelled).
    void sharedPathsEdited(const QList<QByteArray>& paths);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void buildPages();
    void fill();
    void selectShares();

    Settings& m_settings;
    Identity& m_own;
    CUPNPDlg* m_router;
    QString m_programPath;
    bool m_filled = false;
    CTabDlgCtrl* m_tabs;

    // Connections
    QCheckBox* m_startWithSystem;
    QCheckBox* m_connectAll;
    QRadioButton* m_autoAcceptContacts;
    QRadioButton* m_mustMatchPassword;
    QLineEdit* m_password;
    QLineEdit* m_screenName;
    // Notifications
    QCheckBox* m_soundOnline;
    QCheckBox* m_soundMessage;
    QCheckBox* m_flash;
    QCheckBox* m_idle;
    QCheckBox* m_animateOnline;
    QCheckBox* m_animateMessage;
    QCheckBox* m_animateBrowse;
    QCheckBox* m_autoUpdate;
    // Transfers
    QCheckBox* m_sharing;
    QPushButton* m_selectShares;
    QCheckBox* m_subfolders;
    QRadioButton* m_acceptAll;
    QRadioButton* m_acceptSpecific;
    QCheckBox* m_queue;
    QLineEdit* m_maxSend;
    QLineEdit* m_autosavePath;
    // Advanced
    QRadioButton* m_dynamicIp;
    QRadioButton* m_staticIp;
    QLineEdit* m_dns;
    QLineEdit* m_key;
    QLineEdit* m_port;
    QLineEdit* m_translucency;
};

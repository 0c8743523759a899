// The main window's options, shares editor and network helper windows.
#include "messenger/messengercontroller.h"
#include "shell/clientdlg.h"
#include "shell/ipdlg.h"
#include "shell/messengerdlg.h"
#include "shell/optionsdlg.h"
#include "shell/selsharesdlg.h"
#include "shell/updatedlg.h"
#include "shell/upnpdlg.h"

#include <QTimer>

void CMessengerDlg::createHelperWindows()
{
    m_routerDlg = new CUPNPDlg([this] { return m_controller.myIdentity().port; }, this);
    m_updateDlg = new CUpdateDlg(this);
    m_clientDlg = new CClientDlg(m_controller, this);
    // "&Restart" posts the exit command; the swap runs once the window closed.
    connect(m_updateDlg, &CUpdateDlg::restartRequested, this,
            [this] { QTimer::singleShot(0, this, [this] { runCommand(ExitProgram); }); });
}

void CMessengerDlg::openOptions()
{
    Settings settings = m_controller.settings();
    Identity own = m_controller.myIdentity();
    bool sharingBefore = m_controller.isSharingWithAll();
    COptionsDlg dlg(settings, own, m_routerDlg, this);
    // The shares editor's list is kept even when the options are cancelled;
    // a change of sharing with everyone is told to the peers at once, and
    // not again when the options close.
    connect(&dlg, &COptionsDlg::sharedPathsEdited, this,
            [this, &sharingBefore](const QList<QByteArray>& paths) {
                m_controller.SetGeneralSharing(Settings::on(m_controller.settings().sharingEnabled),
                                               paths);
                sharingBefore = m_controller.isSharingWithAll();
            });
    if (dlg.exec() == QDialog::Accepted)
        m_controller.ApplyOptions(settings, own, sharingBefore);
}

void CMessengerDlg::editSharedFolders(Contact& contact)
{
    QList<QByteArray> paths = contact.shares;
    CSelSharesDlg dlg(QStringLiteral("Shared Paths (for %1)").arg(DisplayName(contact)), paths,
                      this);
    // The contact may have left the list while the editor was open.
    if (dlg.exec() != QDialog::Accepted || m_controller.rowOf(&contact) < 0)
        return;
    m_controller.SetContactShares(contact, paths);
}

void CMessengerDlg::openIpHelper()
{
    CIPDlg::open(this, m_controller.myIdentity().port);
}

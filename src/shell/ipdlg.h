#pragma once

#include "nethelpers/iphelper.h"

#include <QDialog>
#include <QUrl>

class QLineEdit;

// "IP Helper": the Internet address (looked up on the update server), the
// LAN addresses, the host name and the data port in four read-only boxes.
// Each use of the menu command opens a new one; it frees itself when closed.
class CIPDlg : public QDialog, public IpHelperUi
{
    Q_OBJECT
public:
    // Opens a new dialog for the data port and starts its lookup (on
    // pageUrl when given, else the update server's page).
    static CIPDlg* open(QWidget* parent, int dataPort, const QUrl& pageUrl = QUrl());

    explicit CIPDlg(QWidget* parent = nullptr);

    // The four boxes in order: Internet IP, LAN IP, Local DNS, Port.
    QLineEdit* box(int index) const;

    // --- IpHelperUi ---
    void ipFactsShown(const IpFacts& facts) override;
    void internetIpShown(const QString& text) override;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    IpHelper m_helper;
    QLineEdit* m_boxes[4];
};

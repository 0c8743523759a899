#pragma once

#include "nethelpers/upnpsocket.h"

#include <QDialog>

#include <functional>

class QPlainTextEdit;
class QPushButton;

// "UPNP Router Configuration": the router jobs' log and the three buttons
// that start them. Made hidden with the main window and kept for the
// program's run; Help > Router Configure shows it.
class CUPNPDlg : public QDialog, public UpnpLog
{
    Q_OBJECT
public:
    // dataPort gives the own data port when a button is pressed.
    explicit CUPNPDlg(std::function<int()> dataPort, QWidget* parent = nullptr);

    CUPNPSocket& socket() { return m_socket; }
    QPlainTextEdit* log() const { return m_log; }

    // "&Auto Configure Router", "&UnConfigure Router", "&Get Router Port Mappings".
    void AutoConfigure();
    void UnConfigure();
    void GetMappings();
    // The data port changed in the options: the mapping moves.
    void RemapPort(int oldPort, int newPort);

    // Shows the window and brings it to the front.
    void showAndRaise();

    // --- UpnpLog ---
    void upnpStatus(const QString& line, bool clear) override;

private:
    std::function<int()> m_dataPort;
    CUPNPSocket m_socket;
    QPlainTextEdit* m_log;
};

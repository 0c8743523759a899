#include "shell/upnpdlg.h"

#include "shell/tabchilddlg.h"

#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

CUPNPDlg::CUPNPDlg(std::function<int()> dataPort, QWidget* parent)
    : QDialog(parent), m_dataPort(std::move(dataPort)), m_log(new QPlainTextEdit(this))
{
    setWindowTitle(QStringLiteral("UPNP Router Configuration"));
    m_log->setReadOnly(true);
    m_log->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_log->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    auto* map = new QPushButton(QStringLiteral("&Auto Configure Router"), this);
    auto* unmap = new QPushButton(QStringLiteral("&UnConfigure Router"), this);
    auto* list = new QPushButton(QStringLiteral("&Get Router Port Mappings"), this);
    for (QPushButton* b : {map, unmap, list})
        b->setAutoDefault(false);
    connect(map, &QPushButton::clicked, this, &CUPNPDlg::AutoConfigure);
    connect(unmap, &QPushButton::clicked, this, &CUPNPDlg::UnConfigure);
    connect(list, &QPushButton::clicked, this, &CUPNPDlg::GetMappings);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(map);
    buttons->addWidget(unmap);
    buttons->addWidget(list);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(m_log, 1);
    resize(DialogUnits(this, 305, 180));
    m_socket.setLog(this);
}

void CUPNPDlg::AutoConfigure()
{
    m_socket.MapPort(m_dataPort());
}

void CUPNPDlg::UnConfigure()
{
    m_socket.UnmapPort(m_dataPort());
}

void CUPNPDlg::GetMappings()
{
    m_socket.ListMappings();
}

void CUPNPDlg::RemapPort(int oldPort, int newPort)
{
    m_socket.RemapPort(oldPort, newPort);
}

void CUPNPDlg::showAndRaise()
{
    show();
    raise();
    activateWindow();
}

void CUPNPDlg::upnpStatus(const QString&, bool)
{
    // The socket keeps the whole text; the box shows it, scrolled to its end.
    QString text = m_socket.logContents();
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    m_log->setPlainText(text);
    m_log->verticalScrollBar()->setValue(m_log->verticalScrollBar()->maximum());
}

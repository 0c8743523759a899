#include "shell/ipdlg.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

CIPDlg* CIPDlg::open(QWidget* parent, int dataPort, const QUrl& pageUrl)
{
    auto* dlg = new CIPDlg(parent);
    if (!pageUrl.isEmpty())
        dlg->m_helper.setPageUrl(pageUrl);
    // Without a host name the boxes stay empty and nothing is looked up.
    dlg->m_helper.open(dataPort);
    dlg->show();
    dlg->raise();
    dlg->activateWindow();
    return dlg;
}

CIPDlg::CIPDlg(QWidget* parent) : QDialog(parent), m_helper(this, this)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("IP Helper"));
    setWindowIcon(style()->standardIcon(QStyle::SP_MessageBoxInformation));
    const QString labels[] = {QStringLiteral("Internet IP:"), QStringLiteral("LAN IP:"),
                              QStringLiteral("Local DNS:"), QStringLiteral("Port:")};
    auto* grid = new QGridLayout;
    for (int i = 0; i < 4; ++i) {
        m_boxes[i] = new QLineEdit(this);
        m_boxes[i]->setReadOnly(true);
        m_boxes[i]->setMinimumWidth(240);
        auto* label = new QLabel(labels[i], this);
        label->setBuddy(m_boxes[i]);
        grid->addWidget(label, i, 0);
        grid->addWidget(m_boxes[i], i, 1);
    }
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(QStringLiteral("&OK"), QDialogButtonBox::AcceptRole);
    ok->setDefault(true);
    // The boxes are for reading and copying; the keyboard starts on OK.
    ok->setFocus();
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

QLineEdit* CIPDlg::box(int index) const
{
    return index >= 0 && index < 4 ? m_boxes[index] : nullptr;
}

void CIPDlg::ipFactsShown(const IpFacts& facts)
{
    m_boxes[0]->setText(facts.internetIp);
    m_boxes[1]->setText(facts.lanIp);
    m_boxes[2]->setText(facts.localDns);
    m_boxes[3]->setText(facts.port);
    for (QLineEdit* b : m_boxes)
        b->setCursorPosition(0);
}

void CIPDlg::internetIpShown(const QString& text)
{
    m_boxes[0]->setText(text);
    m_boxes[0]->setCursorPosition(0);
}

void CIPDlg::keyPressEvent(QKeyEvent* event)
{
    // F1 asks for no help here.
    if (event->key() == Qt::Key_F1) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

#include "shell/addnewcontactdlg.h"

#include "shell/editdlg.h"
#include "shell/shellfiles.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

CAddNewContactDlg::CAddNewContactDlg(QWidget* parent)
    : QDialog(parent), m_contact(NewContact()), m_address(new QLineEdit(this)),
      m_port(new QLineEdit(this)), m_password(new QLineEdit(this)), m_key(new QLineEdit(this))
{
    setWindowTitle(QStringLiteral("Add New Contact"));
    m_address->setPlaceholderText(QStringLiteral("Enter an IP or DNS"));
    m_port->setPlaceholderText(QStringLiteral("Enter a Port (1-65535)"));
    m_password->setPlaceholderText(QStringLiteral("Leave blank for no password"));
    m_key->setPlaceholderText(QStringLiteral("Encryption key is required"));
    m_address->setMaxLength(259);
    m_port->setMaxLength(5);
    m_password->setMaxLength(259);
    m_key->setMaxLength(259);
    m_port->setText(QString::number(m_contact.port));
    m_key->setText(m_contact.key.text());
    m_address->setMinimumWidth(240);

    auto* form = new QFormLayout;
    const auto row = [&](const char* label, QLineEdit* edit) {
        auto* l = new QLabel(QString::fromLatin1(label), this);
        l->setBuddy(edit);
        form->addRow(l, edit);
    };
    row("IP Address or DNS Name", m_address);
    row("Port (default 8410)", m_port);
    row("Password (leave blank if unsure)", m_password);
    row("Encryption Key (default QRT482LMN)", m_key);
    form->setLabelAlignment(Qt::AlignRight);
    form->setFormAlignment(Qt::AlignTop);

    QDialogButtonBox* buttons = OkCancelButtons(this);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void CAddNewContactDlg::accept()
{
    bool ok = false;
    const int port = m_port->text().trimmed().toInt(&ok);
    if (!ok || port <= 0 || port > 65535) {
        ShowMessageBox(this, QMessageBox::Warning, QStringLiteral("Port Value Invalid"),
                       QStringLiteral("The port value entered is not valid, range is 1-65535"));
        return;
    }
    m_contact.port = port;
    m_contact.ip.setText(m_address->text().trimmed());
    m_contact.password.setText(m_password->text());
    m_contact.key.setText(m_key->text());
    QDialog::accept();
}

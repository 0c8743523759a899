#pragma once

#include "records/contact.h"

#include <QDialog>

class QLineEdit;

// The add-contact dialog: address, port, password and key of a new contact.
class CAddNewContactDlg : public QDialog
{
    Q_OBJECT
public:
    explicit CAddNewContactDlg(QWidget* parent = nullptr);

    // The new contact, filled when the dialog closed with OK.
    const Contact& contact() const { return m_contact; }

    QLineEdit* addressEdit() const { return m_address; }
    QLineEdit* portEdit() const { return m_port; }
    QLineEdit* passwordEdit() const { return m_password; }
    QLineEdit* keyEdit() const { return m_key; }

    void accept() override;

private:
    Contact m_contact;
    QLineEdit* m_address;
    QLineEdit* m_port;
    QLineEdit* m_password;
    QLineEdit* m_key;
};

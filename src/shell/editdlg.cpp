#include "shell/editdlg.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

QDialogButtonBox* OkCancelButtons(QDialog* dialog)
{
    auto* buttons = new QDialogButtonBox(dialog);
    buttons->addButton(QStringLiteral("&OK"), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(QStringLiteral("&Cancel"), QDialogButtonBox::RejectRole);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

CEditDlg::CEditDlg(QWidget* parent)
    : QDialog(parent), m_prompt(new QLabel(this)), m_edit(new QLineEdit(this))
{
    m_edit->setMaxLength(MaxText);
    m_edit->setMinimumWidth(260);
    QDialogButtonBox* buttons = OkCancelButtons(this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_prompt);
    layout->addWidget(m_edit);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void CEditDlg::setCaption(const QString& caption)
{
    setWindowTitle(caption.left(MaxText));
}

void CEditDlg::setPrompt(const QString& prompt)
{
    m_prompt->setText(prompt.left(MaxText));
}

void CEditDlg::setText(const QString& text)
{
    m_text = text.left(MaxText);
    m_edit->setText(m_text);
    m_edit->selectAll();
}

void CEditDlg::accept()
{
    m_text = m_edit->text().left(MaxText);
    QDialog::accept();
}

std::optional<QString> CEditDlg::ask(QWidget* parent, const QString& caption, const QString& prompt,
                                     const QString& text)
{
    CEditDlg dlg(parent);
    dlg.setCaption(caption);
    dlg.setPrompt(prompt);
    dlg.setText(text);
    if (dlg.exec() != QDialog::Accepted)
        return std::nullopt;
    return dlg.text();
}

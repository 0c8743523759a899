#pragma once

#include <QDialog>
#include <QString>

#include <optional>

class QDialogButtonBox;
class QLabel;
class QLineEdit;

// "&OK" (the default) and "&Cancel" for a dialog, wired to its accept and reject.
QDialogButtonBox* OkCancelButtons(QDialog* dialog);

// The one-line input dialog: a caption, a prompt and one edit box.
class CEditDlg : public QDialog
{
    Q_OBJECT
public:
    static constexpr int MaxText = 259;

    explicit CEditDlg(QWidget* parent = nullptr);

    // Fill before exec(); OK copies the edit box into text().
    void setCaption(const QString& caption);
    void setPrompt(const QString& prompt);
    void setText(const QString& text);
    QString text() const { return m_text; }
    QLineEdit* edit() const { return m_edit; }

    void accept() override;

    // Runs the dialog pre-filled with text; the entry on OK, nothing on Cancel.
    static std::optional<QString> ask(QWidget* parent, const QString& caption,
                                      const QString& prompt, const QString& text);

private:
    QLabel* m_prompt;
    QLineEdit* m_edit;
    QString m_text;
};

#include "shell/filedialogex.h"

#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>

CFileDialogEx::CFileDialogEx(QWidget* parent, const QString& title, bool open,
                             const QString& proposedName)
    : QFileDialog(parent, title)
{
    // The toolkit's own dialog: its buttons and file-name box can be reached.
    setOption(QFileDialog::DontUseNativeDialog);
    setOption(QFileDialog::ReadOnly);
    setNameFilter(QStringLiteral("All Files (*)"));
    if (open) {
        setAcceptMode(QFileDialog::AcceptOpen);
        setFileMode(QFileDialog::AnyFile);
        setLabelText(QFileDialog::Accept, QStringLiteral("&Select"));
    } else {
        setAcceptMode(QFileDialog::AcceptSave);
        selectFile(proposedName);
    }
    setLabelText(QFileDialog::Reject, QStringLiteral("&Cancel"));
    // A chosen item, folders included, goes into the file-name box.
    connect(this, &QFileDialog::currentChanged, this, [this](const QString& path) {
        if (auto* edit = findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
            edit->setText(QFileInfo(path).fileName().left(259));
    });
    if (open) {
        // The dialog relabels its button "&Open" for a folder; here it selects.
        const auto keepLabel = [this] {
            if (auto* box = findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"))) {
                if (QPushButton* ok = box->button(QDialogButtonBox::Open))
                    ok->setText(QStringLiteral("&Select"));
            }
        };
        if (auto* edit = findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
            connect(edit, &QLineEdit::textChanged, this, keepLabel);
        connect(this, &QFileDialog::currentChanged, this, keepLabel);
        connect(this, &QFileDialog::directoryEntered, this, keepLabel);
        keepLabel();
    }
}

int CFileDialogEx::Run()
{
    exec();
    return m_result;
}

void CFileDialogEx::accept()
{
    // "&Select" takes the shown folder and the typed name as they are; a
    // folder is reported, not opened.
    QString name;
    if (auto* edit = findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
        name = edit->text();
    m_folder = directory().absolutePath().left(259);
    m_name = name.left(259);
    if (QFileInfo(name).isAbsolute()) {
        const QFileInfo info(name);
        m_folder = info.absolutePath();
        m_name = info.fileName();
    }
    m_result = Chosen;
    QDialog::accept();
}

void CFileDialogEx::reject()
{
    m_result = Cancelled;
    QFileDialog::reject();
}

QString CFileDialogEx::joinPath(const QString& folder, const QString& name)
{
    if (folder.isEmpty())
        return QString();
    QString f = folder;
    while (f.size() > 1 && f.endsWith(QLatin1Char('/')))
        f.chop(1);
    if (name.isEmpty())
        return f;
    return f == QLatin1String("/") ? f + name : f + QLatin1Char('/') + name;
}

QString CFileDialogEx::SelectedPath() const
{
    return joinPath(m_folder, m_name);
}

#include "shell/selsharesdlg.h"

#include "profile/profilefolder.h"
#include "shell/listctrlex.h"
#include "shell/shellfiles.h"

#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

CSelSharesDlg::FolderPicker& picker()
{
    static CSelSharesDlg::FolderPicker p;
    return p;
}

std::optional<QUrl> pickFolder(QWidget* parent, const QString& prompt)
{
    if (picker())
        return picker()(parent, prompt);
    // The dialog's title line holds the prompt's first line; the second
    // (that subfolders are shared too) stays in the stored text.
    const QUrl url = QFileDialog::getExistingDirectoryUrl(
        parent, prompt.section(QLatin1Char('\r'), 0, 0), QUrl(), QFileDialog::ShowDirsOnly);
    if (url.isEmpty())
        return std::nullopt;
    return url;
}

} // namespace

void CSelSharesDlg::setFolderPicker(FolderPicker p)
{
    picker() = std::move(p);
}

CSelSharesDlg::CSelSharesDlg(const QString& title, QList<QByteArray>& paths, QWidget* parent)
    : QDialog(parent), m_paths(paths), m_list(new CListCtrlEx(this))
{
    setWindowTitle(title);
    m_list->setColumnCount(1);
    m_list->setHeaderLabels({QStringLiteral("Shared Paths")});
    m_list->setColumnWidth(0, 450);
    m_list->setRootIsDecorated(false);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setMinimumSize(480, 220);
    for (const QByteArray& path : std::as_const(m_paths))
        addRow(QString::fromUtf8(path));

    auto* add = new QPushButton(QStringLiteral("&Add Path"), this);
    auto* remove = new QPushButton(QStringLiteral("&Delete Selected"), this);
    auto* ok = new QPushButton(QStringLiteral("&OK"), this);
    auto* cancel = new QPushButton(QStringLiteral("&Cancel"), this);
    ok->setDefault(true);
    for (QPushButton* b : {add, remove})
        b->setAutoDefault(false);
    connect(add, &QPushButton::clicked, this, &CSelSharesDlg::AddPath);
    connect(remove, &QPushButton::clicked, this, &CSelSharesDlg::DeleteSelected);
    connect(ok, &QPushButton::clicked, this, &CSelSharesDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &CSelSharesDlg::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(add);
    buttons->addWidget(remove);
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_list);
    layout->addLayout(buttons);
}

void CSelSharesDlg::addRow(const QString& path)
{
    static const QFileIconProvider icons;
    const QFileInfo info(path);
    auto* row = new QTreeWidgetItem(m_list, {path});
    row->setIcon(0, info.isDir() ? icons.icon(QFileIconProvider::Folder) : icons.icon(info));
}

QStringList CSelSharesDlg::rows() const
{
    QStringList out;
    for (int i = 0; i < m_list->topLevelItemCount(); ++i)
        out << m_list->topLevelItem(i)->text(0);
    return out;
}

void CSelSharesDlg::AddPath()
{
    const std::optional<QUrl> chosen = pickFolder(
        this, QStringLiteral("Select a Folder or Drive to Share...\r\nAll subdirectories will "
                             "also be shared."));
    if (!chosen)
        return;
    // A network place or other item without a local path.
    if (!chosen->isLocalFile() || chosen->toLocalFile().isEmpty()) {
        ShowMessageBox(this, QMessageBox::Warning, QStringLiteral("Invalid Path"),
                       QStringLiteral("The shell did not return a path for the selected item!\n"
                                      "(note: You cannot add UNC root paths)"));
        return;
    }
    QString path = chosen->toLocalFile();
    if (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    if (!CreateFolderPath(path)) {
        ShowMessageBox(
            this, QMessageBox::Critical, QStringLiteral("Invalid Path"),
            QStringLiteral("The path selected is not valid, it may exceed the %1 character path "
                           "limit.")
                .arg(PathLimit));
        return;
    }
    const QStringList existing = rows();
    const bool known = std::any_of(existing.begin(), existing.end(), [&](const QString& row) {
        return row.compare(path, Qt::CaseInsensitive) == 0;
    });
    if (known) {
        ShowMessageBox(this, QMessageBox::Warning, QStringLiteral("Path Already Added"),
                       QStringLiteral("This path has already been added to the list"));
        return;
    }
    addRow(path);
}

void CSelSharesDlg::DeleteSelected()
{
    QList<int> selected;
    for (QTreeWidgetItem* row : m_list->selectedItems())
        selected << m_list->indexOfTopLevelItem(row);
    std::sort(selected.begin(), selected.end(), std::greater<int>());
    for (int index : std::as_const(selected))
        delete m_list->takeTopLevelItem(index);
}

void CSelSharesDlg::accept()
{
    m_paths.clear();
    for (const QString& row : rows())
        m_paths.append(row.toUtf8());
    QDialog::accept();
}

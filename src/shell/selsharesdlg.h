#pragma once

#include <QByteArray>
#include <QDialog>
#include <QList>
#include <QUrl>

#include <functional>
#include <optional>

class CListCtrlEx;

// The shared-paths editor: one list of folders (shared with every contact,
// or with one contact) edited in place. OK replaces the list with the rows;
// Cancel leaves it as it was.
class CSelSharesDlg : public QDialog
{
    Q_OBJECT
public:
    // The longest path the messages speak of.
    static constexpr int PathLimit = 259;

    // The folder picker: the chosen item's address, nothing when cancelled.
    // Tests replace it; the default is the desktop's folder dialog.
    using FolderPicker = std::function<std::optional<QUrl>(QWidget* parent, const QString& prompt)>;
    static void setFolderPicker(FolderPicker picker);

    CSelSharesDlg(const QString& title, QList<QByteArray>& paths, QWidget* parent = nullptr);

    CListCtrlEx* list() const { return m_list; }
    QStringList rows() const;

    // "&Add Path", "&Delete Selected" and "&OK".
    void AddPath();
    void DeleteSelected();
    void accept() override;

private:
    void addRow(const QString& path);

    QList<QByteArray>& m_paths;
    CListCtrlEx* m_list;
};

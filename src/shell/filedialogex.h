#pragma once

#include <QFileDialog>
#include <QString>

// The file dialog that also returns a folder: in open mode its OK button
// reads "&Select", and pressing it with a folder chosen reports that folder
// instead of opening it.
class CFileDialogEx : public QFileDialog
{
    Q_OBJECT
public:
    enum Result { Chosen = 1, Cancelled = 2 };

    // Open mode (open = true) picks a file or folder to send; save mode
    // proposes a name.
    CFileDialogEx(QWidget* parent, const QString& title, bool open = true,
                  const QString& proposedName = QString());

    int Run();
    int result() const { return m_result; }
    // The folder, a separator and the name; empty when no folder was recorded.
    QString SelectedPath() const;
    // Joins a folder (trailing separators dropped) and a name.
    static QString joinPath(const QString& folder, const QString& name);

    void accept() override;
    void reject() override;

private:
    QString m_folder;
    QString m_name;
    int m_result = Cancelled;
};

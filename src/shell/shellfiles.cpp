#include "shell/shellfiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {
MessageBoxHook& hook()
{
    static MessageBoxHook h;
    return h;
}
} // namespace

QString ShippedFile(const QString& name)
{
    QStringList folders{QCoreApplication::applicationDirPath()};
    // An installed program keeps its data in <prefix>/share/zephlink.
    folders << QCoreApplication::applicationDirPath() + QStringLiteral("/../share/zephlink");
    folders << QStandardPaths::locateAll(QStandardPaths::GenericDataLocation,
                                         QStringLiteral("zephlink"),
                                         QStandardPaths::LocateDirectory);
    for (const QString& folder : std::as_const(folders)) {
        const QFileInfo info(QDir(folder).filePath(name));
        if (info.isFile())
            return info.canonicalFilePath();
    }
    return QString();
}

void ShowMessageBox(QWidget* parent, QMessageBox::Icon icon, const QString& caption,
                    const QString& text)
{
    if (hook()) {
        hook()(parent, icon, caption, text);
        return;
    }
    QMessageBox box(icon, caption, text, QMessageBox::Ok, parent);
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    box.exec();
}

void SetMessageBoxHook(MessageBoxHook h)
{
    hook() = std::move(h);
}

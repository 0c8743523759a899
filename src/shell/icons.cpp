#include "shell/icons.h"

#include <QHash>
#include <QPainter>
#include <QSvgRenderer>

// The artwork lives in the library's resources, which a static library
// registers by hand.
static void initResources()
{
    static const bool done = [] {
        Q_INIT_RESOURCE(shell);
        return true;
    }();
    Q_UNUSED(done);
}

namespace {

QString statusFile(int status)
{
    switch (status) {
    case 0:
        return QStringLiteral(":/icons/online.svg");
    case 1:
        return QStringLiteral(":/icons/away.svg");
    case 2:
        return QStringLiteral(":/icons/awaymsg.svg");
    case 4:
        return QStringLiteral(":/icons/blocked.svg");
    default:
        return QStringLiteral(":/icons/offline.svg");
    }
}

QPixmap render(const QString& file, int size)
{
    static QHash<QString, QPixmap> cache;
    const QString key = file + QLatin1Char('@') + QString::number(size);
    const auto it = cache.constFind(key);
    if (it != cache.constEnd())
        return *it;
    initResources();
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QSvgRenderer renderer(file);
    QPainter p(&image);
    renderer.render(&p);
    p.end();
    const QPixmap pixmap = QPixmap::fromImage(image);
    cache.insert(key, pixmap);
    return pixmap;
}

QIcon iconOf(const QString& file)
{
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64})
        icon.addPixmap(render(file, size));
    return icon;
}

} // namespace

namespace Icons {

QIcon statusIcon(int status)
{
    return iconOf(statusFile(status));
}

QPixmap statusPixmap(int status, int size)
{
    return render(statusFile(status), size);
}

QIcon programIcon()
{
    QIcon icon = iconOf(QStringLiteral(":/icons/zephlink.svg"));
    icon.addPixmap(render(QStringLiteral(":/icons/zephlink.svg"), 128));
    return icon;
}

QIcon ownStatusIcon(int status)
{
    if (status == 0)
        return programIcon();
    return statusIcon(status == 3 ? 3 : 1);
}

} // namespace Icons

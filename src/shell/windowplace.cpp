#include "shell/windowplace.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

void PlaceSavedWindow(QWidget& window, QRect rect)
{
    const QScreen* screen = QGuiApplication::screenAt(rect.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen && !screen->availableGeometry().intersects(rect))
        rect.moveTopLeft(screen->availableGeometry().topLeft());
    window.move(rect.topLeft());
    window.resize(rect.size());
}

#pragma once

#include <QRect>

class QWidget;

// Moves and sizes a window to where it was saved; a window saved on a screen
// that is gone comes back on the one under its centre, or the primary one.
void PlaceSavedWindow(QWidget& window, QRect rect);

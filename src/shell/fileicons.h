#pragma once

#include <QIcon>
#include <QString>

// The desktop's icon for a file of this name (its type is told by the name
// alone; the file need not exist), or its icon for any folder. Falls back
// to the style's generic file and folder icons when the icon theme has none.
QIcon FileTypeIcon(const QString& name, bool folder);

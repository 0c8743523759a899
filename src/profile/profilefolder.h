#pragma once

#include <QString>

// Where the profile lives: <data root>/Profiles/<user>/.

// The explicit root when given (the node's --home), else $ZEPHLINK_HOME when
// set, else the standard application data folder.
QString DataRoot(const QString& explicitRoot = QString());

// The last component of $HOME (the whole value when it has no '/').
QString ProfileUserName();

// The profile folder path, ending in '/'.
QString ProfileFolder(const QString& explicitRoot = QString());

// Makes every missing level of a folder path. A level that cannot be made is
// tried again at once, three more times (a folder made by someone else
// meanwhile counts). True when the folder exists at the end.
bool CreateFolderPath(const QString& path);

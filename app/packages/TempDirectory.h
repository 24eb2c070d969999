#pragma once

#include <QString>

// Makes a new owner-only directory "Tessary-<pid>-XXXXXXXX" under the system temporary
// directory and returns its path, or an empty string when it cannot be made.
QString createTempDir();

// Removes a directory tree. Refuses an empty path and "/". Symbolic links are
// removed themselves, never followed. True when every file could be removed.
bool recursiveRemove(const QString& path);

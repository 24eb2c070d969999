#pragma once

#include <QString>

// Where the stand-ins for the macOS package tools live next to the program, so
// that they are found by name as on macOS.
class CToolDirectory
{
public:
    // The first existing candidate for the program directory programDir: the
    // build tree (<build>/app/Tessary, tools in <build>/libexec/tessary) and an
    // installation (bin/Tessary, tools in libexec/tessary). Empty when neither exists.
    static QString find(const QString& programDir);
    // Puts directory first on PATH (once); nothing for an empty directory.
    static void prependToPath(const QString& directory);
};

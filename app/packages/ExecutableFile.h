#pragma once

#include <QByteArray>
#include <QString>

// Writes the shell files an installer runs: the properties file with the
// administrator's settings and the script that hands it on. Both must be
// executable, and a package may have planted a link where they go.
class CExecutableFile
{
public:
    // Replaces the file at path with data, readable and executable by everyone and
    // writable by its owner. A symbolic link at path is removed, never followed. Fails,
    // with the reason in *error, when the file cannot be opened, written in full or
    // given its permissions.
    static bool write(const QString& path, const QByteArray& data, QString* error);
};

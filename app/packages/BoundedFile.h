#pragma once

#include <QByteArray>
#include <QString>

// Reads the files that packages carry (page definitions, property lists, customization
// files). Each is untrusted: only a regular file is opened, never a FIFO or a device that
// would block or never end, and never more than a given size.
class CBoundedFile
{
public:
    // The page definition, Info.plist, Distribution, a customization file: a few MB is
    // generous for any of them.
    static const qint64 kMaxDocumentBytes = 8 * 1024 * 1024;

    // Whether path names a regular file itself (a symbolic link is not one, unless
    // followLinks is set and it leads to one).
    static bool isRegularFile(const QString& path, bool followLinks = false);
    // Reads the whole file into data. Fails, with a message in *error naming the file and
    // what is wrong (the limit among it), when it is not a regular file, is a symbolic link
    // and followLinks is false, or holds more than maxBytes.
    static bool read(const QString& path, qint64 maxBytes, QByteArray& data, QString* error,
                     bool followLinks = false);
};

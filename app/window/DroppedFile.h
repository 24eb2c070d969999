#pragma once

#include <QString>

class QMimeData;

// What a drag onto the window carries that the window opens: the local path of its
// first address, when it names a file kind the program reads.
class CDroppedFile
{
public:
    // The absolute path, or empty.
    static QString pathOf(const QMimeData* data);
};

#pragma once

#include <QString>

// Times a published copy records. With SOURCE_DATE_EPOCH set (reproducible builds),
// no file or folder of the copy is recorded later than it, so the same inputs give
// the same output, byte for byte and time for time.
class CRecordedTimes
{
public:
    // Brings every time of the tree at path (path itself included, links not
    // followed) later than the source date back to it; nothing without one.
    static void clampTree(const QString& path);
};

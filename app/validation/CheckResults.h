#pragma once

#include <QStringList>

// The outcome of the last run of web checks, one line per address, kept for the
// review report. A run replaces what the one before it recorded.
class CCheckResults
{
public:
    // A new run of the checks titled title starts.
    static void begin(const QString& title);
    // One check's outcome; reason is empty when it passed. The address is shown
    // without any password it carries.
    static void record(const QString& name, const QString& address, bool passed,
                       const QString& reason);
    static QStringList lines();
    // A new document: the old results say nothing about it.
    static void clear();
};

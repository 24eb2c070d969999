#pragma once

#include <QString>

// Work files of this program carry the id of the process that made them in their
// names ("Tessary-<pid>-…", "Tessary-values-<pid>-…", ".Tessary-<pid>-…"), so that
// what a killed run left behind is known as such: a later run of either program
// removes those whose process is gone. Only the current user's own entries are
// touched, links are removed as links, and nothing of a running process is.
class CLeftovers
{
public:
    // The name prefix of work files and folders made in folder by this process:
    // "<folder>/<stem>-<pid>-".
    static QString prefix(const QString& folder, const QString& stem);

    // Removes what runs that are gone left in folder. Returns how many entries went.
    static int removeAbandoned(const QString& folder);
};

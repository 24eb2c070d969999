#pragma once

#include <QByteArray>
#include <QString>

// Puts outputs in place the one safe way: built complete beside the output, then moved
// over it. Whatever stands at the output path (a file, a folder, a link to either, a
// dangling link) is never followed or written through: it is replaced as it is, only
// once the new output is complete, and comes back should the new one fail to move in.
// Without leave to replace, the output name is claimed atomically, so of two runs
// writing the same new output exactly one succeeds.
class COutputFile
{
public:
    enum Result
    {
        Installed,
        AlreadyExists, // something is at the output path and replacing was not allowed
        PreviousKept,  // the previous output could not be moved away; it is as it was
        Failed         // the new output could not be moved in; the previous one is back
    };

    // Whether anything, a link included, is at path (links are not followed).
    static bool present(const QString& path);
    static bool isLink(const QString& path);

    // Makes an owner-only folder beside output to build it in, creating the output's
    // folder first when it is missing. Its name tells a later run whose it is (see
    // CLeftovers). Empty when it cannot be made, with the reason.
    static QString stagingBeside(const QString& output, QString* reason = nullptr);

    // Moves staged (a complete file or folder on the output's file system) to output.
    // A previous output is moved to previous (a path beside staged, removed with it
    // by the caller) when it cannot be exchanged atomically.
    static Result install(const QString& staged, const QString& output, bool overwrite,
                          const QString& previous);

    struct COptions
    {
        bool m_bOverwrite = true;
        // Readable and writable by the owner only, whatever the umask (secrets).
        bool m_bPrivate = false;
    };
    // Writes bytes as output through a file beside it, flushed to the disk before it
    // is moved in. False when nothing was stored, with the reason (and result).
    static bool write(const QString& output, const QByteArray& bytes, const COptions& options,
                      QString* reason = nullptr, Result* result = nullptr);
};

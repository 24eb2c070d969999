#include "OutputFile.h"

#include "Leftovers.h"
#include "TempDirectory.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
QByteArray encoded(const QString& path)
{
    return QFile::encodeName(path);
}

// rename() that fails with EEXIST instead of replacing what is at to. Falls back to
// link() for files on file systems without the flag; a folder there can only be
// checked before it is moved.
bool renameNoReplace(const QByteArray& from, const QByteArray& to)
{
#if defined(__APPLE__)
    if (::renamex_np(from.constData(), to.constData(), RENAME_EXCL) == 0)
        return true;
    if (errno != ENOTSUP)
        return false;
#else
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
#endif
    struct stat status;
    if (::lstat(from.constData(), &status) != 0)
        return false;
    if (!S_ISDIR(status.st_mode))
    {
        if (::link(from.constData(), to.constData()) != 0)
            return false;
        ::unlink(from.constData());
        return true;
    }
    if (::lstat(to.constData(), &status) == 0)
    {
        errno = EEXIST;
        return false;
    }
    return ::rename(from.constData(), to.constData()) == 0;
}

// Swaps two paths in one step, so the output path never stands empty; false where
// the file system cannot.
bool exchange(const QByteArray& first, const QByteArray& second)
{
#if defined(__APPLE__)
    return ::renamex_np(first.constData(), second.constData(), RENAME_SWAP) == 0;
#else
    return ::renameat2(AT_FDCWD, first.constData(), AT_FDCWD, second.constData(),
                       RENAME_EXCHANGE) == 0;
#endif
}
} // namespace

bool COutputFile::present(const QString& path)
{
    struct stat status;
    return ::lstat(encoded(path).constData(), &status) == 0;
}

bool COutputFile::isLink(const QString& path)
{
    struct stat status;
    return ::lstat(encoded(path).constData(), &status) == 0 && S_ISLNK(status.st_mode);
}

QString COutputFile::stagingBeside(const QString& output, QString* reason)
{
    const QString folder = QFileInfo(output).absolutePath();
    if (!QFileInfo(folder).isDir() && !QDir().mkpath(folder))
    {
        if (reason)
            *reason = QStringLiteral("cannot create the folder %1").arg(folder);
        return QString();
    }
    QByteArray pattern =
        encoded(CLeftovers::prefix(folder, QStringLiteral(".Tessary")) + QStringLiteral("XXXXXX"));
    if (!::mkdtemp(pattern.data()))
    {
        if (reason)
            *reason = qt_error_string(errno);
        return QString();
    }
    return QFile::decodeName(pattern);
}

COutputFile::Result COutputFile::install(const QString& staged, const QString& output,
                                         bool overwrite, const QString& previous)
{
    const QByteArray from = encoded(staged);
    const QByteArray to = encoded(output);
    if (renameNoReplace(from, to))
        return Installed;
    if (errno != EEXIST && errno != ENOTEMPTY)
    {
        qDebug() << "COutputFile::install(): cannot move" << staged << "to" << output
                 << qt_error_string(errno);
        return Failed;
    }
    if (!overwrite)
        return AlreadyExists;
    // What is there goes where the new output was, and leaves with the staging folder.
    if (exchange(from, to))
        return Installed;
    const QByteArray kept = encoded(previous);
    if (::rename(to.constData(), kept.constData()) != 0)
    {
        qDebug() << "COutputFile::install(): cannot move away" << output << qt_error_string(errno);
        return PreviousKept;
    }
    if (::rename(from.constData(), to.constData()) != 0)
    {
        qDebug() << "COutputFile::install(): cannot move" << staged << "to" << output
                 << qt_error_string(errno);
        ::rename(kept.constData(), to.constData());
        return Failed;
    }
    return Installed;
}

bool COutputFile::write(const QString& output, const QByteArray& bytes, const COptions& options,
                        QString* reason, Result* result)
{
    auto failed = [&](const QString& why, Result kind)
    {
        if (reason)
            *reason = why;
        if (result)
            *result = kind;
        return false;
    };
    const QString absolute = QFileInfo(output).absoluteFilePath();
    if (!options.m_bOverwrite && present(absolute))
        return failed(QStringLiteral("it already exists"), AlreadyExists);
    QString why;
    const QString staging = stagingBeside(absolute, &why);
    if (staging.isEmpty())
        return failed(why, Failed);
    const QString staged = staging + QStringLiteral("/new");
    // Whatever was replaced (a folder even) leaves with the staging folder, links as links.
    auto cleanUp = [&staging] { recursiveRemove(staging); };
    // A file nobody else could open meanwhile; its final mode is set before it is
    // moved in, so it never stands in place with a wider one.
    mode_t mode = 0600;
    if (!options.m_bPrivate)
    {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
        struct stat previous;
        // A file replaced keeps the mode its owner gave it.
        if (::lstat(encoded(absolute).constData(), &previous) == 0 && S_ISREG(previous.st_mode) &&
            previous.st_uid == ::geteuid())
            mode = previous.st_mode & 0777;
    }
    const int descriptor =
        ::open(encoded(staged).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (descriptor < 0)
    {
        why = qt_error_string(errno);
        cleanUp();
        return failed(why, Failed);
    }
    qint64 written = 0;
    while (written < bytes.size())
    {
        const ssize_t count =
            ::write(descriptor, bytes.constData() + written, size_t(bytes.size() - written));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            break;
        written += count;
    }
    const bool complete =
        written == bytes.size() && ::fsync(descriptor) == 0 && ::fchmod(descriptor, mode) == 0;
    why = qt_error_string(errno);
    ::close(descriptor);
    if (!complete)
    {
        cleanUp();
        return failed(why, Failed);
    }
    const Result installed =
        install(staged, absolute, options.m_bOverwrite, staging + QStringLiteral("/previous"));
    why = qt_error_string(errno);
    cleanUp();
    if (installed != Installed)
        return failed(installed == AlreadyExists ? QStringLiteral("it already exists") : why,
                      installed);
    if (result)
        *result = Installed;
    return true;
}

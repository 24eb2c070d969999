#include "Leftovers.h"

#include "TempDirectory.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

QString CLeftovers::prefix(const QString& folder, const QString& stem)
{
    return folder + QLatin1Char('/') + stem + QLatin1Char('-') +
           QString::number(qint64(::getpid())) + QLatin1Char('-');
}

int CLeftovers::removeAbandoned(const QString& folder)
{
    static const QRegularExpression name(
        QStringLiteral("^\\.?Tessary-(?:values-)?([0-9]{1,10})-[A-Za-z0-9]{6,8}(?:\\.xml)?$"));
    const QByteArray path = QFile::encodeName(folder);
    DIR* const listing = ::opendir(path.constData());
    if (!listing)
        return 0;
    QStringList abandoned;
    while (const dirent* entry = ::readdir(listing))
    {
        const QString entryName = QFile::decodeName(entry->d_name);
        const QRegularExpressionMatch match = name.match(entryName);
        if (!match.hasMatch())
            continue;
        const qint64 pid = match.captured(1).toLongLong();
        // A process that is there (or that this user may not signal) is not gone.
        if (pid <= 0 || pid == ::getpid() || ::kill(pid_t(pid), 0) == 0 || errno != ESRCH)
            continue;
        struct stat status;
        if (::fstatat(::dirfd(listing), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0 ||
            status.st_uid != ::geteuid())
            continue;
        abandoned << entryName;
    }
    ::closedir(listing);
    int removed = 0;
    for (const QString& entryName : qAsConst(abandoned))
    {
        const QString entryPath = folder + QLatin1Char('/') + entryName;
        struct stat status;
        if (::lstat(QFile::encodeName(entryPath).constData(), &status) != 0)
            continue;
        const bool gone = S_ISDIR(status.st_mode)
                              ? recursiveRemove(entryPath)
                              : ::unlink(QFile::encodeName(entryPath).constData()) == 0;
        qDebug().noquote() << "CLeftovers::removeAbandoned(): removed" << entryPath
                           << (gone ? "" : "in part");
        removed += gone ? 1 : 0;
    }
    return removed;
}

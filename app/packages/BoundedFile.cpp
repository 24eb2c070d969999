#include "BoundedFile.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool CBoundedFile::isRegularFile(const QString& path, bool followLinks)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat st;
    return (followLinks ? ::stat(name.constData(), &st) : ::lstat(name.constData(), &st)) == 0 &&
           S_ISREG(st.st_mode);
}

bool CBoundedFile::read(const QString& path, qint64 maxBytes, QByteArray& data, QString* error,
                        bool followLinks)
{
    auto fail = [&](const QString& reason)
    {
        if (error)
            *error = path + QStringLiteral(": ") + reason;
        return false;
    };
    // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused below.
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDONLY | O_CLOEXEC | O_NONBLOCK | (followLinks ? 0 : O_NOFOLLOW));
    if (fd < 0)
        return fail(errno == ELOOP && !followLinks ? QStringLiteral("is a symbolic link")
                                                   : qt_error_string(errno));
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
    {
        ::close(fd);
        return fail(QStringLiteral("is not a regular file"));
    }
    const QString tooLarge = QStringLiteral("is larger than the limit of %1 bytes").arg(maxBytes);
    if (st.st_size > maxBytes)
    {
        ::close(fd);
        return fail(tooLarge);
    }
    QByteArray bytes;
    bytes.reserve(int(st.st_size));
    char buffer[65536];
    for (;;)
    {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
        {
            const QString reason = qt_error_string(errno);
            ::close(fd);
            return fail(reason);
        }
        if (n == 0)
            break;
        // The file may grow while it is read.
        if (bytes.size() + n > maxBytes)
        {
            ::close(fd);
            return fail(tooLarge);
        }
        bytes.append(buffer, int(n));
    }
    ::close(fd);
    data = bytes;
    return true;
}

#include "TempDirectory.h"

#include "Leftovers.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

QString createTempDir()
{
    // Named after this process, so that a later run can tell it was left by a killed one.
    QByteArray templ =
        QFile::encodeName(CLeftovers::prefix(QDir::tempPath(), QStringLiteral("Tessary")) +
                          QStringLiteral("XXXXXXXX"));
    if (!::mkdtemp(templ.data()))
    {
        qDebug() << "createTempDir() failed for" << templ << ":" << qt_error_string(errno);
        return QString();
    }
    return QFile::decodeName(templ);
}

namespace
{
// One folder on the way down: its name in its parent and the subfolders still to remove.
struct SLevel
{
    std::string name;
    bool scanned = false;
    std::vector<std::string> pending;
};
} // namespace

bool recursiveRemove(const QString& path)
{
    if (path.isEmpty() || path == QLatin1String("/"))
        return false;
    const QByteArray root = QFile::encodeName(path);
    struct stat st;
    // A link given as the tree itself is not followed.
    if (::lstat(root.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    // The walk goes by descriptors, one folder at a time, so that trees deeper than PATH_MAX
    // (an archive can hold such paths) go too and no descriptor is held per level.
    int current = ::open(root.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (current < 0)
        return false;
    bool result = true;
    std::vector<SLevel> levels(1);
    while (!levels.empty())
    {
        SLevel& level = levels.back();
        if (!level.scanned)
        {
            level.scanned = true;
            const int listing = ::openat(current, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            DIR* dir = listing >= 0 ? ::fdopendir(listing) : nullptr;
            if (!dir && listing >= 0)
                ::close(listing);
            while (const dirent* entry = dir ? ::readdir(dir) : nullptr)
            {
                const char* name = entry->d_name;
                if (::strcmp(name, ".") == 0 || ::strcmp(name, "..") == 0)
                    continue;
                struct stat entryStatus;
                if (::fstatat(current, name, &entryStatus, AT_SYMLINK_NOFOLLOW) == 0 &&
                    S_ISDIR(entryStatus.st_mode))
                    level.pending.push_back(name);
                else if (::unlinkat(current, name, 0) != 0)
                {
                    qDebug() << "recursiveRemove() could not remove" << name << "below" << path
                             << ":" << qt_error_string(errno);
                    result = false;
                }
            }
            if (dir)
                ::closedir(dir);
        }
        if (!level.pending.empty())
        {
            const std::string name = level.pending.back();
            level.pending.pop_back();
            const int child =
                ::openat(current, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (child < 0)
                continue;
            ::close(current);
            current = child;
            SLevel next;
            next.name = name;
            levels.push_back(next);
            continue;
        }
        const std::string name = level.name;
        levels.pop_back();
        if (levels.empty())
            break;
        const int parent = ::openat(current, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(current);
        current = parent;
        if (current < 0)
            break;
        ::unlinkat(current, name.c_str(), AT_REMOVEDIR);
    }
    if (current >= 0)
        ::close(current);
    ::rmdir(root.constData());
    return result;
}

#include "RecordedTimes.h"

#include <utils/SourceDate.h>

#include <QDebug>
#include <QDirIterator>
#include <QFile>
#include <fcntl.h>
#include <sys/stat.h>

namespace
{
void clamp(const QString& path, std::time_t epoch)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat status;
    if (::lstat(name.constData(), &status) != 0 || status.st_mtime <= epoch)
        return;
    const struct timespec times[2] = {{epoch, 0}, {epoch, 0}};
    if (::utimensat(AT_FDCWD, name.constData(), times, AT_SYMLINK_NOFOLLOW) != 0)
        qDebug().noquote() << "CRecordedTimes::clampTree(): cannot set the time of" << path;
}
} // namespace

void CRecordedTimes::clampTree(const QString& path)
{
    const std::optional<std::time_t> epoch = orbilib::utils::sourceDateEpoch();
    if (!epoch)
        return;
    QDirIterator it(path, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        clamp(it.next(), *epoch);
    // A folder's own time last: setting its children's times does not change it.
    clamp(path, *epoch);
}

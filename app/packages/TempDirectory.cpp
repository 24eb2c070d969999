#include "TempDirectory.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdlib>

QString createTempDir()
{
    QByteArray templ = QFile::encodeName(QDir::tempPath() + QStringLiteral("/Tessary-XXXXXXXX"));
    if (!::mkdtemp(templ.data()))
    {
        qDebug() << "createTempDir() failed for" << templ << ":" << qt_error_string(errno);
        return QString();
    }
    return QFile::decodeName(templ);
}

bool recursiveRemove(const QString& path)
{
    if (path.isEmpty() || path == QLatin1String("/"))
        return false;
    QDir dir(path);
    const QFileInfo self(path);
    if (self.isSymLink() || !dir.exists())
        return false;

    bool result = true;
    const QFileInfoList entries = dir.entryInfoList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::DirsFirst);
    for (const QFileInfo& entry : entries)
    {
        // A link to a directory is removed as a link: following it would empty its target.
        if (entry.isDir() && !entry.isSymLink())
            recursiveRemove(entry.absoluteFilePath());
        else if (!QFile::remove(entry.absoluteFilePath()))
        {
            qDebug() << "recursiveRemove() could not remove" << entry.absoluteFilePath();
            result = false;
        }
    }
    dir.rmdir(dir.absolutePath());
    return result;
}

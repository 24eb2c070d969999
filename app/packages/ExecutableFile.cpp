#include "ExecutableFile.h"

#include <QFile>
#include <QFileInfo>

bool CExecutableFile::write(const QString& path, const QByteArray& data, QString* error)
{
    // A link planted in the package must not redirect the write.
    if (QFileInfo(path).isSymLink())
        QFile::remove(path);
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Truncate))
    {
        if (error)
            *error = file.errorString();
        return false;
    }
    const bool written = file.write(data) == data.size();
    file.close();
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                        QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther |
                        QFileDevice::ExeOther);
    if (!written || file.error() != QFileDevice::NoError)
    {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

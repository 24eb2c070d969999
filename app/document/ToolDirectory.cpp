#include "ToolDirectory.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>

#ifndef TESSARY_INSTALL_TOOLS_DIR
#define TESSARY_INSTALL_TOOLS_DIR "libexec/tessary"
#endif

QString CToolDirectory::find(const QString& programDir)
{
    const QDir dir(programDir);
    const QStringList candidates{
        // Both the build tree and a default installation keep the tools one level up.
        dir.absoluteFilePath(QStringLiteral("../libexec/tessary")),
        // An installation whose libexec directory was configured elsewhere.
        dir.absoluteFilePath(QStringLiteral("../") + QStringLiteral(TESSARY_INSTALL_TOOLS_DIR)),
        dir.absoluteFilePath(QStringLiteral(TESSARY_INSTALL_TOOLS_DIR))};
    for (const QString& candidate : candidates)
    {
        const QFileInfo info(candidate);
        if (info.isDir())
            return info.canonicalFilePath();
    }
    return QString();
}

void CToolDirectory::prependToPath(const QString& directory)
{
    if (directory.isEmpty())
        return;
    const QString current = qEnvironmentVariable("PATH");
    QStringList parts = current.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    parts.removeAll(directory);
    parts.prepend(directory);
    qputenv("PATH", parts.join(QLatin1Char(':')).toLocal8Bit());
}

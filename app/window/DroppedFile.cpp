#include "DroppedFile.h"

#include <QFileInfo>
#include <QMimeData>
#include <QStringList>
#include <QUrl>

#ifdef Q_OS_MACOS
#include <CoreFoundation/CoreFoundation.h>
#endif

QString CDroppedFile::pathOf(const QMimeData* data)
{
    if (!data || !data->hasUrls() || data->urls().isEmpty())
        return QString();
    QString path = data->urls().first().toLocalFile();
#ifdef Q_OS_MACOS
    // A file reference ("/.file/id=...") names the file only through the system.
    if (path.startsWith(QLatin1String("/.file/")))
    {
        const QByteArray reference = QByteArray("file://") + path.toUtf8();
        CFURLRef url = CFURLCreateWithBytes(kCFAllocatorDefault,
                                            reinterpret_cast<const UInt8*>(reference.constData()),
                                            reference.size(), kCFStringEncodingUTF8, nullptr);
        if (url)
        {
            if (CFURLRef filePathUrl = CFURLCreateFilePathURL(kCFAllocatorDefault, url, nullptr))
            {
                CFStringRef absolute = CFURLGetString(filePathUrl);
                char buffer[4096];
                if (absolute &&
                    CFStringGetCString(absolute, buffer, sizeof buffer, kCFStringEncodingUTF8))
                {
                    path = QUrl::fromPercentEncoding(QByteArray(buffer));
                    if (path.startsWith(QLatin1String("file://")))
                        path.remove(0, 7);
                }
                CFRelease(filePathUrl);
            }
            CFRelease(url);
        }
    }
#endif
    if (path.isEmpty())
        return QString();
    if (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    const QFileInfo info(path);
    static const QStringList supported{QStringLiteral("xml"), QStringLiteral("pkg"),
                                       QStringLiteral("mpkg"), QStringLiteral("dmg"),
                                       QStringLiteral("package")};
    if (!supported.contains(info.suffix().toLower()))
        return QString();
    return info.absoluteFilePath();
}

#include "DmgPackage.h"

#include "CustomizedFlatPackage_Exception.h"
#include "MacFlatPackage.h"
#include "MacPackage.h"
#include "ToolRunner.h"

#include <CoreFoundation/CoreFoundation.h>

#include <QDebug>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstdlib>

namespace
{
const int kToolLimitMs = 30000;
// Attaching extracts the image's files, which takes long for large images; hdiutil
// bounds each step itself, and this bounds the whole.
const int kAttachLimitMs = 30 * 60 * 1000;
const int kDetachLimitMs = 5 * 60 * 1000;

// Whether the "imageinfo" property list allows attaching the image.
bool imageInfoAllowsAttach(const QByteArray& plist)
{
    CFDataRef data = CFDataCreate(kCFAllocatorDefault,
                                  reinterpret_cast<const UInt8*>(plist.constData()), plist.size());
    if (!data)
        return true;
    CFPropertyListRef root = CFPropertyListCreateWithData(
        kCFAllocatorDefault, data, kCFPropertyListImmutable, nullptr, nullptr);
    CFRelease(data);
    if (!root)
        return true;
    bool allowed = true;
    if (CFGetTypeID(root) == CFDictionaryGetTypeID())
    {
        const void* properties =
            CFDictionaryGetValue(static_cast<CFDictionaryRef>(root), CFSTR("Properties"));
        if (properties && CFGetTypeID(properties) == CFDictionaryGetTypeID())
        {
            const void* license = CFDictionaryGetValue(static_cast<CFDictionaryRef>(properties),
                                                       CFSTR("Software License Agreement"));
            if (license)
                allowed = CFGetTypeID(license) == CFBooleanGetTypeID() &&
                          !CFBooleanGetValue(static_cast<CFBooleanRef>(license));
        }
    }
    CFRelease(root);
    return allowed;
}
} // namespace

CDmgPackage::CDmgPackage(const QFileInfo& file)
    : CPackage(file), m_bMounted(false), m_pSubPackage(nullptr), m_bHasMountPoint(false)
{
    qDebug().nospace().noquote() << "CDmgPackage::CDmgPackage(" << file.absoluteFilePath()
                                 << ") begin";
    QByteArray templ = QFile::encodeName(QDir::tempPath() + QStringLiteral("/korva_ts.XXXXXX"));
    if (::mkdtemp(templ.data()))
    {
        m_mountPoint = QDir(QString::fromUtf8(templ));
        m_bHasMountPoint = true;
        readImage();
    }
    else
        qDebug() << "CDmgPackage: no mount point:" << qt_error_string(errno);
    qDebug().nospace().noquote() << "CDmgPackage::CDmgPackage(" << file.absoluteFilePath()
                                 << ") end";
}

CDmgPackage::~CDmgPackage()
{
    unmount();
    delete m_pSubPackage;
    // Only an empty directory goes, so nothing of an image that refused to detach is lost.
    if (m_bHasMountPoint && !m_bMounted)
        QDir().rmdir(m_mountPoint.absolutePath());
}

void CDmgPackage::readImage()
{
    if (!mount())
        return;
    const QFileInfoList entries =
        m_mountPoint.entryInfoList({QStringLiteral("*.pkg"), QStringLiteral("*.mpkg")},
                                   QDir::AllEntries | QDir::NoDotAndDotDot, QDir::NoSort);
    if (!entries.isEmpty())
    {
        const QFileInfo& entry = entries.first();
        if (entry.suffix().compare(QLatin1String("pkg"), Qt::CaseInsensitive) == 0 &&
            CMacFlatPackage::isFlatPackage(entry.absoluteFilePath()))
        {
            try
            {
                m_pSubPackage = new CMacFlatPackage(entry, false);
            }
            catch (const CustomizedFlatPackage_Exception&)
            {
                // An image that carries a published package opens with the package's
                // own definition and defaults; the customization travels separately.
                qDebug() << "CDmgPackage: the flat package on the image was customized before";
                m_pSubPackage = new CMacFlatPackage(entry, true);
            }
            catch (...)
            {
                unmount();
                throw;
            }
        }
        else
            m_pSubPackage = new CMacPackage(entry);
        if (!m_pSubPackage->isValid())
        {
            delete m_pSubPackage;
            m_pSubPackage = nullptr;
        }
    }
    unmount();
}

bool CDmgPackage::isSupportedDmg()
{
    const CToolRunner::Result result = CToolRunner::run(
        QStringLiteral("hdiutil"),
        {QStringLiteral("imageinfo"), m_file.absoluteFilePath(), QStringLiteral("-plist")},
        QString(), kToolLimitMs);
    if (!result.finished)
        return false;
    return imageInfoAllowsAttach(result.output);
}

bool CDmgPackage::mount()
{
    if (m_bMounted)
        return true;
    if (!m_bHasMountPoint || !isSupportedDmg())
        return false;
    const QStringList arguments{QStringLiteral("attach"),      m_file.absoluteFilePath(),
                                QStringLiteral("-nobrowse"),   QStringLiteral("-noautoopen"),
                                QStringLiteral("-mountpoint"), m_mountPoint.absolutePath()};
    qDebug() << "hdiutil" << arguments;
    const CToolRunner::Result result =
        CToolRunner::run(QStringLiteral("hdiutil"), arguments, QString(), kAttachLimitMs);
    qDebug() << "attach finished";
    m_bMounted = result.succeeded();
    if (!m_bMounted)
        setProblem(QDir::toNativeSeparators(m_file.absoluteFilePath()) + QStringLiteral(": ") +
                   (result.finished ? QString::fromUtf8(result.errors)
                                    : QStringLiteral("the image was not attached within %1 minutes")
                                          .arg(kAttachLimitMs / 60000)));
    if (result.started && !result.finished)
    {
        // Stopped at its limit, hdiutil could not clean up; what it attached so far is
        // recorded, so a detach removes it and the mount point can go.
        CToolRunner::run(QStringLiteral("hdiutil"),
                         {QStringLiteral("detach"), m_mountPoint.absolutePath()}, QString(),
                         kDetachLimitMs);
    }
    return m_bMounted;
}

bool CDmgPackage::unmount()
{
    if (!m_bMounted)
        return true;
    const CToolRunner::Result result = CToolRunner::run(
        QStringLiteral("hdiutil"), {QStringLiteral("detach"), m_mountPoint.absolutePath()},
        QString(), kDetachLimitMs);
    qDebug() << "detach finished";
    if (result.succeeded())
        m_bMounted = false;
    return !m_bMounted;
}

bool CDmgPackage::isValid()
{
    return m_pSubPackage && m_pSubPackage->isValid();
}

QByteArray CDmgPackage::xml()
{
    return m_pSubPackage ? m_pSubPackage->xml() : QByteArray();
}

QString CDmgPackage::product()
{
    return m_pSubPackage ? m_pSubPackage->product() : QString();
}

orbilib::utils::CVersion CDmgPackage::version()
{
    return m_pSubPackage ? m_pSubPackage->version() : orbilib::utils::CVersion();
}

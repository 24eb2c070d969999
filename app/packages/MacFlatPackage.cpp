#include "MacFlatPackage.h"

#include "BoundedFile.h"
#include "CustomizedFlatPackage_Exception.h"
#include "MacPackage.h"
#include "TempDirectory.h"
#include "ToolRunner.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QProcessEnvironment>

#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
const int kToolLimitMs = 30000;
// The largest file that reading may unpack (the decompressed "Scripts" archive or
// any member of it). Scripts hold a few small files; this bounds what a small,
// highly compressed package can put on the disk.
const qint64 kMaxUnpackedBytes = 64 * 1024 * 1024;

// Whether a file starts like a cpio archive (odc, newc/crc, or binary in either
// byte order). Anything else, a second compression layer among it, is refused.
bool isCpioArchive(const QString& path)
{
    QFile file(path);
    if (!CBoundedFile::isRegularFile(path) || !file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(6);
    return head.startsWith("070707") || head.startsWith("070701") || head.startsWith("070702") ||
           head.startsWith("\xc7\x71") || head.startsWith("\x71\xc7");
}

// Why a tool did not do its part, in its own words where it gave any: the first
// line of what it wrote to its standard error.
QString toolReason(const QString& tool, const CToolRunner::Result& result)
{
    if (!result.started)
        return QStringLiteral("%1 could not be started").arg(tool);
    if (!result.finished)
        return QStringLiteral("%1 did not finish within %2 seconds")
            .arg(tool)
            .arg(kToolLimitMs / 1000);
    const QString said =
        QString::fromUtf8(result.errors).trimmed().section(QLatin1Char('\n'), 0, 0).trimmed();
    if (!said.isEmpty())
        return said.startsWith(tool + QLatin1Char(':')) ? said
                                                        : QStringLiteral("%1: %2").arg(tool, said);
    return result.crashed
               ? QStringLiteral("%1 crashed").arg(tool)
               : QStringLiteral("%1 ended with exit code %2").arg(tool).arg(result.exitCode);
}
} // namespace

CMacFlatPackage::CMacFlatPackage(const QFileInfo& file, bool ignoreCustomization)
    : CPackage(file), m_bIgnoreCustomization(ignoreCustomization)
{
    init();
}

bool CMacFlatPackage::isValid()
{
    return !m_version.isEmpty() && !m_sProduct.isEmpty() && !m_xml.isEmpty();
}

bool CMacFlatPackage::isValidButNotCustomizable()
{
    return !m_version.isEmpty() && !m_sProduct.isEmpty();
}

void CMacFlatPackage::init()
{
    const QString path = m_file.absoluteFilePath();
    qDebug().nospace().noquote() << "CMacFlatPackage::init(" << path << ") begin";
    const QString workDir = createTempDir();
    qDebug() << "CMacFlatPackage::init() using temp dir " << workDir;
    if (workDir.isEmpty())
    {
        qDebug() << "CMacFlatPackage::init() could not make a work directory";
        return;
    }
    try
    {
        readScripts(workDir);
    }
    catch (...)
    {
        recursiveRemove(workDir);
        throw;
    }
    recursiveRemove(workDir);
    qDebug().nospace().noquote() << "CMacFlatPackage::init(" << path << ") end";
}

void CMacFlatPackage::readScripts(const QString& workDir)
{
    const QDir work(workDir);
    const QString path = m_file.absoluteFilePath();
    const QString limitText = QStringLiteral("%1 MiB").arg(kMaxUnpackedBytes / (1024 * 1024));
    const CToolRunner::Result xar = CToolRunner::run(
        QStringLiteral("xar"),
        {QStringLiteral("-x"), QStringLiteral("-f"), path, QStringLiteral("^Scripts$")}, workDir,
        kToolLimitMs, kMaxUnpackedBytes);
    if (xar.crashed)
    {
        qDebug().noquote() << path << ": 'Scripts' was not extracted within the limit of"
                           << limitText;
        setProblem(QStringLiteral("%1: 'Scripts' is larger than the limit of %2")
                       .arg(QDir::toNativeSeparators(path), limitText));
    }
    const QString shownPath = QDir::toNativeSeparators(path);
    if (!xar.succeeded())
    {
        qDebug() << "xar failed, or simply did not find 'Scripts' at top level";
        setProblem(QStringLiteral("%1: %2").arg(shownPath, toolReason(QStringLiteral("xar"), xar)));
        return;
    }

    const QString scripts = work.absoluteFilePath(QStringLiteral("Scripts"));
    if (!CBoundedFile::isRegularFile(scripts) ||
        !QFile::rename(scripts, work.absoluteFilePath(QStringLiteral("Scripts.gz"))))
    {
        qDebug() << "Failed to rename Scripts to Scripts.gz";
        setProblem(QStringLiteral("%1: the package holds no 'Scripts' archive").arg(shownPath));
        return;
    }

    const CToolRunner::Result gunzip = CToolRunner::run(
        QStringLiteral("gzip"), {QStringLiteral("-d"), QStringLiteral("Scripts.gz")}, workDir,
        kToolLimitMs, kMaxUnpackedBytes);
    if (gunzip.crashed)
    {
        qDebug().noquote() << path << ": 'Scripts' expands beyond the limit of" << limitText;
        setProblem(QStringLiteral("%1: 'Scripts' expands beyond the limit of %2")
                       .arg(QDir::toNativeSeparators(path), limitText));
    }
    if (!gunzip.succeeded())
    {
        qDebug() << "Failed to gunzip Scripts.gz";
        setProblem(QStringLiteral("%1: 'Scripts' %2")
                       .arg(shownPath, toolReason(QStringLiteral("gzip"), gunzip)));
        return;
    }
    // A cpio archive writes no more than its own size; a compressed one could again.
    if (!isCpioArchive(work.absoluteFilePath(QStringLiteral("Scripts"))))
    {
        qDebug() << "Failed to extract Scripts with cpio: it is not a cpio archive";
        setProblem(QStringLiteral("%1: 'Scripts' is not a cpio archive").arg(shownPath));
        return;
    }

    const CToolRunner::Result cpio =
        CToolRunner::run(QStringLiteral("cpio"),
                         {QStringLiteral("-i"), QStringLiteral("-F"), QStringLiteral("Scripts")},
                         workDir, kToolLimitMs, kMaxUnpackedBytes);
    if (!cpio.succeeded())
    {
        qDebug() << "Failed to extract Scripts with cpio";
        setProblem(QStringLiteral("%1: 'Scripts' %2")
                       .arg(shownPath, toolReason(QStringLiteral("cpio"), cpio)));
        ::chmod(QFile::encodeName(workDir).constData(), 0700);
        return;
    }
    // The archive's "." entry gives the work folder its own mode (0755, even 0777):
    // it is this user's alone again before anything in it is read.
    ::chmod(QFile::encodeName(workDir).constData(), 0700);

    // "defaults" is only asked about a plain file: a FIFO or a device there would
    // hold it until its time limit.
    const QString info = work.absoluteFilePath(QStringLiteral("Info"));
    if (CBoundedFile::isRegularFile(info + QStringLiteral(".plist")))
    {
        bool finished = false;
        const QByteArray name =
            CMacPackage::readDefault(info, QStringLiteral("CFBundleName"), &finished);
        if (finished)
            m_sProduct = QString::fromUtf8(name);
        const QByteArray version =
            CMacPackage::readDefault(info, QStringLiteral("CFBundleShortVersionString"), &finished);
        if (finished)
            m_version.parse(QString::fromLatin1(version).toStdWString());
    }
    else
    {
        qDebug().noquote() << path << ": Info.plist is missing or not a regular file";
        setProblem(QStringLiteral("%1: 'Scripts' holds no Info.plist").arg(shownPath));
    }

    const QString configPath = work.absoluteFilePath(QStringLiteral("AdminConfig.xml"));
    if (!QFileInfo(configPath).isSymLink() && !QFileInfo::exists(configPath))
    {
        qDebug() << "No AdminConfig.xml file";
        setProblem(QStringLiteral("%1: 'Scripts' holds no AdminConfig.xml").arg(shownPath));
        return;
    }
    QByteArray config;
    if (!readDocument(configPath, config))
    {
        qDebug() << "Failed to read AdminConfig.xml file";
        return;
    }

    if (!m_bIgnoreCustomization)
    {
        const QString modifiedPath =
            work.absoluteFilePath(QStringLiteral("AdminConfigModified.xml"));
        QByteArray customization;
        if (QFileInfo(modifiedPath).exists() && readDocument(modifiedPath, customization))
        {
            qDebug() << "CMacFlatPackage::init() found a customization in" << path;
            // The caller's catch-all removes the work directory.
            throw CustomizedFlatPackage_Exception(customization, path);
        }
    }
    m_xml = config;
}

bool CMacFlatPackage::readDocument(const QString& path, QByteArray& data)
{
    QString error;
    if (!CBoundedFile::read(path, CBoundedFile::kMaxDocumentBytes, data, &error))
    {
        qDebug().noquote() << m_file.absoluteFilePath() << ":" << error;
        // The member is named as it stands in the package, not by its work copy's path.
        const QString reason =
            error.startsWith(path + QStringLiteral(": ")) ? error.mid(path.size() + 2) : error;
        setProblem(QStringLiteral("%1: %2 %3")
                       .arg(QDir::toNativeSeparators(m_file.absoluteFilePath()),
                            QFileInfo(path).fileName(), reason));
        return false;
    }
    // Read as text: line ends lose their carriage returns.
    data.replace('\r', QByteArray());
    return true;
}

bool CMacFlatPackage::isFlatPackage(const QString& path)
{
    if (!path.endsWith(QLatin1String(".pkg")))
        return false;
    // Opened without blocking: a FIFO or a device named like a package is no package.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat st;
    char head[4];
    const bool flat = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                      ::pread(fd, head, sizeof head, 0) == ssize_t(sizeof head) &&
                      ::memcmp(head, "xar!", 4) == 0;
    ::close(fd);
    return flat;
}

bool CMacFlatPackage::expand(const QString& packagePath, QDir& expandedDir,
                             const CancelTest& canceled)
{
    qDebug().nospace().noquote() << "CMacFlatPackage::expand(" << packagePath << ") begin";
    const QString workDir = createTempDir();
    if (workDir.isEmpty())
        return false;
    const QDir expanded(QDir(workDir).absoluteFilePath(QStringLiteral("pkg")));
    const bool result =
        CToolRunner::runCancelable(
            QStringLiteral("pkgutil"),
            {QStringLiteral("--expand"), packagePath, expanded.absolutePath()}, canceled)
            .succeeded();
    if (result)
        expandedDir = expanded;
    else
        // Only this call made the directory, so only it can know to remove it.
        recursiveRemove(workDir);
    qDebug().nospace().noquote() << "CMacFlatPackage::expand(" << packagePath << ") end " << result;
    return result;
}

bool CMacFlatPackage::flatten(const QDir& expandedDir, const QString& destination,
                              const CancelTest& canceled, const Signing& signing, QString* problem)
{
    qDebug().nospace().noquote() << "CMacFlatPackage::flatten(" << destination << ") begin";
    QStringList arguments = {QStringLiteral("--flatten"), expandedDir.absolutePath(), destination};
    QProcessEnvironment environment;
    if (!signing.identityFile.isEmpty())
    {
        // The password travels in the tool's environment: a command line is
        // visible to every user of the computer.
        arguments << QStringLiteral("--sign-identity")
                  << QFileInfo(signing.identityFile).absoluteFilePath()
                  << QStringLiteral("--sign-password-env")
                  << QStringLiteral("TESSARY_SIGN_PASSWORD");
        environment.insert(QStringLiteral("TESSARY_SIGN_PASSWORD"), signing.password);
        if (!signing.timestampUrl.isEmpty())
            arguments << QStringLiteral("--timestamp-url") << signing.timestampUrl;
    }
    // The tool's own temporary files go to the work directory that holds the
    // expanded package, so they are removed with it even when the tool is killed.
    const CToolRunner::Result run = CToolRunner::runCancelable(
        QStringLiteral("pkgutil"), arguments, canceled,
        QFileInfo(expandedDir.absolutePath()).absolutePath(), environment);
    const bool result = run.succeeded();
    if (!result && problem)
    {
        // The tool's reason, without its name and the paths it was given.
        const QString error = QString::fromUtf8(run.errors).section(QLatin1Char('\n'), 0, 0);
        *problem = error.mid(error.lastIndexOf(QLatin1String(": ")) + 2);
    }
    qDebug().nospace().noquote() << "CMacFlatPackage::flatten(" << destination << ") end "
                                 << result;
    return result;
}

bool CMacFlatPackage::cleanTempDir(const QDir& expandedDir)
{
    const QString expanded = expandedDir.absolutePath();
    const QString parent = QFileInfo(expanded).absolutePath();
    // Only a work directory that createTempDir() made is removed: a directory that
    // was never set points at the current directory, whose parent is not ours.
    const QString prefix = QDir::tempPath() + QStringLiteral("/Tessary-");
    if (QFileInfo(expanded).fileName() != QLatin1String("pkg") || !parent.startsWith(prefix) ||
        parent.mid(prefix.size()).contains(QLatin1Char('/')))
    {
        qDebug() << "CMacFlatPackage::cleanTempDir() refuses" << expanded;
        return false;
    }
    return recursiveRemove(parent);
}

#include "MacFlatPackage.h"

#include "CustomizedFlatPackage_Exception.h"
#include "MacPackage.h"
#include "TempDirectory.h"
#include "ToolRunner.h"

#include <QDebug>
#include <QFile>

namespace
{
const int kToolLimitMs = 30000;

// Abandons reading a flat package; caught inside the constructor.
class ExitEarly
{
};

void abandon(const char* reason)
{
    qDebug() << reason;
    throw ExitEarly();
}

// A member that the archive made into a link must not lead the reading elsewhere.
bool isPlainFile(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() && info.isFile() && !info.isSymLink();
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
    catch (const ExitEarly&)
    {
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
    if (!CToolRunner::run(
             QStringLiteral("xar"),
             {QStringLiteral("-x"), QStringLiteral("-f"), path, QStringLiteral("^Scripts$")},
             workDir, kToolLimitMs)
             .succeeded())
        abandon("xar failed, or simply did not find 'Scripts' at top level");

    const QString scripts = work.absoluteFilePath(QStringLiteral("Scripts"));
    if (!isPlainFile(scripts) ||
        !QFile::rename(scripts, work.absoluteFilePath(QStringLiteral("Scripts.gz"))))
        abandon("Failed to rename Scripts to Scripts.gz");

    if (!CToolRunner::run(QStringLiteral("gzip"),
                          {QStringLiteral("-d"), QStringLiteral("Scripts.gz")}, workDir,
                          kToolLimitMs)
             .succeeded())
        abandon("Failed to gunzip Scripts.gz");

    if (!CToolRunner::run(QStringLiteral("cpio"),
                          {QStringLiteral("-i"), QStringLiteral("-F"), QStringLiteral("Scripts")},
                          workDir, kToolLimitMs)
             .succeeded())
        abandon("Failed to extract Scripts with cpio");

    const QString info = work.absoluteFilePath(QStringLiteral("Info"));
    bool finished = false;
    const QByteArray name =
        CMacPackage::readDefault(info, QStringLiteral("CFBundleName"), &finished);
    if (finished)
        m_sProduct = QString::fromUtf8(name);
    const QByteArray version =
        CMacPackage::readDefault(info, QStringLiteral("CFBundleShortVersionString"), &finished);
    if (finished)
        m_version.parse(QString::fromLatin1(version).toStdWString());

    const QString configPath = work.absoluteFilePath(QStringLiteral("AdminConfig.xml"));
    if (!isPlainFile(configPath))
        abandon("No AdminConfig.xml file");
    QFile config(configPath);
    if (!config.open(QIODevice::ReadOnly | QIODevice::Text))
        abandon("Failed to read AdminConfig.xml file");

    if (!m_bIgnoreCustomization)
    {
        const QString modifiedPath =
            work.absoluteFilePath(QStringLiteral("AdminConfigModified.xml"));
        QFile modified(modifiedPath);
        if (isPlainFile(modifiedPath) && modified.open(QIODevice::ReadOnly | QIODevice::Text))
        {
            const QByteArray customization = modified.readAll();
            modified.close();
            config.close();
            qDebug() << "CMacFlatPackage::init() found a customization in" << path;
            // The caller's catch-all removes the work directory.
            throw CustomizedFlatPackage_Exception(customization, path);
        }
    }
    m_xml = config.readAll();
}

bool CMacFlatPackage::isFlatPackage(const QString& path)
{
    if (!path.endsWith(QLatin1String(".pkg")))
        return false;
    QFile file(path);
    if (QFileInfo(path).isDir() || !file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(4);
    return head.size() == 4 && head == "xar!";
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
                              const CancelTest& canceled)
{
    qDebug().nospace().noquote() << "CMacFlatPackage::flatten(" << destination << ") begin";
    // The tool's own temporary files go to the work directory that holds the
    // expanded package, so they are removed with it even when the tool is killed.
    const bool result = CToolRunner::runCancelable(
                            QStringLiteral("pkgutil"),
                            {QStringLiteral("--flatten"), expandedDir.absolutePath(), destination},
                            canceled, QFileInfo(expandedDir.absolutePath()).absolutePath())
                            .succeeded();
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

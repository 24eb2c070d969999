#include "CopyFileThread.h"

#include "BoundedFile.h"
#include "CustomizedFlatPackage_Exception.h"
#include "DmgPackage.h"
#include "ExePackage.h"
#include "ExecutableFile.h"
#include "FileDescriptorIo.h"
#include "Leftovers.h"
#include "LinuxPackage.h"
#include "MacFlatPackage.h"
#include "MacPackage.h"
#include "MsiPackage.h"
#include "TempDirectory.h"
#include "XmlPackage.h"

#include <preference/Preference.h>
#include <utils/FileDescriptor.h>

#include <QCursor>
#include <QDebug>
#include <QFile>
#include <QGuiApplication>
#include <QMutexLocker>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

const wchar_t* const CCopyFileThread::CacheKey = L"Software\\Ombrel\\Tessary\\Cache";

namespace
{
// Shows the wait cursor while a package is read on the GUI thread; a worker thread
// must not touch the cursor.
class CBusyCursor
{
public:
    CBusyCursor()
        : m_bActive(qobject_cast<QGuiApplication*>(QCoreApplication::instance()) &&
                    QThread::currentThread() == QCoreApplication::instance()->thread())
    {
        if (m_bActive)
            QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    }
    ~CBusyCursor()
    {
        if (m_bActive)
            QGuiApplication::restoreOverrideCursor();
    }
    CBusyCursor(const CBusyCursor&) = delete;
    CBusyCursor& operator=(const CBusyCursor&) = delete;

private:
    bool m_bActive;
};

using FileDescriptorIo::copyRange;
using FileDescriptorIo::kHasCopyRange;
using FileDescriptorIo::writeAll;
using orbilib::utils::CFileDescriptor;

// Copies the bytes of one regular file into a new file that must not exist yet,
// keeping its permission bits and modification time. A partly written destination
// is removed again.
bool copyFileContents(const QString& src, const QString& dst, QString& error)
{
    const QByteArray srcPath = QFile::encodeName(src);
    const QByteArray dstPath = QFile::encodeName(dst);
    CFileDescriptor in(::open(srcPath.constData(), O_RDONLY | O_CLOEXEC));
    struct stat status;
    if (in.get() < 0 || ::fstat(in.get(), &status) != 0)
    {
        error = qt_error_string(errno);
        return false;
    }
    CFileDescriptor out(::open(dstPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                               status.st_mode & 07777));
    if (out.get() < 0)
    {
        error = qt_error_string(errno);
        return false;
    }
    bool ok = true;
    bool useCopyRange = kHasCopyRange;
    std::vector<char> buffer;
    for (;;)
    {
        ssize_t copied = -1;
        if (useCopyRange)
        {
            copied = copyRange(in.get(), nullptr, out.get(), 1 << 30);
            if (copied < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL ||
                               errno == EOPNOTSUPP || errno == EBADF || errno == EPERM))
            {
                // Not offered between these files: fall back to reading and writing.
                useCopyRange = false;
                continue;
            }
            if (copied < 0 && errno == EINTR)
                continue;
        }
        else
        {
            if (buffer.empty())
                buffer.resize(256 * 1024);
            copied = ::read(in.get(), buffer.data(), buffer.size());
            if (copied < 0 && errno == EINTR)
                continue;
            if (copied > 0 && !writeAll(out.get(), buffer.data(), size_t(copied)))
                copied = -1;
        }
        if (copied < 0)
        {
            error = qt_error_string(errno);
            ok = false;
            break;
        }
        if (copied == 0)
            break;
    }
    if (ok)
    {
        // The permissions asked for at creation are narrowed by the umask; cp -a keeps them.
        ::fchmod(out.get(), status.st_mode & 07777);
#ifdef __APPLE__
        const struct timespec times[2] = {status.st_atimespec, status.st_mtimespec};
#else
        const struct timespec times[2] = {status.st_atim, status.st_mtim};
#endif
        ::futimens(out.get(), times);
    }
    if (::close(out.release()) != 0 && ok)
    {
        error = qt_error_string(errno);
        ok = false;
    }
    if (!ok)
        ::unlink(dstPath.constData());
    return ok;
}

const QDir::Filters kAllEntries =
    QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;

bool isRealDirectory(const QFileInfo& entry)
{
    return entry.isDir() && !entry.isSymLink();
}

// Every entry of a directory in directory order, "." and ".." excluded. Unlike
// QDir::entryInfoList, a directory that cannot be opened or read to its end is a
// failure (with the reason in *error), not an empty listing.
bool listDirectory(const QDir& dir, QFileInfoList& entries, QString* error)
{
    entries.clear();
    DIR* handle = ::opendir(QFile::encodeName(dir.absolutePath()).constData());
    if (!handle)
    {
        *error = qt_error_string(errno);
        return false;
    }
    for (;;)
    {
        errno = 0;
        const dirent* entry = ::readdir(handle);
        if (!entry)
        {
            const int failure = errno;
            ::closedir(handle);
            if (failure == 0)
                return true;
            *error = qt_error_string(failure);
            return false;
        }
        if (::strcmp(entry->d_name, ".") != 0 && ::strcmp(entry->d_name, "..") != 0)
            entries.append(QFileInfo(dir.absoluteFilePath(QFile::decodeName(entry->d_name))));
    }
}
} // namespace

CCopyFileThread::CCopyFileThread(QObject* parent)
    : QThread(parent), m_bRunning(false), m_bCanceled(false), m_bStopRequested(false)
{
    qRegisterMetaType<QFileInfo>("QFileInfo");
    qRegisterMetaType<CPackage*>("CPackage*");
    qRegisterMetaType<CCopyFileThread::FileOperation>("CCopyFileThread::FileOperation");
}

CCopyFileThread::~CCopyFileThread()
{
    stop();
    wait();
}

CPackage* CCopyFileThread::loadPackage(const QFileInfo& file)
{
    qDebug().nospace().noquote() << "CCopyFileThread::loadPackage(" << file.absoluteFilePath()
                                 << ") begin";
    CBusyCursor busy;
    const QString suffix = file.suffix();
    auto is = [&suffix](const char* known)
    { return suffix.compare(QLatin1String(known), Qt::CaseInsensitive) == 0; };
    CPackage* package = nullptr;
    if (is("xml"))
        package = new CXmlPackage(file);
    else if (is("exe"))
        package = new CExePackage(file);
    else if (is("msi") || is("msp"))
        package = new CMsiPackage(file);
    else if (is("pkg"))
    {
        if (CMacFlatPackage::isFlatPackage(file.absoluteFilePath()))
        {
            try
            {
                package = new CMacFlatPackage(file, false);
            }
            catch (const CustomizedFlatPackage_Exception& customized)
            {
                package = new CXmlPackage(customized.customization(), customized.packagePath());
            }
        }
        else
            package = new CMacPackage(file);
    }
    else if (is("mpkg"))
        package = new CMacPackage(file);
    else if (is("dmg"))
        package = new CDmgPackage(file);
    else if (is("package"))
        package = new CLinuxPackage(file);
    qDebug().nospace().noquote() << "CCopyFileThread::loadPackage(" << file.absoluteFilePath()
                                 << ") end"
                                 << (package ? (package->isValid() ? " valid" : " invalid")
                                             : " unknown kind");
    return package;
}

void CCopyFileThread::enqueue(CCopyFileThread::FileOperation oper, const QStringList& args)
{
    // The property texts of a flat package hold the administrator's values,
    // secrets among them: only the files are logged.
    qDebug() << "CCopyFileThread::enqueue()" << oper
             << (oper == CopyFlatPackage ? QStringList(args.mid(0, 2)) : args);
    QMutexLocker locker(&m_lock);
    m_lQueue.append(qMakePair(oper, args));
    m_wakeUp.wakeOne();
}

void CCopyFileThread::removeFile(const QString& sFile)
{
    enqueue(RemoveFiles, {sFile});
}

void CCopyFileThread::removeDirectory(const QString& sDir)
{
    enqueue(RemoveDirectories, {sDir});
}

void CCopyFileThread::copyFile(const QString& src, const QString& dst)
{
    enqueue(CopyFile, {src, dst});
}

void CCopyFileThread::copyDirectory(const QString& src, const QString& dst,
                                    const QStringList& ignoreList)
{
    enqueue(CopyDirectory, QStringList{src, dst} + ignoreList);
}

void CCopyFileThread::copyFlatPackage(const QString& src, const QString& dst,
                                      const QString& properties, const QStringList& ignoreList,
                                      const QString& jsProperties, const QString& saveAsXmlFile)
{
    Q_UNUSED(ignoreList);
    enqueue(CopyFlatPackage, {src, dst, properties, jsProperties, saveAsXmlFile});
}

void CCopyFileThread::searchPath(const QString& path, const QStringList& filters)
{
    enqueue(SearchPath, QStringList{path} + filters);
}

void CCopyFileThread::saveCache(const QStringList& sFiles)
{
    enqueue(SaveCache, sFiles);
}

void CCopyFileThread::loadCache()
{
    enqueue(LoadCache, QStringList());
}

void CCopyFileThread::stop()
{
    qDebug() << "CCopyFileThread::stop()";
    QMutexLocker locker(&m_lock);
    m_bRunning = false;
    m_bStopRequested = true;
    m_wakeUp.wakeOne();
}

void CCopyFileThread::cancel()
{
    qDebug() << "CCopyFileThread::cancel()";
    QMutexLocker locker(&m_lock);
    m_lQueue.clear();
    m_bCanceled = true;
    m_wakeUp.wakeOne();
}

void CCopyFileThread::resume()
{
    qDebug() << "CCopyFileThread::resume()";
    QMutexLocker locker(&m_lock);
    m_bCanceled = false;
    m_wakeUp.wakeOne();
}

bool CCopyFileThread::canceled()
{
    QMutexLocker locker(&m_lock);
    return m_bCanceled || !m_bRunning;
}

void CCopyFileThread::run()
{
    qDebug() << "CCopyFileThread::run()";
    {
        QMutexLocker locker(&m_lock);
        // A stop() that came before the thread started is honoured.
        m_bRunning = !m_bStopRequested;
        m_bCanceled = false;
    }
    for (;;)
    {
        qDebug() << "CCopyFileThread::run() - while(1)";
        m_lock.lock();
        if (!m_bRunning)
        {
            m_lock.unlock();
            break;
        }
        if (m_lQueue.isEmpty())
        {
            qDebug() << "CCopyFileThread::run() - wait";
            m_wakeUp.wait(&m_lock);
        }
        if (m_lQueue.isEmpty() || !m_bRunning)
        {
            qDebug() << "CCopyFileThread::run() - nothing to do";
            m_lock.unlock();
        }
        else
        {
            const QPair<FileOperation, QStringList> operation = m_lQueue.takeFirst();
            // cancel() empties the queue, so whatever is queued now came after it.
            m_bCanceled = false;
            m_lock.unlock();
            qDebug() << "CCopyFileThread::run() - working";
            perform(operation.first, operation.second);
        }
        if (canceled())
            resume();
    }
    qDebug() << "CCopyFileThread::run() - shutting down";
    qDebug() << "CCopyFileThread::run() - finished";
}

void CCopyFileThread::perform(FileOperation oper, const QStringList& args)
{
    switch (oper)
    {
    case CopyFile:
        if (args.size() >= 2)
            internalCopyFile(QFileInfo(args.at(0)), QFileInfo(args.at(1)));
        break;
    case CopyDirectory:
        if (args.size() >= 2)
        {
            const QFileInfo src(args.at(0));
            const QFileInfo dst(args.at(1));
            qDebug() << "CopyDirectory" << src.absoluteFilePath() << "exists:" << src.exists()
                     << "isDir:" << src.isDir();
            if (src.exists() && src.isDir())
            {
                emit copyDirectoryStarted(src, dst);
                // A destination inside the source would be copied into itself without end.
                const bool intoItself =
                    dst.absoluteFilePath().startsWith(src.absoluteFilePath() + QLatin1Char('/')) &&
                    !ignorePath(dst, args.mid(2));
                if (intoItself)
                    qDebug() << "CopyDirectory refuses to copy" << src.absoluteFilePath()
                             << "into itself";
                // The destination is made first: otherwise whether the top-level files
                // could be copied would depend on the order of the listing.
                if (intoItself || !QDir().mkpath(dst.absoluteFilePath()) ||
                    !internalCopyDirectory(QDir(src.absoluteFilePath()),
                                           QDir(dst.absoluteFilePath()), args.mid(2)))
                    emit copyDirectoryError(src, dst);
                else if (!canceled())
                    emit copyDirectoryFinished(src, dst);
            }
        }
        break;
    case RemoveFiles:
        for (const QString& path : args)
        {
            if (canceled())
                break;
            const QFileInfo file(path);
            if (!file.exists() || !file.isFile())
                continue;
            emit removeFileStarted(file);
            if (QFile::remove(path))
                emit removeFileFinished(file);
            else
                emit removeFileError(file);
        }
        break;
    case RemoveDirectories:
        for (const QString& path : args)
        {
            if (canceled())
                break;
            const QFileInfo dir(path);
            if (!dir.exists() || !dir.isDir())
                continue;
            emit removeDirectoryStarted(dir);
            if (internalRemoveDirectory(QDir(dir.absoluteFilePath())))
                emit removeDirectoryFinished(dir);
            else
                emit removeDirectoryError(dir);
        }
        break;
    case SearchPath:
        if (!args.isEmpty())
        {
            const QFileInfo folder(args.at(0));
            emit searchStarted(folder);
            findInFolder(QDir(folder.absoluteFilePath()), args.mid(1));
            emit searchFinished(folder);
        }
        break;
    case SaveCache:
        syncSaveCache(args);
        break;
    case LoadCache:
        internalLoadCache();
        break;
    case CopyFlatPackage:
        if (args.size() >= 5)
        {
            const QFileInfo src(args.at(0));
            const QFileInfo dst(args.at(1));
            qDebug() << "CopyFlatPackage" << src.absoluteFilePath() << "exists:" << src.exists()
                     << "isFile:" << src.isFile() << "saveAsXmlFile:" << args.at(4);
            if (src.exists() && CMacFlatPackage::isFlatPackage(src.absoluteFilePath()))
            {
                qDebug() << "started CopyFlatPackage";
                emit copyFlatPackageStarted(src, dst);
                if (internalCopyFlatPackage(src, dst, args.at(2), QStringList(), args.at(3),
                                            args.at(4)))
                {
                    if (!canceled())
                        emit copyFlatPackageFinished(src, dst);
                }
                else
                    emit copyFlatPackageError(src, dst);
            }
        }
        break;
    }
}

bool CCopyFileThread::internalCopyFile(const QFileInfo& src, const QFileInfo& dst)
{
    if (!src.exists() || !src.isFile())
        return false;
    emit copyStarted(src, dst);
    qDebug() << "Copying" << src.absoluteFilePath() << dst.absoluteFilePath();
    QString error;
    const bool result = copyFileContents(src.absoluteFilePath(), dst.absoluteFilePath(), error);
    if (result)
        emit copyFinished(src, dst);
    else
    {
        qDebug() << "Copying" << src.absoluteFilePath() << "failed:" << error;
        emit copyError(src, dst);
    }
    return result;
}

bool CCopyFileThread::internalCopyLink(const QFileInfo& src, const QFileInfo& dst)
{
    // A link inside a bundle is copied as the link itself, as cp -a does.
    emit copyStarted(src, dst);
    const QByteArray srcPath = QFile::encodeName(src.absoluteFilePath());
    const QByteArray dstPath = QFile::encodeName(dst.absoluteFilePath());
    std::vector<char> target(4096);
    ssize_t length = -1;
    for (;;)
    {
        length = ::readlink(srcPath.constData(), target.data(), target.size());
        if (length < 0 || size_t(length) < target.size())
            break;
        target.resize(target.size() * 2);
    }
    bool result = length >= 0;
    if (result)
    {
        target.resize(size_t(length));
        target.push_back('\0');
        result = ::symlink(target.data(), dstPath.constData()) == 0;
    }
    if (result)
        emit copyFinished(src, dst);
    else
    {
        qDebug() << "Copying link" << src.absoluteFilePath() << "failed:" << qt_error_string(errno);
        emit copyError(src, dst);
    }
    return result;
}

bool CCopyFileThread::ignorePath(const QFileInfo& file, const QStringList& ignoreList) const
{
    const QString path = file.absoluteFilePath();
    for (const QString& prefix : ignoreList)
        if (path.startsWith(prefix, Qt::CaseSensitive))
            return true;
    return false;
}

bool CCopyFileThread::internalCopyDirectory(const QDir& src, const QDir& dst,
                                            const QStringList& ignoreList)
{
    if (canceled())
        return true;
    QFileInfoList entries;
    QString error;
    if (!listDirectory(src, entries, &error))
    {
        // Copying it as empty would ship a bundle with missing files as a success.
        qDebug() << "cannot list" << src.absolutePath() << ":" << error;
        emit copyError(QFileInfo(src.absolutePath()), QFileInfo(dst.absolutePath()));
        return false;
    }
    bool result = true;
    for (int i = 0; result && i < entries.size(); ++i)
    {
        const QFileInfo& entry = entries.at(i);
        const QFileInfo target(dst.absoluteFilePath(entry.fileName()));
        if (ignorePath(entry, ignoreList))
        {
            qDebug() << "ignore" << src.absolutePath() << entry.fileName();
            emit copyIgnored(entry, target);
        }
        else if (entry.isSymLink())
            result = internalCopyLink(entry, target);
        else if (entry.isDir())
        {
            result = QDir().mkpath(target.absoluteFilePath());
            if (result)
                result = internalCopyDirectory(QDir(entry.absoluteFilePath()),
                                               QDir(target.absoluteFilePath()), ignoreList);
            else
            {
                qDebug() << "cannot create" << target.absoluteFilePath();
                emit copyError(entry, target);
            }
        }
        else if (!entry.isFile())
        {
            // A FIFO, a device or an entry that cannot even be examined (its path
            // too long, for one) is no file to ship.
            qDebug() << "cannot copy" << entry.absoluteFilePath() << ": not a regular file";
            emit copyError(entry, target);
            result = false;
        }
        else
            result = internalCopyFile(entry, target);
    }
    return result;
}

int CCopyFileThread::getFileCount(const QFileInfo& dir, const QStringList& ignoreList)
{
    if (canceled())
        return 0;
    int count = 0;
    const QFileInfoList entries = QDir(dir.absoluteFilePath()).entryInfoList(kAllEntries);
    for (const QFileInfo& entry : entries)
    {
        if (ignorePath(entry, ignoreList))
            continue;
        if (isRealDirectory(entry))
            count += getFileCount(entry, ignoreList);
        else
            ++count;
    }
    return count;
}

bool CCopyFileThread::internalRemoveDirectory(const QDir& dir)
{
    if (canceled())
        return true;
    const QFileInfoList entries =
        dir.entryInfoList({QStringLiteral("*")}, kAllEntries, QDir::NoSort);
    for (const QFileInfo& entry : entries)
    {
        // Links are removed themselves; following one would empty its target.
        if (!isRealDirectory(entry))
        {
            qDebug() << "remove" << entry.absoluteFilePath();
            if (!QFile::remove(entry.absoluteFilePath()))
            {
                qDebug() << "remove failed" << entry.absoluteFilePath();
                emit removeFileError(entry);
                return false;
            }
        }
        else if (!internalRemoveDirectory(QDir(entry.absoluteFilePath())))
            return false;
    }
    qDebug() << "rmdir" << dir.absolutePath();
    const bool result = QDir().rmdir(dir.absolutePath());
    if (!result)
    {
        qDebug() << "rmdir failed" << dir.absolutePath();
        emit removeDirectoryError(QFileInfo(dir.absolutePath()));
    }
    return result;
}

void CCopyFileThread::findInFolder(const QDir& folder, const QStringList& filters)
{
    if (canceled())
        return;
    emit searchingFolder(QFileInfo(folder.absolutePath()));
    qDebug() << "Searching:" << folder.absolutePath();
    const QFileInfoList matches = folder.entryInfoList(filters, kAllEntries, QDir::NoSort);
    for (const QFileInfo& match : matches)
    {
        qDebug() << "Found:" << match.absoluteFilePath();
        if (CPackage* package = loadPackage(match))
            emit searchResult(package);
    }
    // Links to directories are not followed: a link to an ancestor would never end.
    const QFileInfoList subdirectories = folder.entryInfoList(
        QDir::Dirs | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::NoSort);
    for (const QFileInfo& subdirectory : subdirectories)
        if (!subdirectory.isSymLink())
            findInFolder(QDir(subdirectory.absoluteFilePath()), filters);
}

void CCopyFileThread::syncSaveCache(const QStringList& sFiles)
{
    qDebug() << "CCopyFileThread::syncSaveCache() begin";
    boost::shared_ptr<Preference::PreferenceBase> store =
        Preference::Get(Preference::ScopeApplication);
    if (!store)
    {
        qDebug() << "CCopyFileThread::syncSaveCache(): no preference store";
        return;
    }
    const std::wstring key(CacheKey);
    int next = 0;
    if (!canceled())
    {
        while (next < sFiles.size() && next < CacheSize)
        {
            store->Write(key, std::to_wstring(next), sFiles.at(next).toStdWString());
            ++next;
            if (canceled())
                break;
        }
    }
    for (int i = next; i < CacheSize; ++i)
        store->DeleteValue(key, std::to_wstring(i));
    store->Commit();
    qDebug() << "CCopyFileThread::syncSaveCache() end";
}

void CCopyFileThread::internalLoadCache()
{
    const QFileInfo keyInfo(QString::fromWCharArray(CacheKey));
    emit searchStarted(keyInfo);
    boost::shared_ptr<Preference::PreferenceBase> store =
        Preference::Get(Preference::ScopeApplication);
    if (store)
    {
        store->Reload();
        const std::wstring key(CacheKey);
        for (int i = 0; i < CacheSize && !canceled(); ++i)
        {
            std::wstring value;
            if (!store->Read(key, std::to_wstring(i), value, std::wstring()) || value.empty())
                continue;
            if (CPackage* package = loadPackage(QFileInfo(QString::fromStdWString(value))))
                emit searchResult(package);
        }
    }
    else
        qDebug() << "CCopyFileThread::internalLoadCache(): no preference store";
    emit searchFinished(keyInfo);
}

void CCopyFileThread::setSigning(const CMacFlatPackage::Signing& signing)
{
    const QMutexLocker locker(&m_lock);
    m_signing = signing;
}

bool CCopyFileThread::internalCopyFlatPackage(const QFileInfo& src, const QFileInfo& dst,
                                              const QString& properties,
                                              const QStringList& ignoreList,
                                              const QString& jsProperties,
                                              const QString& saveAsXmlFile)
{
    Q_UNUSED(ignoreList);
    if (canceled())
        return true;
    const CMacFlatPackage::CancelTest cancelTest = [this]() { return canceled(); };
    QDir expanded;
    if (!CMacFlatPackage::expand(src.absoluteFilePath(), expanded, cancelTest))
        return false;

    if (!saveAsXmlFile.isEmpty())
    {
        const QString target =
            expanded.absoluteFilePath(QStringLiteral("Scripts/AdminConfigModified.xml"));
        qDebug() << "trying to rename" << saveAsXmlFile << "to" << target;
        if (QFileInfo(target).exists() || QFileInfo(target).isSymLink())
            QFile::remove(target);
        const bool renamed = QFile::rename(saveAsXmlFile, target);
        qDebug() << "rename result:" << (renamed ? "true" : "false");
        // Written for this user alone while it waited in the temporary folder; inside
        // the package it is read by the installer like the package's other files.
        if (renamed)
            ::chmod(QFile::encodeName(target).constData(), 0644);
    }
    if (canceled())
    {
        CMacFlatPackage::cleanTempDir(expanded);
        return false;
    }

    const QString propertiesPath = expanded.absoluteFilePath(QStringLiteral("Scripts/properties"));
    QString propertiesError;
    if (!CExecutableFile::write(propertiesPath, properties.toUtf8(), &propertiesError))
    {
        qDebug() << "cannot write" << propertiesPath << propertiesError;
        emit copyError(QFileInfo(propertiesPath), QFileInfo(propertiesPath));
        CMacFlatPackage::cleanTempDir(expanded);
        return false;
    }

    const QString distributionPath = expanded.absoluteFilePath(QStringLiteral("Distribution"));
    QFile distribution(distributionPath);
    QByteArray distributionBytes;
    QString distributionError;
    // Read and written as bytes: line ends stay as the package has them. A
    // Distribution that is present but cannot be read within bounds fails the copy
    // rather than publishing a package without its properties.
    if (QFileInfo(distributionPath).exists() || QFileInfo(distributionPath).isSymLink())
    {
        if (!CBoundedFile::read(distributionPath, CBoundedFile::kMaxDocumentBytes,
                                distributionBytes, &distributionError))
        {
            qDebug().noquote() << "cannot read" << distributionError;
            CMacFlatPackage::cleanTempDir(expanded);
            return false;
        }
        QString text = QString::fromUtf8(distributionBytes);
        const QString scriptEnd = QStringLiteral("</script>");
        const QString blockStart = QStringLiteral("var ts_properties = new Array();");
        const int end = text.indexOf(scriptEnd);
        if (end > 0)
        {
            const int start = text.indexOf(blockStart);
            // A block published before is replaced, up to the end of its script.
            if (start > 0 && start < end)
                text.replace(start, end - start, jsProperties);
            else
                text.insert(end, jsProperties);
            if (distribution.open(QIODevice::ReadWrite | QIODevice::Truncate))
            {
                distribution.write(text.toUtf8());
                distribution.close();
            }
        }
    }

    // The package is made in a directory of its own beside the destination and moved
    // over it once complete: a failed or canceled run leaves neither a partial
    // package nor a lost earlier one, and the move costs no copy.
    QByteArray staging =
        QFile::encodeName(CLeftovers::prefix(dst.absolutePath(), QStringLiteral(".Tessary")) +
                          QStringLiteral("XXXXXX"));
    if (!::mkdtemp(staging.data()))
    {
        qDebug() << "cannot create a directory beside" << dst.absoluteFilePath() << ":"
                 << qt_error_string(errno);
        CMacFlatPackage::cleanTempDir(expanded);
        return false;
    }
    const QString stagingDir = QFile::decodeName(staging);
    const QString staged = stagingDir + QLatin1Char('/') + dst.fileName();
    CMacFlatPackage::Signing signing;
    {
        const QMutexLocker locker(&m_lock);
        signing = m_signing;
    }
    QString problem;
    bool result = CMacFlatPackage::flatten(expanded, staged, cancelTest, signing, &problem);
    if (!result && !problem.isEmpty() && !canceled())
        emit copyFlatPackageProblem(problem);
    CMacFlatPackage::cleanTempDir(expanded);
    if (result && canceled())
        result = false;
    if (result && ::rename(QFile::encodeName(staged).constData(),
                           QFile::encodeName(dst.absoluteFilePath()).constData()) != 0)
    {
        qDebug() << "cannot move the package to" << dst.absoluteFilePath() << ":"
                 << qt_error_string(errno);
        result = false;
    }
    recursiveRemove(stagingDir);
    return result;
}

#pragma once

#include <QDir>
#include <QFileInfo>
#include <QList>
#include <QMetaType>
#include <QMutex>
#include <QPair>
#include <QStringList>
#include <QThread>
#include <QWaitCondition>

#include "MacFlatPackage.h"
#include "Package.h"

// The application's background worker for long file work. Operations are queued
// by the slots and run one at a time, oldest first; progress and results are
// reported by signals, never by messages.
class CCopyFileThread : public QThread
{
    Q_OBJECT

public:
    enum FileOperation
    {
        CopyFile = 0,          // source, destination
        CopyDirectory = 1,     // source, destination, ignore prefixes...
        RemoveFiles = 2,       // paths...
        RemoveDirectories = 3, // paths...
        SearchPath = 4,        // folder, name filters...
        SaveCache = 5,         // recent files, most recent first
        LoadCache = 6,         // nothing
        CopyFlatPackage = 7    // source, destination, shell text, JavaScript text, customization
    };
    Q_ENUM(FileOperation)

    // Where the recent-files list lives in the preference store of scope 4.
    static const wchar_t* const CacheKey;
    // At most this many recent files are stored.
    static const int CacheSize = 100;

    explicit CCopyFileThread(QObject* parent = nullptr);
    // Stops the worker and waits for it.
    ~CCopyFileThread() override;

    // Makes a package object for a file by its suffix; null for an unknown suffix.
    // The caller owns the result, valid or not.
    static CPackage* loadPackage(const QFileInfo& file);

    // The number of files that a directory copy with this ignore list would copy.
    int getFileCount(const QFileInfo& dir, const QStringList& ignoreList);
    // The entry's absolute path starts with one of the prefixes (case-sensitive).
    bool ignorePath(const QFileInfo& file, const QStringList& ignoreList) const;

    // Writes a customized copy of a flat package; runs inside a CopyFlatPackage operation.
    bool internalCopyFlatPackage(const QFileInfo& src, const QFileInfo& dst,
                                 const QString& properties, const QStringList& ignoreList,
                                 const QString& jsProperties, const QString& saveAsXmlFile);

    // True when the current operation must stop: canceled or shutting down.
    bool canceled();

    // The identity that signs the flat packages copied from now on; an empty
    // identity file leaves them unsigned.
    void setSigning(const CMacFlatPackage::Signing& signing);

public slots:
    void enqueue(CCopyFileThread::FileOperation oper, const QStringList& args);
    void removeFile(const QString& sFile);
    void removeDirectory(const QString& sDir);
    void copyFile(const QString& src, const QString& dst);
    void copyDirectory(const QString& src, const QString& dst, const QStringList& ignoreList);
    void copyFlatPackage(const QString& src, const QString& dst, const QString& properties,
                         const QStringList& ignoreList, const QString& jsProperties,
                         const QString& saveAsXmlFile);
    void searchPath(const QString& path, const QStringList& filters);
    // Stores the list at once, on the calling thread.
    void syncSaveCache(const QStringList& sFiles);
    void saveCache(const QStringList& sFiles);
    void loadCache();
    void stop();
    void cancel();
    void resume();

signals:
    void copyIgnored(const QFileInfo& src = QFileInfo(), const QFileInfo& dst = QFileInfo());
    void copyStarted(const QFileInfo& src = QFileInfo(), const QFileInfo& dst = QFileInfo());
    void copyFinished(const QFileInfo& src = QFileInfo(), const QFileInfo& dst = QFileInfo());
    void copyError(const QFileInfo& src = QFileInfo(), const QFileInfo& dst = QFileInfo());
    void copyDirectoryStarted(const QFileInfo& src = QFileInfo(),
                              const QFileInfo& dst = QFileInfo());
    void copyDirectoryFinished(const QFileInfo& src = QFileInfo(),
                               const QFileInfo& dst = QFileInfo());
    void copyDirectoryError(const QFileInfo& src = QFileInfo(), const QFileInfo& dst = QFileInfo());
    void copyFlatPackageStarted(const QFileInfo& src = QFileInfo(),
                                const QFileInfo& dst = QFileInfo());
    void copyFlatPackageFinished(const QFileInfo& src = QFileInfo(),
                                 const QFileInfo& dst = QFileInfo());
    void copyFlatPackageError(const QFileInfo& src = QFileInfo(),
                              const QFileInfo& dst = QFileInfo());
    void removeFileStarted(const QFileInfo& sFile = QFileInfo());
    void removeFileFinished(const QFileInfo& sFile = QFileInfo());
    void removeFileError(const QFileInfo& sFile = QFileInfo());
    void removeDirectoryStarted(const QFileInfo& sDir = QFileInfo());
    void removeDirectoryFinished(const QFileInfo& sDir = QFileInfo());
    void removeDirectoryError(const QFileInfo& sDir = QFileInfo());
    void searchStarted(const QFileInfo& sDir = QFileInfo());
    void searchingFolder(const QFileInfo& sDir = QFileInfo());
    void searchResult(CPackage* sPackage = nullptr);
    void searchFinished(const QFileInfo& sDir = QFileInfo());
    // Why the flat package copy that fails next failed, when a tool said so.
    void copyFlatPackageProblem(const QString& reason);

protected:
    void run() override;

private:
    void perform(FileOperation oper, const QStringList& args);
    bool internalCopyFile(const QFileInfo& src, const QFileInfo& dst);
    bool internalCopyLink(const QFileInfo& src, const QFileInfo& dst);
    bool internalCopyDirectory(const QDir& src, const QDir& dst, const QStringList& ignoreList);
    bool internalRemoveDirectory(const QDir& dir);
    void findInFolder(const QDir& folder, const QStringList& filters);
    void internalLoadCache();

    bool m_bRunning;
    bool m_bCanceled;
    bool m_bStopRequested;
    QList<QPair<FileOperation, QStringList>> m_lQueue;
    QWaitCondition m_wakeUp;
    QMutex m_lock;
    CMacFlatPackage::Signing m_signing;
};

Q_DECLARE_METATYPE(CPackage*)

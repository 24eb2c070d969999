#include "Publisher.h"

#include "app/packages/CopyFileThread.h"
#include "app/packages/DmgPackage.h"
#include "app/packages/ExecutableFile.h"
#include "app/packages/Leftovers.h"
#include "app/packages/MacFlatPackage.h"
#include "app/packages/OutputFile.h"
#include "app/packages/Package.h"
#include "app/packages/PackagerThread.h"
#include "app/packages/RecordedTimes.h"
#include "app/packages/TempDirectory.h"

#include <QCoreApplication>
#include <QDebug>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryFile>
#include <QTimer>
#include <cerrno>
#include <cstdio>
#include <stdlib.h>
#include <sys/stat.h>

namespace
{
QString native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

QString unableToDelete(const QString& path)
{
    return QCoreApplication::translate(
               "CAdminPage",
               "Tessary is unable to delete \"%1\".  Close the file if it's open, verify that the "
               "disk isn't full, remove write-protection on the file, and then try again.")
        .arg(native(path));
}

QString unableToWrite(const QString& path)
{
    return QCoreApplication::translate(
               "CAdminPage",
               "Tessary is unable to write to \"%1\".  Close the file if it's open, verify that "
               "the disk isn't full, remove write-protection on the file, and then try again.")
        .arg(native(path));
}

QString cannotWrite(const QString& path)
{
    return QCoreApplication::translate(
               "CAdminPage",
               "Cannot write to file \"%1\".  Close the file if it's open, verify that the disk "
               "isn't full, remove write-protection on the file, and then try again.")
        .arg(native(path));
}

bool samePath(const QString& first, const QString& second)
{
    const QFileInfo a(first);
    const QFileInfo b(second);
    if (a.absoluteFilePath() == b.absoluteFilePath())
        return true;
    return a.exists() && b.exists() && a.canonicalFilePath() == b.canonicalFilePath();
}

QString isTheInstaller(const QString& path)
{
    return QCoreApplication::translate("CPublisher",
                                       "The output \"%1\" is the installer being published; "
                                       "choose another path for the customized copy.")
        .arg(native(path));
}

QString alreadyExists(const QString& path)
{
    return QCoreApplication::translate("CPublisher",
                                       "\"%1\" already exists. Use --force to replace it.")
        .arg(native(path));
}
} // namespace

CPublisher::CPublisher(CCopyFileThread& worker, CPackagerThread& packager, QObject* parent)
    : QObject(parent), m_worker(worker), m_packager(packager)
{
    // Reports are delivered on this object's thread; those that arrive while no
    // publish runs (after a cancel, or of other work) belong to none.
    connect(&m_worker, &CCopyFileThread::copyFinished, this, &CPublisher::onCopyFinished,
            Qt::QueuedConnection);
    connect(&m_worker, &CCopyFileThread::copyDirectoryFinished, this, &CPublisher::onCopyDone,
            Qt::QueuedConnection);
    connect(&m_worker, &CCopyFileThread::copyFlatPackageFinished, this, &CPublisher::onCopyDone,
            Qt::QueuedConnection);
    for (auto error : {&CCopyFileThread::copyError, &CCopyFileThread::copyDirectoryError,
                       &CCopyFileThread::copyFlatPackageError})
        connect(&m_worker, error, this, &CPublisher::onCopyError, Qt::QueuedConnection);
    for (auto error : {&CCopyFileThread::removeDirectoryError, &CCopyFileThread::removeFileError})
        connect(&m_worker, error, this, &CPublisher::onRemoveError, Qt::QueuedConnection);
    // The tools' own reason (a signing identity that failed, say) goes with the message.
    connect(
        &m_worker, &CCopyFileThread::copyFlatPackageProblem, this,
        [this](const QString& reason)
        {
            if (m_bRunning)
                m_sProblem = reason;
        },
        Qt::QueuedConnection);

    connect(&m_packager, &CPackagerThread::openFileError, this, &CPublisher::onPackagerOpenError,
            Qt::QueuedConnection);
    connect(&m_packager, &CPackagerThread::fileReadError, this, &CPublisher::onPackagerReadError,
            Qt::QueuedConnection);
    connect(&m_packager, &CPackagerThread::fileWriteError, this, &CPublisher::onPackagerWriteError,
            Qt::QueuedConnection);
    connect(&m_packager, &CPackagerThread::progress, this, &CPublisher::onPackagerProgress,
            Qt::QueuedConnection);
    connect(
        &m_packager, &QThread::finished, this,
        [this]
        {
            if (m_bRunning && m_bScript)
                packagerDone();
        },
        Qt::QueuedConnection);
}

void CPublisher::onCopyFinished()
{
    if (m_bRunning && !m_bScript)
        emit progress(++m_iCopied, m_bFlat ? 0 : m_iTotal);
}

void CPublisher::onCopyDone(const QFileInfo& /*src*/, const QFileInfo& dst)
{
    if (m_bRunning && !m_bScript)
        copyDone(dst);
}

void CPublisher::onCopyError(const QFileInfo& /*src*/, const QFileInfo& dst)
{
    if (m_bRunning && !m_bScript)
        fail(unableToWrite(shown(dst.absoluteFilePath())));
}

void CPublisher::onRemoveError(const QFileInfo& file)
{
    if (m_bRunning && !m_bScript)
        fail(unableToDelete(shown(file.absoluteFilePath())));
}

void CPublisher::onPackagerProgress(qint64 current, qint64 total)
{
    if (!m_bRunning || !m_bScript || m_bScriptFailed)
        return;
    // Noted before the report goes out: the window shows it in a modal progress
    // dialog, whose event loop may deliver the packager's end before emit returns.
    // The end is told once the copy has been moved into place.
    if (current == total)
        m_bScriptComplete = true;
    emit progress(current, total);
}

void CPublisher::onPackagerOpenError(const QString& path)
{
    packagerFailed(QCoreApplication::translate(
                       "CAdminPage",
                       "Tessary is unable to open \"%1\".  Verify that the file exists and that "
                       "is has read permissions, and then try again."),
                   path);
}

void CPublisher::onPackagerReadError(const QString& path)
{
    packagerFailed(QCoreApplication::translate(
                       "CAdminPage",
                       "Tessary is unable to read \"%1\". Verify that the file exists and that "
                       "it has read permissions, and then try again."),
                   path);
}

void CPublisher::onPackagerWriteError(const QString& path)
{
    packagerFailed(cannotWrite(QStringLiteral("%1")), path);
}

void CPublisher::packagerFailed(const QString& text, const QString& path)
{
    // The first failure ends the copy; later reports add nothing.
    if (!m_bRunning || !m_bScript || m_bScriptFailed)
        return;
    m_bScriptFailed = true;
    m_sFailure =
        QString(text).replace(QLatin1String("%1"), native(path == m_sStaged ? m_sOutput : path));
    m_packager.stop();
}

CPublisher::~CPublisher()
{
    if (m_bRunning)
    {
        cancel();
        if (m_packager.isRunning())
            m_packager.wait();
    }
}

CPropertyText::Properties
CPublisher::publishedProperties(const QList<CCustomizationFile::CEntry>& setEntries)
{
    CPropertyText::Properties properties;
    for (const CCustomizationFile::CEntry& entry : setEntries)
    {
        if (CPropertyText::isPublished(entry.m_sProperty))
            properties.append(qMakePair(entry.m_sProperty, entry.m_sValue));
    }
    return properties;
}

QStringList CPublisher::ignoreList(bool flat, const QString& input,
                                   const QList<CCustomizationFile::CEntry>& setEntries)
{
    const QDir bundle(input);
    QStringList ignore;
    ignore << (flat
                   ? QStringLiteral("Scripts/AdminConfig.xml")
                   : bundle.absoluteFilePath(QStringLiteral("Contents/Resources/AdminConfig.xml")));
    for (const CCustomizationFile::CEntry& entry : setEntries)
    {
        // The value names a file inside the package.
        if (entry.m_sProperty.startsWith(QLatin1String("$PKG_")))
            ignore << (flat ? entry.m_sValue : bundle.absoluteFilePath(entry.m_sValue));
    }
    return ignore;
}

CPublisher::BundleResult CPublisher::writeBundleFiles(const QDir& bundle, const QString& properties,
                                                      QString* failedPath)
{
    const QString resources = bundle.absoluteFilePath(QStringLiteral("Contents/Resources"));
    if (!QDir().mkpath(resources) || !QFileInfo(resources).isDir())
    {
        if (failedPath)
            *failedPath = resources;
        return BundleDirectoryFailed;
    }
    const QByteArray script(
        "#!/bin/bash\n"
        "cp \"$1/Contents/Resources/properties\" \"$INSTALLER_TEMP/properties\"");
    const QList<QPair<QString, QByteArray>> files{
        {QDir(resources).absoluteFilePath(QStringLiteral("preinstall")), script},
        {QDir(resources).absoluteFilePath(QStringLiteral("properties")), properties.toUtf8()}};
    for (const auto& file : files)
    {
        QString error;
        if (!CExecutableFile::write(file.first, file.second, &error))
        {
            qDebug().noquote() << "CPublisher::writeBundleFiles:" << error;
            if (failedPath)
                *failedPath = file.first;
            return BundleFileFailed;
        }
    }
    return BundleWritten;
}

QString CPublisher::bundleFailure(BundleResult result, const QString& path)
{
    if (result == BundleDirectoryFailed)
        return QCoreApplication::translate(
                   "CAdminPage",
                   "Tessary is unable to create the directory \"%1\".  Verify that the disk "
                   "isn't full, remove write-protection at this location, and then try again.")
            .arg(native(path));
    return QCoreApplication::translate(
               "CAdminPage",
               "Tessary is unable to write to \"%1\".  Verify that the disk isn't full, remove "
               "write-protection on this file, and then try again.")
        .arg(native(path));
}

QString CPublisher::outputPath(const QString& output, const QFileInfo& input)
{
    const QString suffix = input.suffix().toLower();
    if (suffix == QLatin1String("package"))
        return QFileInfo(output).suffix() == QLatin1String("package")
                   ? output
                   : output + QStringLiteral(".package");
    const QString extension =
        suffix == QLatin1String("pkg") ? QStringLiteral(".pkg") : QStringLiteral(".mpkg");
    return output.endsWith(extension) ? output : output + extension;
}

bool CPublisher::start(const CRequest& request, QString& message)
{
    qDebug().noquote() << "CPublisher::start(" + request.m_sOutput + ") begin";
    m_bRefused = false;
    m_bCanceled = false;
    if (m_bRunning)
    {
        message = tr("A publish is already running.");
        return false;
    }
    m_request = request;
    m_sProblem.clear();
    m_sFailure.clear();
    m_iCopied = 0;
    m_iTotal = 0;
    m_bScript = false;
    m_bFlat = false;
    const QString suffix = request.m_source.suffix().toLower();
    bool started = false;
    if (suffix == QLatin1String("pkg") || suffix == QLatin1String("mpkg") ||
        suffix == QLatin1String("dmg"))
        started = startMac(message);
    else if (suffix == QLatin1String("package"))
        started = startScript(message);
    else
    {
        m_bRefused = true;
        message = tr("\"%1\" is no installer that can be published (only .pkg, .mpkg, .dmg and "
                     ".package are).")
                      .arg(native(request.m_source.filePath()));
    }
    qDebug().noquote() << "CPublisher::start(" + request.m_sOutput + ") end";
    return started;
}

bool CPublisher::startMac(QString& message)
{
    const QFileInfo& source = m_request.m_source;
    QFileInfo input = source;
    CDmgPackage* const image = dynamic_cast<CDmgPackage*>(m_request.m_pPackage);
    const bool fromImage = source.suffix().compare(QLatin1String("dmg"), Qt::CaseInsensitive) == 0;
    if (fromImage)
    {
        if (!image || !image->mount() || !image->subPackage())
        {
            if (image)
                image->unmount();
            message = QCoreApplication::translate(
                          "CAdminPage",
                          "Tessary is unable to extract files from \"%1\".  Verify that the disk "
                          "isn't full, that the file exists, and that it has read permissions, "
                          "and then try again.")
                          .arg(native(source.absoluteFilePath()));
            return false;
        }
        input = image->subPackage()->file();
        m_pImage = image;
    }
    // The image is let go whenever the publish does not start.
    auto giveUp = [this]
    {
        if (m_pImage)
            m_pImage->unmount();
        m_pImage = nullptr;
        return false;
    };

    m_sOutput = QFileInfo(outputPath(m_request.m_sOutput, input)).absoluteFilePath();
    if (samePath(m_sOutput, input.absoluteFilePath()) ||
        samePath(m_sOutput, source.absoluteFilePath()))
    {
        m_bRefused = true;
        message = isTheInstaller(m_sOutput);
        return giveUp();
    }
    if (COutputFile::present(m_sOutput) && !m_request.m_bOverwrite)
    {
        m_bRefused = true;
        message = alreadyExists(m_sOutput);
        return giveUp();
    }
    m_bFlat = CMacFlatPackage::isFlatPackage(input.absoluteFilePath());
    // Only a flat package carries a signature of its own.
    if (!m_bFlat && !m_request.m_signing.identityFile.isEmpty())
    {
        m_bRefused = true;
        message = tr("Only flat packages can be signed; \"%1\" is a bundle package.")
                      .arg(native(input.absoluteFilePath()));
        return giveUp();
    }
    if (m_request.m_bDryRun)
        return !giveUp();
    CLeftovers::removeAbandoned(QFileInfo(m_sOutput).absolutePath());
    // Every kind is built in a folder of its own beside the output and moved over it
    // once complete: a failed or canceled copy leaves the previous output as it was,
    // and whatever stands at the output path is replaced, never written through.
    QString reason;
    m_sStaging = COutputFile::stagingBeside(m_sOutput, &reason);
    if (m_sStaging.isEmpty())
    {
        qDebug().noquote() << "CPublisher::startMac(): cannot create a folder beside" << m_sOutput
                           << reason;
        message = unableToWrite(m_sOutput);
        return giveUp();
    }
    m_sStaged = m_sStaging + QLatin1Char('/') + QFileInfo(m_sOutput).fileName();
    const QStringList ignore =
        ignoreList(m_bFlat, input.absoluteFilePath(), m_request.m_lSetEntries);
    const CPropertyText::Properties published = publishedProperties(m_request.m_lSetEntries);
    m_bRunning = true;
    if (m_bFlat)
    {
        m_worker.setSigning(m_request.m_signing);
        emit progress(0, 0);
        QString valuesFile;
        // Every value, secrets included: for this user's eyes only, and named so that
        // the next run removes it should this one be killed.
        m_pValues.reset(new QTemporaryFile(
            CLeftovers::prefix(QDir::tempPath(), QStringLiteral("Tessary-values")) +
            QStringLiteral("XXXXXX.xml")));
        if (m_pValues->open())
        {
            m_pValues->close();
            // The package is open already: its product and version are read once.
            if (CCustomizationFile::write(m_pValues->fileName(), source, QFileInfo(m_sOutput),
                                          m_request.m_lEntries, m_request.m_pPackage, true))
                valuesFile = m_pValues->fileName();
        }
        m_worker.copyFlatPackage(input.absoluteFilePath(), m_sStaged,
                                 CPropertyText::shellText(published), ignore,
                                 CPropertyText::javaScriptText(published), valuesFile);
    }
    else
    {
        m_iTotal = m_worker.getFileCount(input, ignore);
        emit progress(0, m_iTotal);
        m_worker.copyDirectory(input.absoluteFilePath(), m_sStaged, ignore);
    }
    return true;
}

bool CPublisher::startScript(QString& message)
{
    const QFileInfo& source = m_request.m_source;
    m_bScript = true;
    // A script installer has no place for a signature: an identity asked for would be
    // silently left out.
    if (!m_request.m_signing.identityFile.isEmpty())
    {
        m_bRefused = true;
        message = tr("Only flat packages can be signed; \"%1\" is a script installer.")
                      .arg(native(source.absoluteFilePath()));
        return false;
    }
    m_sOutput = QFileInfo(outputPath(m_request.m_sOutput, source)).absoluteFilePath();
    if (samePath(m_sOutput, source.absoluteFilePath()))
    {
        m_bRefused = true;
        message = isTheInstaller(m_sOutput);
        return false;
    }
    if (COutputFile::present(m_sOutput) && !m_request.m_bOverwrite)
    {
        m_bRefused = true;
        message = alreadyExists(m_sOutput);
        return false;
    }
    if (m_request.m_bDryRun)
        return true;
    CLeftovers::removeAbandoned(QFileInfo(m_sOutput).absolutePath());
    // The copy is written beside the output and moved over it once complete, so a
    // failed or canceled copy leaves neither a partial installer nor a lost old one.
    QString reason;
    m_sStaging = COutputFile::stagingBeside(m_sOutput, &reason);
    if (m_sStaging.isEmpty())
    {
        qDebug().noquote() << "CPublisher::startScript(): cannot create a folder beside"
                           << m_sOutput << reason;
        message = cannotWrite(m_sOutput);
        return false;
    }
    m_sStaged = m_sStaging + QLatin1Char('/') + QFileInfo(m_sOutput).fileName();
    m_bScriptFailed = false;
    m_bScriptComplete = false;
    m_bRunning = true;

    m_packager.clearProperties();
    for (const QPair<QString, QString>& property : publishedProperties(m_request.m_lSetEntries))
        m_packager.addProperty(property.first, property.second);
    m_packager.addProperty(QStringLiteral("TS_MODIFICATION"), QStringLiteral("1"));
    m_packager.writePackage(source.absoluteFilePath(), m_sStaged);
    return true;
}

QString CPublisher::shown(const QString& path) const
{
    // Files of a bundle being built are named as they will be in the output.
    if (!m_sStaging.isEmpty() &&
        (path == m_sStaged || path.startsWith(m_sStaged + QLatin1Char('/'))))
        return m_sOutput + path.mid(m_sStaged.size());
    return path;
}

void CPublisher::copyDone(const QFileInfo& dst)
{
    if (m_pImage)
    {
        m_pImage->unmount();
        m_pImage = nullptr;
    }
    if (m_bFlat)
    {
        moveIntoPlace();
        return;
    }
    const CPropertyText::Properties published = publishedProperties(m_request.m_lSetEntries);
    QString path;
    switch (
        writeBundleFiles(QDir(dst.absoluteFilePath()), CPropertyText::shellText(published), &path))
    {
    case BundleDirectoryFailed:
        fail(QCoreApplication::translate(
                 "CAdminPage",
                 "Tessary is unable to create the directory \"%1\".  Verify that the disk isn't "
                 "full, remove write-protection at this location, and then try again.")
                 .arg(native(shown(path))));
        return;
    case BundleFileFailed:
        fail(QCoreApplication::translate(
                 "CAdminPage",
                 "Tessary is unable to write to \"%1\".  Verify that the disk isn't full, "
                 "remove write-protection on this file, and then try again.")
                 .arg(native(shown(path))));
        return;
    case BundleWritten:
        break;
    }
    moveIntoPlace();
}

void CPublisher::moveIntoPlace()
{
    // The previous output is moved into the staging folder, which goes as a whole
    // afterwards; should the new one fail to move in, the old one comes back.
    switch (COutputFile::install(m_sStaged, m_sOutput, m_request.m_bOverwrite,
                                 m_sStaging + QStringLiteral("/.previous-output")))
    {
    case COutputFile::AlreadyExists:
        // Another run claimed the name meanwhile.
        m_bRefused = true;
        fail(alreadyExists(m_sOutput));
        return;
    case COutputFile::PreviousKept:
        fail(unableToDelete(m_sOutput));
        return;
    case COutputFile::Failed:
        fail(unableToWrite(m_sOutput));
        return;
    case COutputFile::Installed:
        break;
    }
    end(true, QString());
}

void CPublisher::fail(const QString& message)
{
    if (!m_bRunning)
        return;
    m_worker.cancel();
    QString text = message;
    if (!m_sProblem.isEmpty())
        text += QStringLiteral("\n\n") + QCoreApplication::translate("CAdminPage", "Details:") +
                QStringLiteral("\n") + m_sProblem;
    end(false, text);
}

void CPublisher::cancel()
{
    if (!m_bRunning)
        return;
    qDebug() << "CPublisher::cancel()";
    m_bCanceled = true;
    if (m_bScript)
    {
        // The packager reports its end; the partial copy goes then.
        m_bScriptFailed = true;
        m_packager.stop();
        return;
    }
    m_worker.cancel();
    end(false, QString());
}

void CPublisher::packagerDone()
{
    bool published = !m_bScriptFailed && m_bScriptComplete;
    if (published)
    {
        // Installers are started directly: the copy keeps the source's permissions.
        QFile::setPermissions(m_sStaged, QFile::permissions(m_request.m_source.absoluteFilePath()));
        switch (COutputFile::install(m_sStaged, m_sOutput, m_request.m_bOverwrite,
                                     m_sStaging + QStringLiteral("/.previous-output")))
        {
        case COutputFile::Installed:
            break;
        case COutputFile::AlreadyExists:
            m_bRefused = true;
            m_sFailure = alreadyExists(m_sOutput);
            published = false;
            break;
        case COutputFile::PreviousKept:
            m_sFailure = unableToDelete(m_sOutput);
            published = false;
            break;
        case COutputFile::Failed:
            published = false;
            break;
        }
    }
    QString message;
    if (!published && !m_bCanceled)
        message = m_sFailure.isEmpty() ? cannotWrite(m_sOutput) : m_sFailure;
    end(published, message);
}

void CPublisher::end(bool published, const QString& message)
{
    m_bRunning = false;
    // Under a source date the output records no time after it, as its members do.
    if (published)
        CRecordedTimes::clampTree(m_sOutput);
    // The worker moves the values file into the package; one left behind holds the
    // administrator's values and goes as soon as the publish ends.
    m_pValues.reset();
    if (m_pImage)
    {
        m_pImage->unmount();
        m_pImage = nullptr;
    }
    if (!m_sStaging.isEmpty())
    {
        // The worker removes it after whatever copy it is still ending.
        m_worker.removeDirectory(m_sStaging);
        m_lStagings.append(m_sStaging);
        m_sStaging.clear();
    }
    emit finished(published, message, published ? m_sOutput : QString());
}

void CPublisher::removeLeftovers()
{
    for (const QString& staging : qAsConst(m_lStagings))
    {
        if (COutputFile::present(staging))
            recursiveRemove(staging);
    }
    m_lStagings.clear();
}

bool CPublisher::publish(const CRequest& request, QString& message, QString& written)
{
    QEventLoop loop;
    bool published = false;
    const QMetaObject::Connection connection =
        connect(this, &CPublisher::finished, &loop,
                [&](bool done, const QString& text, const QString& path)
                {
                    published = done;
                    message = text;
                    written = path;
                    loop.quit();
                });
    if (!start(request, message))
    {
        disconnect(connection);
        return false;
    }
    if (request.m_bDryRun)
    {
        disconnect(connection);
        written = m_sOutput;
        return true;
    }
    QTimer watch;
    connect(&watch, &QTimer::timeout, &loop,
            [&]
            {
                if (m_interrupted && m_interrupted())
                    cancel();
            });
    watch.start(100);
    if (m_bRunning)
        loop.exec();
    disconnect(connection);
    // A script copy ends once its thread has; nothing of it runs on.
    if (m_packager.isRunning())
        m_packager.wait();
    if (!published && m_bCanceled)
        message = tr("Publishing was interrupted; nothing was written.");
    return published;
}

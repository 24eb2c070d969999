#include "Publisher.h"

#include "app/packages/CopyFileThread.h"
#include "app/packages/DmgPackage.h"
#include "app/packages/ExecutableFile.h"
#include "app/packages/MacFlatPackage.h"
#include "app/packages/Package.h"
#include "app/packages/PackagerThread.h"
#include "app/packages/TempDirectory.h"

#include <QCoreApplication>
#include <QDebug>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryFile>
#include <QTimer>
#include <cerrno>
#include <cstdio>
#include <memory>
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
               "CPublisher",
               "Tessary is unable to delete \"%1\".  Close the file if it's open, verify that the "
               "disk isn't full, remove write-protection on the file, and then try again.")
        .arg(native(path));
}

QString unableToWrite(const QString& path)
{
    return QCoreApplication::translate(
               "CPublisher",
               "Tessary is unable to write to \"%1\".  Close the file if it's open, verify that "
               "the disk isn't full, remove write-protection on the file, and then try again.")
        .arg(native(path));
}

QString cannotWrite(const QString& path)
{
    return QCoreApplication::translate(
               "CPublisher",
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

bool present(const QString& path)
{
    struct stat status;
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0;
}

QString alreadyExists(const QString& path)
{
    return QCoreApplication::translate("CPublisher",
                                       "\"%1\" already exists. Use --force to replace it.")
        .arg(native(path));
}
} // namespace

CPublisher::CPublisher(QObject* parent) : QObject(parent) {}

CPublisher::~CPublisher() = default;

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

CPublisher::ReplaceResult CPublisher::replaceOutput(const QString& staged, const QString& output,
                                                    const QString& previous)
{
    const QByteArray target = QFile::encodeName(output);
    const QByteArray kept = QFile::encodeName(previous);
    const bool hadPrevious = present(output);
    if (hadPrevious && ::rename(target.constData(), kept.constData()) != 0)
    {
        qDebug() << "CPublisher::replaceOutput(): cannot move away" << output
                 << qt_error_string(errno);
        return OldOutputKept;
    }
    if (::rename(QFile::encodeName(staged).constData(), target.constData()) != 0)
    {
        qDebug() << "CPublisher::replaceOutput(): cannot move" << staged << "to" << output
                 << qt_error_string(errno);
        if (hadPrevious)
            ::rename(kept.constData(), target.constData());
        return NewOutputFailed;
    }
    return Replaced;
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

bool CPublisher::publish(CPackage* package, const QFileInfo& source, const QString& output,
                         const QList<CCustomizationFile::CEntry>& entries,
                         const QList<CCustomizationFile::CEntry>& setEntries, bool overwrite,
                         QString& message, QString& written)
{
    qDebug().noquote() << "CPublisher::publish(" + output + ") begin";
    m_bRefused = false;
    if (source.filePath().contains(QLatin1String("AdminConfig.xml")))
    {
        m_bRefused = true;
        message = tr("The AdminConfig.xml can not be saved or published. It is only used for "
                     "testing purposes.");
        return false;
    }
    const QStringList invalid = CPropertyText::invalidShellNames(publishedProperties(setEntries));
    if (!invalid.isEmpty())
    {
        m_bRefused = true;
        message = tr("Tessary cannot publish the property \"%1\": its name is not a valid shell "
                     "variable name. A name may hold only letters, digits and \"_\" and must not "
                     "begin with a digit. Correct the installer's page definition, and then try "
                     "again.")
                      .arg(invalid.join(QStringLiteral("\", \"")));
        return false;
    }
    const QString suffix = source.suffix().toLower();
    bool done = false;
    if (suffix == QLatin1String("pkg") || suffix == QLatin1String("mpkg") ||
        suffix == QLatin1String("dmg"))
        done =
            publishMac(package, source, output, entries, setEntries, overwrite, message, written);
    else if (suffix == QLatin1String("package"))
        done = publishScript(source, output, setEntries, overwrite, message, written);
    else
    {
        m_bRefused = true;
        message = tr("\"%1\" is no installer that can be published (only .pkg, .mpkg, .dmg and "
                     ".package are).")
                      .arg(native(source.filePath()));
    }
    qDebug().noquote() << "CPublisher::publish(" + output + ") end";
    return done;
}

bool CPublisher::publishMac(CPackage* package, const QFileInfo& source, const QString& requested,
                            const QList<CCustomizationFile::CEntry>& entries,
                            const QList<CCustomizationFile::CEntry>& setEntries, bool overwrite,
                            QString& message, QString& written)
{
    QFileInfo input = source;
    CDmgPackage* const image = dynamic_cast<CDmgPackage*>(package);
    const bool fromImage = source.suffix().compare(QLatin1String("dmg"), Qt::CaseInsensitive) == 0;
    if (fromImage)
    {
        if (!image || !image->mount() || !image->subPackage())
        {
            if (image)
                image->unmount();
            message = tr("Tessary is unable to extract files from \"%1\".  Verify that the disk "
                         "isn't full, that the file exists, and that it has read permissions, "
                         "and then try again.")
                          .arg(native(source.absoluteFilePath()));
            return false;
        }
        input = image->subPackage()->file();
    }
    // The image is let go however the publish ends.
    struct CUnmount
    {
        CDmgPackage* m_pImage;
        ~CUnmount()
        {
            if (m_pImage)
                m_pImage->unmount();
        }
    } unmount{fromImage ? image : nullptr};

    const QString output = QFileInfo(outputPath(requested, input)).absoluteFilePath();
    if (samePath(output, input.absoluteFilePath()) || samePath(output, source.absoluteFilePath()))
    {
        m_bRefused = true;
        message = unableToDelete(input.absoluteFilePath());
        return false;
    }
    if (present(output) && !overwrite)
    {
        m_bRefused = true;
        message = alreadyExists(output);
        return false;
    }

    const bool flat = CMacFlatPackage::isFlatPackage(input.absoluteFilePath());
    // Only a flat package carries a signature of its own.
    if (!flat && !m_signing.identityFile.isEmpty())
    {
        m_bRefused = true;
        message = tr("Only flat packages can be signed; \"%1\" is a bundle package.")
                      .arg(native(input.absoluteFilePath()));
        return false;
    }
    QString staging;
    QString staged = output;
    if (!flat)
    {
        const QString parent = QFileInfo(output).absolutePath();
        QByteArray pattern = QFile::encodeName(parent + QStringLiteral("/.Tessary-XXXXXX"));
        if (!QDir().mkpath(parent) || !::mkdtemp(pattern.data()))
        {
            message = unableToWrite(output);
            return false;
        }
        staging = QFile::decodeName(pattern);
        staged = staging + QLatin1Char('/') + QFileInfo(output).fileName();
    }
    const QStringList ignore = ignoreList(flat, input.absoluteFilePath(), setEntries);
    const CPropertyText::Properties published = publishedProperties(setEntries);

    CCopyFileThread worker;
    QEventLoop loop;
    bool failed = false;
    QString failure;
    qint64 copied = 0;
    qint64 total = 0;
    auto fail = [&](const QString& text)
    {
        if (!failed)
        {
            failed = true;
            failure = text;
        }
        loop.quit();
    };
    auto shown = [&](const QString& path) -> QString
    {
        // Files of a bundle being built are named as they will be in the output.
        if (!staging.isEmpty() && (path == staged || path.startsWith(staged + QLatin1Char('/'))))
            return output + path.mid(staged.size());
        return path;
    };
    connect(
        &worker, &CCopyFileThread::copyFinished, &loop,
        [&] { emit progress(++copied, flat ? 0 : total); }, Qt::QueuedConnection);
    connect(
        &worker, &CCopyFileThread::copyDirectoryFinished, &loop, [&] { loop.quit(); },
        Qt::QueuedConnection);
    connect(
        &worker, &CCopyFileThread::copyFlatPackageFinished, &loop, [&] { loop.quit(); },
        Qt::QueuedConnection);
    for (auto error : {&CCopyFileThread::copyError, &CCopyFileThread::copyDirectoryError,
                       &CCopyFileThread::copyFlatPackageError})
        connect(
            &worker, error, &loop,
            [&](const QFileInfo&, const QFileInfo& dst)
            { fail(unableToWrite(shown(dst.absoluteFilePath()))); },
            Qt::QueuedConnection);
    // The tools' own reason (a signing identity that failed, say) goes with the message.
    QString problem;
    connect(
        &worker, &CCopyFileThread::copyFlatPackageProblem, &loop,
        [&](const QString& reason) { problem = reason; }, Qt::QueuedConnection);
    for (auto error : {&CCopyFileThread::removeDirectoryError, &CCopyFileThread::removeFileError})
        connect(
            &worker, error, &loop,
            [&](const QFileInfo& file) { fail(unableToDelete(shown(file.absoluteFilePath()))); },
            Qt::QueuedConnection);
    worker.start();
    QTimer watch;
    connect(&watch, &QTimer::timeout, &loop,
            [&]
            {
                if (m_interrupted && m_interrupted())
                {
                    worker.cancel();
                    fail(tr("Publishing was interrupted; nothing was written."));
                }
            });
    watch.start(100);

    std::unique_ptr<QTemporaryFile> values;
    if (flat)
    {
        worker.setSigning(m_signing);
        if (QFileInfo(output).isDir())
            worker.removeDirectory(output);
        emit progress(0, 0);
        QString valuesFile;
        values.reset(
            new QTemporaryFile(QDir::tempPath() + QStringLiteral("/Tessary-values-XXXXXX.xml")));
        if (values->open())
        {
            values->close();
            // The package is open already: its product and version are read once.
            if (CCustomizationFile::write(values->fileName(), source, QFileInfo(output), entries,
                                          package))
                valuesFile = values->fileName();
        }
        worker.copyFlatPackage(input.absoluteFilePath(), output,
                               CPropertyText::shellText(published), ignore,
                               CPropertyText::javaScriptText(published), valuesFile);
    }
    else
    {
        const int count = worker.getFileCount(input, ignore);
        total = count;
        emit progress(0, count);
        worker.copyDirectory(input.absoluteFilePath(), staged, ignore);
    }
    loop.exec();

    if (!failed && !flat)
    {
        QString path;
        switch (writeBundleFiles(QDir(staged), CPropertyText::shellText(published), &path))
        {
        case BundleDirectoryFailed:
            failure = tr("Tessary is unable to create the directory \"%1\".  Verify that the "
                         "disk isn't full, remove write-protection at this location, and then "
                         "try again.")
                          .arg(native(shown(path)));
            failed = true;
            break;
        case BundleFileFailed:
            failure = tr("Tessary is unable to write to \"%1\".  Verify that the disk isn't full, "
                         "remove write-protection on this file, and then try again.")
                          .arg(native(shown(path)));
            failed = true;
            break;
        case BundleWritten:
            switch (replaceOutput(staged, output, staging + QStringLiteral("/.previous-output")))
            {
            case OldOutputKept:
                failure = unableToDelete(output);
                failed = true;
                break;
            case NewOutputFailed:
                failure = unableToWrite(output);
                failed = true;
                break;
            case Replaced:
                break;
            }
            break;
        }
    }
    worker.stop();
    worker.wait();
    if (!staging.isEmpty())
        recursiveRemove(staging);
    if (failed)
    {
        message = failure;
        if (!problem.isEmpty())
            message += QStringLiteral("\n\n") + tr("Details:") + QStringLiteral("\n") + problem;
        return false;
    }
    written = output;
    return true;
}

bool CPublisher::publishScript(const QFileInfo& source, const QString& requested,
                               const QList<CCustomizationFile::CEntry>& setEntries, bool overwrite,
                               QString& message, QString& written)
{
    const QString output = QFileInfo(outputPath(requested, source)).absoluteFilePath();
    if (samePath(output, source.absoluteFilePath()))
    {
        m_bRefused = true;
        message = unableToDelete(source.absoluteFilePath());
        return false;
    }
    if (present(output) && !overwrite)
    {
        m_bRefused = true;
        message = alreadyExists(output);
        return false;
    }
    // The copy is written beside the output and moved over it once complete.
    QTemporaryFile staging(output + QStringLiteral(".XXXXXX"));
    staging.setAutoRemove(false);
    if (!staging.open())
    {
        message = cannotWrite(output);
        return false;
    }
    staging.close();
    const QString staged = staging.fileName();

    CPackagerThread packager;
    QEventLoop loop;
    bool failed = false;
    bool complete = false;
    QString failure;
    auto fail = [&](const QString& text, const QString& path)
    {
        if (failed)
            return;
        failed = true;
        failure = text.arg(native(path == staged ? output : path));
        packager.stop();
    };
    connect(
        &packager, &CPackagerThread::openFileError, &loop,
        [&](const QString& path)
        {
            fail(tr("Tessary is unable to open \"%1\".  Verify that the file exists and that "
                    "is has read permissions, and then try again."),
                 path);
        },
        Qt::QueuedConnection);
    connect(
        &packager, &CPackagerThread::fileReadError, &loop,
        [&](const QString& path)
        {
            fail(tr("Tessary is unable to read \"%1\". Verify that the file exists and that "
                    "it has read permissions, and then try again."),
                 path);
        },
        Qt::QueuedConnection);
    connect(
        &packager, &CPackagerThread::fileWriteError, &loop,
        [&](const QString& path)
        {
            fail(tr("Cannot write to file \"%1\".  Close the file if it's open, verify that "
                    "the disk isn't full, remove write-protection on the file, and then try "
                    "again."),
                 path);
        },
        Qt::QueuedConnection);
    connect(
        &packager, &CPackagerThread::progress, &loop,
        [&](qint64 current, qint64 total)
        {
            emit progress(current, total);
            if (current == total)
                complete = true;
        },
        Qt::QueuedConnection);
    connect(
        &packager, &QThread::finished, &loop, [&] { loop.quit(); }, Qt::QueuedConnection);

    packager.clearProperties();
    for (const QPair<QString, QString>& property : publishedProperties(setEntries))
        packager.addProperty(property.first, property.second);
    packager.addProperty(QStringLiteral("TS_MODIFICATION"), QStringLiteral("1"));
    QTimer watch;
    connect(&watch, &QTimer::timeout, &loop,
            [&]
            {
                if (!failed && m_interrupted && m_interrupted())
                {
                    failed = true;
                    failure = tr("Publishing was interrupted; nothing was written.");
                    packager.stop();
                }
            });
    watch.start(100);
    packager.writePackage(source.absoluteFilePath(), staged);
    loop.exec();
    packager.wait();
    // Reports queued before the end still count.
    QCoreApplication::sendPostedEvents(&loop);

    bool published = !failed && complete;
    if (published)
    {
        // Installers are started directly: the copy keeps the source's permissions.
        QFile::setPermissions(staged, QFile::permissions(source.absoluteFilePath()));
        published = ::rename(QFile::encodeName(staged).constData(),
                             QFile::encodeName(output).constData()) == 0;
    }
    if (!published)
    {
        QFile::remove(staged);
        message = failed ? failure : cannotWrite(output);
        return false;
    }
    written = output;
    return true;
}

#pragma once

#include "CustomizationFile.h"
#include "PropertyText.h"

#include "app/packages/MacFlatPackage.h"

#include <QDir>
#include <QFileInfo>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class CCopyFileThread;
class CDmgPackage;
class CPackage;
class CPackagerThread;
class QTemporaryFile;

// The one publish sequence: writes the customized installer of a document through
// the file-operation worker (macOS packages) or the script packager (script
// installers), builds it beside the output and moves it into place when complete.
// The window runs it with its dialogs and progress around it, the command line
// waits for it; both get the same bytes for the same values.
class CPublisher : public QObject
{
    Q_OBJECT

public:
    // What is published: the document's installer and values.
    struct CRequest
    {
        // The document's package; a disk image is mounted through it.
        CPackage* m_pPackage = nullptr;
        QFileInfo m_source;
        // The path asked for; the package suffix is added as the save dialog adds it.
        QString m_sOutput;
        // Every property in file order (the values file), and those published.
        QList<CCustomizationFile::CEntry> m_lEntries;
        QList<CCustomizationFile::CEntry> m_lSetEntries;
        // Whether an existing output may be replaced.
        bool m_bOverwrite = true;
        // Flat packages are signed with this identity (none: unsigned).
        CMacFlatPackage::Signing m_signing;
        // Every check of the request runs, nothing is written: publish() then tells
        // the path that would be written.
        bool m_bDryRun = false;
    };

    // The workers are the caller's and outlive this object.
    CPublisher(CCopyFileThread& worker, CPackagerThread& packager, QObject* parent = nullptr);
    ~CPublisher() override;

    // The values publishing hands on: the set values without the "$PKG_" and
    // "$AI_" names, in the given order.
    static CPropertyText::Properties
    publishedProperties(const QList<CCustomizationFile::CEntry>& setEntries);
    // What a copy of the package at input leaves out: its page definition, then the
    // files named by "$PKG_" values (made absolute inside a bundle).
    static QStringList ignoreList(bool flat, const QString& input,
                                  const QList<CCustomizationFile::CEntry>& setEntries);

    enum BundleResult
    {
        BundleWritten,
        BundleDirectoryFailed, // Contents/Resources could not be made; failedPath names it
        BundleFileFailed       // preinstall or properties could not be written
    };
    // Adds Contents/Resources/preinstall and properties to a copied bundle package.
    static BundleResult writeBundleFiles(const QDir& bundle, const QString& properties,
                                         QString* failedPath);
    // What the administrator is told when writeBundleFiles failed at path.
    static QString bundleFailure(BundleResult result, const QString& path);

    // The path a publish to output writes: the package suffix is added as the
    // window's save dialog adds it.
    static QString outputPath(const QString& output, const QFileInfo& input);

    // Starts publishing. False when nothing was started, with the message; refused()
    // then tells whether the request itself was at fault (input or output unusable).
    bool start(const CRequest& request, QString& message);
    // Starts and waits until done (the command line); false with the message.
    bool publish(const CRequest& request, QString& message, QString& written);
    bool isRunning() const { return m_bRunning; }
    // Stops a running publish: the previous output stays and nothing partial is
    // left. finished() follows, with wasCanceled() set and no message.
    void cancel();
    bool wasCanceled() const { return m_bCanceled; }
    bool refused() const { return m_bRefused; }
    // The output of the running or last publish (absolute).
    const QString& output() const { return m_sOutput; }
    // Whether the running or last publish writes a flat package (its progress is
    // not counted).
    bool flat() const { return m_bFlat; }

    // Removes what publishes left beside their outputs that the worker has not
    // removed yet; only once the worker has stopped.
    void removeLeftovers();

    // Asked a few times a second while publish() waits: true stops it as cancel()
    // does.
    void setInterruptCheck(const std::function<bool()>& interrupted)
    {
        m_interrupted = interrupted;
    }

    // The tools' own reason for the failure of the last publish, if they gave one.
    const QString& problem() const { return m_sProblem; }

public slots:
    // Reports of the workers (connected by the constructor); each is ignored unless
    // it belongs to the running publish.
    void onCopyFinished();
    void onCopyDone(const QFileInfo& src, const QFileInfo& dst);
    void onCopyError(const QFileInfo& src, const QFileInfo& dst);
    void onRemoveError(const QFileInfo& file);
    void onPackagerProgress(qint64 current, qint64 total);
    void onPackagerOpenError(const QString& path);
    void onPackagerReadError(const QString& path);
    void onPackagerWriteError(const QString& path);

signals:
    // total 0: the work does not tell how far it is.
    void progress(qint64 current, qint64 total);
    // The publish ended: written is the output when published, else message says why
    // (empty after cancel()).
    void finished(bool published, const QString& message, const QString& written);

private:
    bool startMac(QString& message);
    bool startScript(QString& message);
    void copyDone(const QFileInfo& dst);
    // Moves the complete copy over the output and ends the publish.
    void moveIntoPlace();
    void fail(const QString& message);
    void end(bool published, const QString& message);
    void packagerDone();
    // text names the file with "%1".
    void packagerFailed(const QString& text, const QString& path);
    // A path inside the bundle being built, as it is named in the output.
    QString shown(const QString& path) const;

    CCopyFileThread& m_worker;
    CPackagerThread& m_packager;
    CRequest m_request;
    bool m_bRunning = false;
    bool m_bCanceled = false;
    bool m_bRefused = false;
    bool m_bFlat = false;
    bool m_bScript = false;
    bool m_bScriptFailed = false;
    bool m_bScriptComplete = false;
    QString m_sOutput;
    QString m_sStaging;
    QStringList m_lStagings;
    QString m_sStaged;
    QString m_sProblem;
    QString m_sFailure;
    CDmgPackage* m_pImage = nullptr;
    std::unique_ptr<QTemporaryFile> m_pValues;
    qint64 m_iCopied = 0;
    qint64 m_iTotal = 0;
    std::function<bool()> m_interrupted;
};

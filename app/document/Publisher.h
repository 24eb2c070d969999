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

class CPackage;

// Publishing without a window: writes the customized installer for a document
// through the same workers, texts and values file as the window, and waits for
// them. The window uses the rules it shares (what is left out, what is written
// into a bundle, how a finished copy replaces the output).
class CPublisher : public QObject
{
    Q_OBJECT

public:
    explicit CPublisher(QObject* parent = nullptr);
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

    enum ReplaceResult
    {
        Replaced,
        OldOutputKept,  // the previous output could not be moved away
        NewOutputFailed // the new one could not be moved in; the old one is back
    };
    // Moves the complete copy at staged over output; a previous output is moved to
    // previous first and comes back should the new one fail to move in.
    static ReplaceResult replaceOutput(const QString& staged, const QString& output,
                                       const QString& previous);

    // The path a publish to output writes: the package suffix is added as the
    // window's save dialog adds it.
    static QString outputPath(const QString& output, const QFileInfo& input);

    // Publishes the installer of package (whose file is source) with the values of
    // entries (every property, in file order; setEntries those published) to output. Waits until
    // done; false with the message for the administrator when nothing was published. Overwrites an
    // existing output only with overwrite.
    bool publish(CPackage* package, const QFileInfo& source, const QString& output,
                 const QList<CCustomizationFile::CEntry>& entries,
                 const QList<CCustomizationFile::CEntry>& setEntries, bool overwrite,
                 QString& message, QString& written);

    // Asked a few times a second while a publish runs: true stops it, as Cancel does
    // in the window (the previous output stays, nothing partial is left).
    void setInterruptCheck(const std::function<bool()>& interrupted)
    {
        m_interrupted = interrupted;
    }

    // Flat packages published from now on are signed with this identity (none: unsigned).
    void setSigning(const CMacFlatPackage::Signing& signing) { m_signing = signing; }

    // The last publish was refused before anything was written: the input or the
    // output named cannot be used.
    bool refused() const { return m_bRefused; }

signals:
    // total 0: the work does not tell how far it is.
    void progress(qint64 current, qint64 total);

private:
    bool m_bRefused = false;
    CMacFlatPackage::Signing m_signing;
    std::function<bool()> m_interrupted;
    bool publishMac(CPackage* package, const QFileInfo& source, const QString& output,
                    const QList<CCustomizationFile::CEntry>& entries,
                    const QList<CCustomizationFile::CEntry>& setEntries, bool overwrite,
                    QString& message, QString& written);
    bool publishScript(const QFileInfo& source, const QString& output,
                       const QList<CCustomizationFile::CEntry>& setEntries, bool overwrite,
                       QString& message, QString& written);
};

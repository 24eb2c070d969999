#pragma once

#include <QByteArray>
#include <QFileInfo>
#include <QList>
#include <QPair>
#include <QString>

class CPackage;

// The customization file: root "AdminCustomization" with the installer it was
// made for and one "property" element per saved value. Written by the window's
// Save and by publishing (the values file of a flat package); read by Open,
// Import and the command line.
class CCustomizationFile
{
public:
    struct CEntry
    {
        QString m_sProperty;
        QString m_sWidget;
        QString m_sValue;
        // A secret value left out of the file: written as omitted="secret" with no
        // value, and to be given again before publishing.
        bool m_bOmitted = false;
    };

    struct CContents
    {
        QString m_sSource;
        QString m_sLastSaveFile;
        QString m_sProductVersion;
        QString m_sProductName;
        QList<CEntry> m_lEntries;
    };

    // The attribute that marks a left-out secret, and its value.
    static const char* const OmittedAttribute;
    static const char* const OmittedSecret;

    // Entries in walk order (an object before its children), arranged as the file
    // lists them: by property name; entries of one name in reverse walk order.
    static QList<CEntry> ordered(const QList<CEntry>& walkOrder);

    // Notes a left-out entry's widget and property in omitted, once; true when the
    // entry was left out.
    static bool noteOmitted(const CEntry& entry, QList<QPair<QString, QString>>& omitted);

    // The file's text. The installer is opened to name its product and version
    // (unless the caller has it open already, as opened): when it is no package
    // at all, they are left out.
    static QByteArray text(const QFileInfo& source, const QFileInfo& lastSaveFile,
                           const QList<CEntry>& entries, CPackage* opened = nullptr);
    // Writes text() beside fileName and moves it over it once complete; false when
    // nothing was stored. What is at fileName (a link even) is replaced, never written
    // through, and only when overwrite allows; a file holding secrets is made readable
    // by its owner alone.
    static bool write(const QString& fileName, const QFileInfo& source,
                      const QFileInfo& lastSaveFile, const QList<CEntry>& entries,
                      CPackage* opened = nullptr, bool holdsSecrets = false, bool overwrite = true,
                      QString* reason = nullptr);

    // The installer contents names, a relative name taken relative to the folder of
    // file (the customization it was read from); empty when it names none.
    static QFileInfo sourceFile(const CContents& contents, const QFileInfo& file);
    // Whether bytes hold a customization (root "AdminCustomization"); a page
    // definition is none.
    static bool isCustomization(const QByteArray& bytes);
    // Reads a customization; false with the reason in error when bytes are no
    // well-formed customization.
    static bool read(const QByteArray& bytes, CContents& contents, QString& error);
};

#pragma once

#include "CustomizationFile.h"
#include "PropertyDefaults.h"
#include "PropertyText.h"
#include "SecretKeeper.h"

#include "shared/XmlWidgets/XmlObject.h"

#include <QByteArray>
#include <QFileInfo>
#include <QList>
#include <QMultiMap>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <memory>

class CCustomWidgetFactory;
class CDocumentRoot;
class CHeadlessRoot;
class CPackage;

// The one open document: a page definition taken from an installer, built by the
// page framework into a root's tree, plus the values set on it and the files it
// came from. The window and the command line are views of it: both hold their
// values in the same fields, so every rule a field has is applied once, by the
// field. It shows nothing; what goes wrong comes back as text for the caller.
class CDocument : public QObject
{
    Q_OBJECT

public:
    // A value of a customization (or given on the command line) that its field did
    // not take as it stands.
    struct CValueNote
    {
        enum Kind
        {
            Adjusted, // the field changed it (case, range); the changed value stands
            Refused,  // the field does not take it; it keeps its own value
            Unknown   // no field of this widget and property name
        };
        Kind m_kind = Unknown;
        QString m_sProperty;
        QString m_sWidget;
        QString m_sValue;
        // What the field holds now.
        QString m_sNewValue;
        QString m_sReason;
        QPointer<QObject> m_pGuard; // the field's QObject, when it has one
        CXmlObject* m_pField = nullptr;
        bool m_bSecret = false;
    };

    enum OpenResult
    {
        Opened,
        NoPackage,  // nothing was recognised
        Unreadable, // the file cannot be read
        NotValid,   // no valid installer
        NotLoaded   // its page definition or customization did not load
    };

    // A page definition opened directly ("AdminConfig.xml"): for trying a definition
    // out, never saved or published.
    static bool isTestDefinition(const QString& path);
    // Whether path can be read; a bundle package (a folder) when it can be listed.
    static bool isReadable(const QString& path);

    // A document of its own root, which nobody sees.
    explicit CDocument(QObject* parent = nullptr);
    // A document shown by the view that holds root.
    explicit CDocument(CDocumentRoot& root, QObject* parent = nullptr);
    ~CDocument() override;

    CDocumentRoot& root() const { return *m_pRoot; }
    // The own root of a document made without a view, else null.
    CHeadlessRoot* headlessRoot() const { return m_pOwnRoot.get(); }

    // ---- The page definition
    // Replaces the pages with the definition in bytes. False with the message for
    // people in error ("Failed to parse XML content." and why); nothing of a refused
    // definition stays.
    bool loadDefinition(const QByteArray& bytes, QString& error);

    // ---- Opening installers and customization files
    // Opens package (owned from now on) as the document: an installer, or a
    // customization file with the installer it names. loadAsConfiguration: a file
    // that is neither is read as a customization in import mode (a nested open).
    OpenResult open(CPackage* package, bool loadAsConfiguration, QString& message);
    // Applies only the values of a customization file (Import); false with why.
    bool importFile(const QFileInfo& file, QString& message);
    // Reads a customization file (a page definition read so loads as such); outside
    // import mode its installer is opened first and it becomes the configuration file.
    bool loadCustomizationFile(const QFileInfo& file, bool importMode, QString& message);
    // What the fields made of the values of the last open or import.
    const QList<CValueNote>& loadNotes() const { return m_lLoadNotes; }

    // ---- Installation properties
    // Every installation property of the tree by property name; with onlySet only
    // those with a value or allowed to be empty.
    QMultiMap<QString, CXmlObject*> collectProperties(bool onlySet) const;
    // The entries of properties as the customization file and publishing take them;
    // without withSecrets, secret values are marked left out instead.
    static QList<CCustomizationFile::CEntry>
    entriesOf(const QMultiMap<QString, CXmlObject*>& properties, bool withSecrets = true);
    // The entries of this document; a secret a file left out that is still missing
    // keeps its mark.
    QList<CCustomizationFile::CEntry> entries(bool onlySet, bool withSecrets = true) const;
    // The set values that publishing hands on (no "$PKG_" and "$AI_" names).
    CPropertyText::Properties publishedProperties() const;
    // The fields of an installation property, in tree order.
    QList<CXmlObject*> fieldsOf(const QString& property) const;
    // The page an object is on, or null.
    static const CXmlObject* pageOf(const CXmlObject* object);

    // Applies entries as Open and Import do: each to the fields of its widget and
    // property name, through the field's own rules. What did not go as given is
    // returned; refused values are also kept until their field changes.
    QList<CValueNote> applyEntries(const QList<CCustomizationFile::CEntry>& entries);
    // One line for people: what the field made of a value; a secret's value is
    // never quoted.
    static QString noteText(const CValueNote& note);
    // Offers value to every field of property (a value given on the command line);
    // the first verdict that is not "taken", with its reason and the value held.
    CXmlObject::ValueFit offerProperty(const QString& property, const QString& value,
                                       QString* reason = nullptr, QString* held = nullptr);
    // Values of a customization that their fields refused and that nobody has
    // corrected since: they are not published as they were meant.
    QList<CValueNote> refusedValues() const;
    // A field was edited: a refused value it stood for is settled.
    void fieldChanged(CXmlObject* field);

    // ---- Secrets and defaults
    CSecretKeeper& secrets() { return m_secrets; }
    const CSecretKeeper& secrets() const { return m_secrets; }
    // The secrets a customization was saved without that still have no value.
    QList<CXmlObject*> missingSecrets() const;
    // The values as the definition loaded them, before any customization.
    const CPropertyDefaults& defaults() const { return m_defaults; }

    // ---- Files
    const QFileInfo& sourceFile() const { return m_sourceFile; }
    void setSourceFile(const QFileInfo& file) { m_sourceFile = file; }
    const QFileInfo& configurationFile() const { return m_configurationFile; }
    // isCustomization: the file is a customization (Save may write it in place).
    void setConfigurationFile(const QFileInfo& file, bool isCustomization);
    bool configurationIsCustomization() const { return m_bConfigurationIsCustomization; }
    const QFileInfo& lastPublishedFile() const { return m_lastPublishedFile; }
    void setLastPublishedFile(const QFileInfo& file) { m_lastPublishedFile = file; }
    // The package the document came from (for a customization, its installer).
    CPackage* package() const { return m_pCurrentPackage; }
    // Takes ownership of package unless it belongs to the document already.
    void adopt(CPackage* package);
    // The package the document's values are published from (owned elsewhere, or
    // inside an adopted one).
    void setPackage(CPackage* package) { m_pCurrentPackage = package; }
    bool ownsPackage(const CPackage* package) const;
    // Writes a customization file of every property; false when nothing was stored.
    bool saveTo(const QString& path, bool withSecrets) const;
    // Whether a secret field holds a value (files holding it are the owner's alone).
    bool holdsSecretValues() const;

    // ---- Publishing
    // Why this document cannot be published as it stands (a test definition, a
    // value its field refused, an installer kind that cannot be published, a
    // property name no shell takes); empty when it can.
    QString publishRefusal() const;
    // Runs the definition's "validate" actions; false when one canceled the publish.
    bool runChecks();

signals:
    // A page definition loaded into the tree.
    void definitionLoaded();
    // The document was opened from file (also for the installer a customization
    // names): the view remembers its folder.
    void packageOpened(const QFileInfo& file);

private:
    void init();
    bool loadCustomizationBytes(const QByteArray& bytes, bool importMode, CPackage* package,
                                const QString& origin, QString& message);

    std::unique_ptr<CHeadlessRoot> m_pOwnRoot;
    CDocumentRoot* m_pRoot = nullptr;
    CCustomWidgetFactory* m_pFactory = nullptr;
    QFileInfo m_sourceFile;
    QFileInfo m_configurationFile;
    bool m_bConfigurationIsCustomization = false;
    QFileInfo m_lastPublishedFile;
    CPackage* m_pCurrentPackage = nullptr;
    CPackage* m_pOwnedPackage = nullptr;
    CSecretKeeper m_secrets;
    CPropertyDefaults m_defaults;
    QList<CValueNote> m_lLoadNotes;
    QList<CValueNote> m_lRefused;
    // The customization documents (by digest, with their file) being followed to
    // their installer by nested opens, outermost first.
    QList<QPair<QByteArray, QString>> m_lCustomizationChain;
};

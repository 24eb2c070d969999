#include "Document.h"

#include "CustomWidgetFactory.h"
#include "HeadlessRoot.h"
#include "SecretProperty.h"
#include "ShownText.h"

#include "app/index/PageIndex.h"
#include "app/packages/CopyFileThread.h"
#include "app/packages/Package.h"
#include "app/packages/XmlPackage.h"
#include "app/validation/CheckResults.h"
#include "shared/XmlWidgets/CustomWidgetObsoleteException.h"
#include "shared/XmlWidgets/Page.h"
#include "shared/XmlWidgets/XmlDefinitionReader.h"
#include <utils/Version.h>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <tinyxml.h>

namespace
{
// Customization files naming customization files as their installer are followed
// this deep at most; real ones name the installer itself.
const int kMaxCustomizationChain = 16;
// A customization is small; anything beyond the package model's limit is none.
const qint64 kMaxCustomizationBytes = 8 * 1024 * 1024;

QString native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

// The framework's hooks are process-wide; each load sets them to its own document
// and puts back what was there, so that documents can be loaded side by side.
class CFrameworkHooks
{
public:
    CFrameworkHooks(CXmlValidator* validator, CWidgetFactory* factory)
        : m_pValidator(CXmlContainer::m_pStaticValidator),
          m_pFactory(CXmlContainer::m_pStaticWidgetFactory)
    {
        CXmlObject::m_gCurrentXmlVersion = orbilib::utils::CVersion(L"1.8");
        CXmlContainer::m_pStaticValidator = validator;
        CXmlContainer::m_pStaticWidgetFactory = factory;
    }
    ~CFrameworkHooks()
    {
        CXmlContainer::m_pStaticValidator = m_pValidator;
        CXmlContainer::m_pStaticWidgetFactory = m_pFactory;
    }
    CFrameworkHooks(const CFrameworkHooks&) = delete;
    CFrameworkHooks& operator=(const CFrameworkHooks&) = delete;

private:
    CXmlValidator* m_pValidator;
    CWidgetFactory* m_pFactory;
};
} // namespace

bool CDocument::isTestDefinition(const QString& path)
{
    return path.contains(QLatin1String("AdminConfig.xml"));
}

bool CDocument::isReadable(const QString& path)
{
    const QFileInfo info(path);
    if (info.isDir())
        return info.isReadable() && info.isExecutable();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    file.close();
    return true;
}

CDocument::CDocument(QObject* parent) : QObject(parent), m_pOwnRoot(new CHeadlessRoot)
{
    m_pRoot = m_pOwnRoot.get();
    init();
}

CDocument::CDocument(CDocumentRoot& root, QObject* parent) : QObject(parent), m_pRoot(&root)
{
    init();
}

void CDocument::init()
{
    m_pFactory = new CCustomWidgetFactory(this);
}

CDocument::~CDocument()
{
    // The tree goes before the package its values came from.
    m_pOwnRoot.reset();
    delete m_pOwnedPackage;
}

// ---------------------------------------------------------------------------
// The page definition

bool CDocument::loadDefinition(const QByteArray& bytes, QString& error)
{
    qDebug() << "CDocument::loadDefinition() begin";
    TiXmlDocument document;
    QString reason;
    int result = CXmlDefinitionReader::read(bytes, document, reason);
    m_pRoot->clearDocument();
    m_lRefused.clear();
    bool loaded = false;
    if (result == CXmlObject::ParseSuccess)
    {
        const CFrameworkHooks hooks(m_pRoot, m_pFactory);
        try
        {
            result = m_pRoot->parse(document.RootElement(), reason);
            if (result == CXmlObject::ParseSuccess)
                result = m_pRoot->init(reason);
            loaded = result == CXmlObject::ParseSuccess && !m_pRoot->loadedXmlDeprecated();
        }
        catch (const CustomWidgetObsoleteException& exception)
        {
            reason = exception.message();
            loaded = false;
        }
    }
    if (loaded)
    {
        m_secrets.reset();
        m_defaults.capture(collectProperties(false));
        CCheckResults::clear();
        m_pRoot->resetChanged(true);
        emit definitionLoaded();
        qDebug() << "CDocument::loadDefinition() end";
        return true;
    }
    error = m_pRoot->loadedXmlDeprecated()
                ? m_pRoot->loadedXmlDeprecated()->message()
                : QCoreApplication::translate("CAdminPage", "Failed to parse XML content.") +
                      QStringLiteral("\n\n") +
                      QCoreApplication::translate("CAdminPage", "Details:") + QStringLiteral("\n") +
                      reason;
    // Nothing of the refused definition stays, not even behind its message: no
    // pages or rows, no title, no deprecation record.
    m_pRoot->clearDocument();
    qDebug() << "CDocument::loadDefinition() end";
    return false;
}

// ---------------------------------------------------------------------------
// Opening

bool CDocument::ownsPackage(const CPackage* package) const
{
    for (const CPackage* owned = m_pOwnedPackage; owned; owned = owned->subPackage())
    {
        if (owned == package)
            return true;
    }
    return false;
}

void CDocument::adopt(CPackage* package)
{
    if (ownsPackage(package))
        return;
    delete m_pOwnedPackage;
    m_pOwnedPackage = package;
}

void CDocument::setConfigurationFile(const QFileInfo& file, bool isCustomization)
{
    m_configurationFile = file;
    m_bConfigurationIsCustomization = isCustomization && !file.filePath().isEmpty();
}

CDocument::OpenResult CDocument::open(CPackage* package, bool loadAsConfiguration, QString& message)
{
    const QString path = package ? package->file().absoluteFilePath() : QString();
    qDebug().noquote() << "CDocument::open(" + path + ") begin";
    if (!package)
    {
        message = QCoreApplication::translate(
            "CAdminPage", "File doesn't exist, or isn't a valid KORVA installation package.");
        return NoPackage;
    }
    const QFileInfo file = package->file();
    if (!isReadable(file.absoluteFilePath()))
    {
        const QFileInfo probe(file.absoluteFilePath());
        message = probe.exists() || probe.isSymLink()
                      ? QCoreApplication::translate("CAdminPage", "Could not open %1")
                            .arg(file.filePath())
                      : QCoreApplication::translate("CAdminPage",
                                                    "Could not open %1: the file does not exist.")
                            .arg(file.filePath());
        if (!ownsPackage(package))
            delete package;
        return Unreadable;
    }
    CXmlPackage* const xmlPackage = dynamic_cast<CXmlPackage*>(package);
    if (!package->isValid() && !xmlPackage)
    {
        // What made reading stop (a limit, a file that is not a file) helps the user
        // more than the verdict alone.
        message = QCoreApplication::translate("CAdminPage",
                                              "\"%1\" isn't a valid KORVA installation package.")
                      .arg(native(file.filePath()));
        if (!package->problem().isEmpty())
            message += QStringLiteral("\n\n") +
                       QCoreApplication::translate("CAdminPage", "Details:") +
                       QStringLiteral("\n") + CShownText::escaped(package->problem());
        if (!ownsPackage(package))
            delete package;
        return NotValid;
    }

    setConfigurationFile(QFileInfo(), false);
    m_lastPublishedFile = QFileInfo();
    m_pRoot->setPackageOS(package->os());
    const bool outermost = m_lCustomizationChain.isEmpty();
    if (outermost)
        m_lLoadNotes.clear();
    // A customization file opens its installer through a nested call.
    const bool wasLoading = m_pRoot->isLoading();
    m_pRoot->setLoading(true);
    adopt(package);
    m_pCurrentPackage = package;
    m_sourceFile = file;
    emit packageOpened(file);

    bool loaded = false;
    if (file.suffix().compare(QLatin1String("exe"), Qt::CaseInsensitive) == 0)
        loaded = false;
    else if (package->isValid() || !xmlPackage)
    {
        CPackage* const handedOn = package->isContainer() ? package->subPackage() : package;
        loaded = loadCustomizationBytes(package->xml(), false, handedOn, file.absoluteFilePath(),
                                        message);
        if (loaded && xmlPackage)
            setConfigurationFile(file, true);
    }
    else
    {
        loaded = loadCustomizationFile(file, loadAsConfiguration, message);
    }
    m_pRoot->setLoading(wasLoading);
    qDebug().noquote() << "CDocument::open(" + path + ") end";
    return loaded ? Opened : NotLoaded;
}

bool CDocument::importFile(const QFileInfo& file, QString& message)
{
    m_lLoadNotes.clear();
    return loadCustomizationFile(file, true, message);
}

bool CDocument::loadCustomizationFile(const QFileInfo& file, bool importMode, QString& message)
{
    const QFileInfo current(file.absoluteFilePath());
    if (!current.exists() || !current.isFile())
    {
        message = QCoreApplication::translate("CAdminPage",
                                              "This file is not a valid configuration file.");
        return false;
    }
    QFile input(current.absoluteFilePath());
    if (!input.open(QIODevice::ReadOnly))
    {
        message = QCoreApplication::translate(
                      "CAdminPage", "Tessary is unable to open \"%1\".  Verify that the file "
                                    "exists and that is has read permissions, and then try again.")
                      .arg(native(current.absoluteFilePath()));
        return false;
    }
    if (input.size() > kMaxCustomizationBytes)
    {
        message = tr("\"%1\" is larger than %2 MiB, more than any customization file; it is not "
                     "read.")
                      .arg(native(current.absoluteFilePath()))
                      .arg(kMaxCustomizationBytes / (1024 * 1024));
        return false;
    }
    const QByteArray bytes = input.read(kMaxCustomizationBytes + 1);
    const bool loaded =
        loadCustomizationBytes(bytes, importMode, nullptr, current.absoluteFilePath(), message);
    if (loaded && !importMode)
        setConfigurationFile(current, CCustomizationFile::isCustomization(bytes));
    return loaded;
}

bool CDocument::loadCustomizationBytes(const QByteArray& bytes, bool importMode, CPackage* package,
                                       const QString& origin, QString& message)
{
    TiXmlDocument document;
    QString error;
    CXmlDefinitionReader::read(bytes, document, error);
    const TiXmlElement* const root = document.RootElement();
    const QString invalid =
        QCoreApplication::translate("CAdminPage", "This file is not a valid configuration file.");
    if (!root)
    {
        message = invalid;
        return false;
    }
    if (QString::fromUtf8(root->Value()) != QLatin1String("AdminCustomization"))
    {
        if (importMode)
        {
            message = invalid;
            return false;
        }
        return loadDefinition(bytes, message);
    }
    CCustomizationFile::CContents contents;
    CCustomizationFile::read(bytes, contents, error);

    if (!importMode)
    {
        CPackage* source = package;
        if (!source)
            source = CCopyFileThread::loadPackage(
                CCustomizationFile::sourceFile(contents, QFileInfo(origin)));
        // A customization whose installer leads back to it (itself, a.xml -> b.xml ->
        // a.xml, or an installer whose definition was replaced by a customization)
        // would be followed without end; so would a very long chain.
        const QByteArray digest = QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
        bool cycle = false;
        for (const QPair<QByteArray, QString>& step : qAsConst(m_lCustomizationChain))
            cycle = cycle || step.first == digest;
        if (cycle || m_lCustomizationChain.size() >= kMaxCustomizationChain)
        {
            QStringList files;
            for (const QPair<QByteArray, QString>& step : qAsConst(m_lCustomizationChain))
                files << native(step.second);
            files << native(origin);
            if (source)
                files << native(source->file().absoluteFilePath());
            const QString first = files.first();
            files.removeDuplicates();
            const QString chain = files.join(QStringLiteral("\n"));
            message = cycle ? QCoreApplication::translate(
                                  "CAdminPage",
                                  "Tessary is unable to open \"%1\". Its configuration files name "
                                  "each other as their installer package, so no installer is "
                                  "ever reached:\n%2")
                                  .arg(native(first), chain)
                            : QCoreApplication::translate(
                                  "CAdminPage",
                                  "Tessary is unable to open \"%1\". It leads through more than "
                                  "%2 configuration files before reaching an installer "
                                  "package:\n%3")
                                  .arg(native(first))
                                  .arg(kMaxCustomizationChain)
                                  .arg(chain);
            if (!package && source && !ownsPackage(source))
                delete source;
            return false;
        }
        m_lCustomizationChain.append(qMakePair(digest, origin));
        const bool opened = open(source, true, message) == Opened;
        m_lCustomizationChain.removeLast();
        if (!opened)
            return false;
        m_lastPublishedFile =
            contents.m_sLastSaveFile.isEmpty() ? QFileInfo() : QFileInfo(contents.m_sLastSaveFile);
    }

    m_lLoadNotes.append(applyEntries(contents.m_lEntries));
    // Only the administrator's own file decides whether secrets go on being stored.
    m_secrets.noteLoaded(contents.m_lEntries, m_pRoot,
                         !importMode &&
                             origin.endsWith(QLatin1String(".xml"), Qt::CaseInsensitive));
    m_pRoot->resetChanged(false);
    return true;
}

// ---------------------------------------------------------------------------
// Installation properties

QMultiMap<QString, CXmlObject*> CDocument::collectProperties(bool onlySet) const
{
    QMultiMap<QString, CXmlObject*> properties;
    for (CXmlObject* object : m_pRoot->installationProperties())
    {
        if (!onlySet || !object->getValue().isEmpty() || object->allowEmpty())
            properties.insert(object->property(), object);
    }
    return properties;
}

QList<CCustomizationFile::CEntry>
CDocument::entriesOf(const QMultiMap<QString, CXmlObject*>& properties, bool withSecrets)
{
    QList<CCustomizationFile::CEntry> entries;
    for (auto it = properties.constBegin(); it != properties.constEnd(); ++it)
    {
        if (CSecretKeeper::omitOnSave(it.value(), withSecrets))
            entries.append({it.key(), it.value()->name(), QString(), true});
        else
            entries.append({it.key(), it.value()->name(), it.value()->getValue()});
    }
    return entries;
}

QList<CCustomizationFile::CEntry> CDocument::entries(bool onlySet, bool withSecrets) const
{
    QList<CCustomizationFile::CEntry> result = entriesOf(collectProperties(onlySet), withSecrets);
    // A secret the file was saved without that is still missing keeps its mark, so
    // that publishing goes on asking for it.
    const QList<CXmlObject*> missing = m_secrets.missing(m_pRoot);
    for (CCustomizationFile::CEntry& entry : result)
    {
        for (const CXmlObject* object : missing)
            entry.m_bOmitted = entry.m_bOmitted || (entry.m_sWidget == object->name() &&
                                                    entry.m_sProperty == object->property());
    }
    return result;
}

CPropertyText::Properties CDocument::publishedProperties() const
{
    CPropertyText::Properties properties;
    const QMultiMap<QString, CXmlObject*> set = collectProperties(true);
    for (auto it = set.constBegin(); it != set.constEnd(); ++it)
    {
        if (CPropertyText::isPublished(it.key()))
            properties.append(qMakePair(it.key(), it.value()->getValue()));
    }
    return properties;
}

QList<CXmlObject*> CDocument::fieldsOf(const QString& property) const
{
    QList<CXmlObject*> found;
    for (CXmlObject* object : m_pRoot->installationProperties())
    {
        if (object->property() == property)
            found.append(object);
    }
    return found;
}

const CXmlObject* CDocument::pageOf(const CXmlObject* object)
{
    for (const CXmlObject* up = object; up; up = up->parentObject())
    {
        if (dynamic_cast<const CPage*>(up))
            return up;
    }
    return nullptr;
}

QString CDocument::noteText(const CValueNote& note)
{
    const QString value = note.m_bSecret
                              ? tr("the secret value")
                              : tr("the value %1").arg(CShownText::quoted(note.m_sValue));
    switch (note.m_kind)
    {
    case CValueNote::Adjusted:
        return note.m_bSecret ? tr("%1 (%2): %3 %4.")
                                    .arg(note.m_sProperty, note.m_sWidget, value, note.m_sReason)
                              : tr("%1 (%2): %3 %4; it is now %5.")
                                    .arg(note.m_sProperty, note.m_sWidget, value, note.m_sReason,
                                         CShownText::quoted(note.m_sNewValue));
    case CValueNote::Refused:
        return tr("%1 (%2): %3 is not taken by its field: it %4.")
            .arg(note.m_sProperty, note.m_sWidget, value, note.m_sReason);
    case CValueNote::Unknown:
        break;
    }
    return tr("%1 (%2): %3 is ignored: the installer's page definition has no such "
              "field.")
        .arg(note.m_sProperty, note.m_sWidget, value);
}

QList<CDocument::CValueNote>
CDocument::applyEntries(const QList<CCustomizationFile::CEntry>& entries)
{
    QList<CValueNote> notes;
    for (const CCustomizationFile::CEntry& entry : entries)
    {
        if (entry.m_bOmitted)
            continue;
        bool found = false;
        for (CXmlObject* object : m_pRoot->findNamedObjects(entry.m_sWidget))
        {
            if (object->property() != entry.m_sProperty)
                continue;
            found = true;
            CValueNote note;
            const CXmlObject::ValueFit fit = object->offerValue(entry.m_sValue, &note.m_sReason);
            if (fit == CXmlObject::ValueTaken)
                continue;
            note.m_kind =
                fit == CXmlObject::ValueAdjusted ? CValueNote::Adjusted : CValueNote::Refused;
            note.m_sProperty = entry.m_sProperty;
            note.m_sWidget = entry.m_sWidget;
            note.m_sValue = entry.m_sValue;
            note.m_sNewValue = object->getValue();
            note.m_pField = object;
            note.m_pGuard = dynamic_cast<QObject*>(object);
            note.m_bSecret = CSecretProperty::isSecret(object);
            notes.append(note);
            if (note.m_kind == CValueNote::Refused)
                m_lRefused.append(note);
        }
        if (!found)
        {
            CValueNote note;
            note.m_kind = CValueNote::Unknown;
            note.m_sProperty = entry.m_sProperty;
            note.m_sWidget = entry.m_sWidget;
            note.m_sValue = entry.m_sValue;
            note.m_bSecret = CSecretProperty::nameLooksSecret(entry.m_sProperty);
            note.m_sReason = tr("has no field of this name in the installer's page definition");
            notes.append(note);
        }
    }
    return notes;
}

CXmlObject::ValueFit CDocument::offerProperty(const QString& property, const QString& value,
                                              QString* reason, QString* held)
{
    CXmlObject::ValueFit verdict = CXmlObject::ValueTaken;
    for (CXmlObject* field : fieldsOf(property))
    {
        QString why;
        const CXmlObject::ValueFit fit = field->offerValue(value, &why);
        if (fit != CXmlObject::ValueRefused)
            fieldChanged(field);
        if (fit != CXmlObject::ValueTaken && verdict == CXmlObject::ValueTaken)
        {
            verdict = fit;
            if (reason)
                *reason = why;
            if (held)
                *held = field->getValue();
        }
    }
    return verdict;
}

QList<CDocument::CValueNote> CDocument::refusedValues() const
{
    QList<CValueNote> standing;
    for (const CValueNote& note : m_lRefused)
    {
        if (note.m_pGuard || !dynamic_cast<QObject*>(note.m_pField))
            standing.append(note);
    }
    return standing;
}

void CDocument::fieldChanged(CXmlObject* field)
{
    for (int i = m_lRefused.size() - 1; i >= 0; --i)
    {
        if (m_lRefused.at(i).m_pField == field)
            m_lRefused.removeAt(i);
    }
}

QList<CXmlObject*> CDocument::missingSecrets() const
{
    return m_secrets.missing(m_pRoot);
}

bool CDocument::saveTo(const QString& path, bool withSecrets) const
{
    return CCustomizationFile::write(path, m_sourceFile, m_lastPublishedFile,
                                     entries(false, withSecrets), nullptr,
                                     withSecrets && holdsSecretValues());
}

bool CDocument::holdsSecretValues() const
{
    const QMultiMap<QString, CXmlObject*> properties = collectProperties(false);
    for (auto it = properties.constBegin(); it != properties.constEnd(); ++it)
    {
        if (CSecretProperty::isSecret(it.value()) && !it.value()->getValue().isEmpty())
            return true;
    }
    return false;
}

// ---------------------------------------------------------------------------
// Publishing

QString CDocument::publishRefusal() const
{
    if (isTestDefinition(m_sourceFile.filePath()))
        return QCoreApplication::translate("CAdminPage",
                                           "The AdminConfig.xml can not be saved or published. It "
                                           "is only used for testing purposes.");
    const QList<CValueNote> refused = refusedValues();
    if (!refused.isEmpty())
    {
        QStringList lines;
        for (const CValueNote& note : refused)
            lines << tr("%1 (%2): %3 %4")
                         .arg(note.m_sProperty, note.m_sWidget,
                              note.m_bSecret ? tr("the secret value")
                                             : CShownText::quoted(note.m_sValue),
                              note.m_sReason);
        return tr("Tessary cannot publish: the customization gives values their fields do not "
                  "take, and the installer would not get what was meant. Correct these fields, "
                  "and then try again:\n%1")
            .arg(lines.join(QLatin1Char('\n')));
    }
    const QStringList invalid = CPropertyText::invalidShellNames(publishedProperties());
    if (!invalid.isEmpty())
        return QCoreApplication::translate(
                   "CAdminPage",
                   "Tessary cannot publish the property \"%1\": its name is not a valid shell "
                   "variable name. A name may hold only letters, digits and \"_\" and must not "
                   "begin with a digit. Correct the installer's page definition, and then try "
                   "again.")
            .arg(invalid.join(QStringLiteral("\", \"")));
    return QString();
}

bool CDocument::runChecks()
{
    m_pRoot->setPublishAllowed(true);
    m_pRoot->runValidateActions();
    return m_pRoot->publishAllowed();
}

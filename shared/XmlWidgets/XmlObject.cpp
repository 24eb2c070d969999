#include "XmlObject.h"

#include "ActionItem.h"
#include "WidgetFactory.h"
#include "XmlContainer.h"
#include "XmlDefinitionReader.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFileInfo>
#include <QHash>
#include <QImageReader>
#include <QPixmap>
#include <QRegularExpression>
#include <QStack>
#include <tinyxml.h>

#ifdef TESSARY_HAVE_LOCALIZATION
#include <localization/Localization.h>
#include <localization/Localizer.h>
#endif

orbilib::utils::CVersion CXmlObject::m_gCurrentXmlVersion;
quint64 CXmlObject::m_gNextCreationSerial = 0;
quint64 CXmlObject::m_gTreeGeneration = 0;

// Real definitions nest a handful of levels; this leaves ample room while
// keeping TinyXML's and our own recursion far from the stack's end.
const int CXmlObject::m_gMaxElementDepth = CXmlDefinitionReader::m_gMaxElementDepth;

namespace
{
const char* const kDownloadAddress = "https://www.korva.example/tessary/download";
const char* const kSupportAddress = "https://www.korva.example/support";

// Embedded images are icons and small pictures; anything larger than this is
// refused before decoding so a forged header cannot demand gigabytes.
const qint64 kMaxImagePixels = 8192LL * 8192LL;

QString currentLanguage()
{
#ifdef TESSARY_HAVE_LOCALIZATION
    if (const std::shared_ptr<Localization::Localizer> localizer = Localization::GetInstance())
    {
        const QString code = QString::fromStdWString(localizer->GetLanguageCode());
        if (!code.isEmpty())
            return code;
    }
#endif
    return QStringLiteral("en_US");
}

QString message(const char* text)
{
    return QCoreApplication::translate("CXmlObject", text);
}

// The objects of one tree by name, as of one tree generation.
struct CNameIndex
{
    const CXmlObject* m_pRoot = nullptr;
    quint64 m_nGeneration = 0;
    QHash<QString, QList<CXmlObject*>> m_objects;
};

CNameIndex& nameIndex()
{
    static CNameIndex index;
    return index;
}
} // namespace

CXmlObject::CXmlObject(CXmlObject* parent)
    : m_pParent(parent), m_sLanguage(currentLanguage()), m_nCreationSerial(m_gNextCreationSerial++)
{
    if (m_pParent)
        m_pParent->m_lChildren.append(this);
    ++m_gTreeGeneration;
}

CXmlObject::~CXmlObject()
{
    ++m_gTreeGeneration;
    if (m_pParent)
        m_pParent->m_lChildren.removeAll(this);
    // Children are owned by their Qt parents (or by us, for actions): only detach them.
    for (CXmlObject* child : qAsConst(m_lChildren))
        child->m_pParent = nullptr;
    m_lChildren.clear();
    QList<CActionItem*> actions;
    actions.swap(m_lActions);
    qDeleteAll(actions);
}

int CXmlObject::parse(TiXmlElement* element, QString& error)
{
    m_pLoadedXmlDeprecated.reset();
    if (!element)
    {
        error = message("No element to read the object from.");
        return ParseError;
    }
    if (elementDepth(element) > m_gMaxElementDepth)
    {
        error = message("Elements are nested deeper than %1 levels.").arg(m_gMaxElementDepth);
        return ParseError;
    }

    if (!m_gCurrentXmlVersion.isEmpty())
    {
        if (const char* minimum = element->Attribute("versionmin"))
        {
            const orbilib::utils::CVersion required(QString::fromUtf8(minimum).toStdWString());
            if (m_gCurrentXmlVersion < required)
            {
                error = message("Your version of Tessary is out of date. Please download the "
                                "latest version from %1.")
                            .arg(QStringLiteral("<a href=\"%1\">%1</a>")
                                     .arg(QLatin1String(kDownloadAddress)));
                return ParseSkip;
            }
        }
        if (const char* maximum = element->Attribute("versionmax"))
        {
            const orbilib::utils::CVersion allowed(QString::fromUtf8(maximum).toStdWString());
            if (m_gCurrentXmlVersion > allowed)
            {
                error = message("Your version of Tessary is too new for this file. Please "
                                "contact KORVA Support (%1).")
                            .arg(QLatin1String(kSupportAddress));
                return ParseSkip;
            }
        }
    }

    setName(QString::fromUtf8(element->Attribute("name")));
    m_sProperty = QString::fromUtf8(element->Attribute("property"));
    if (const char* defaultValue = element->Attribute("default"))
        setDefaultValue(QString::fromUtf8(defaultValue));
    if (const char* allowEmpty = element->Attribute("allowempty"))
    {
        const QString value = convertAttribute(allowEmpty);
        if (!parseBoolean(value, m_bAllowEmpty))
        {
            error = message("Incorrect value for \"allowempty\" attribute in object \"%1\": %2")
                        .arg(m_sName, value);
            return ParseError;
        }
    }

    // Anything but an explicit "no" counts: a misspelt yes must not expose a secret.
    if (const char* secret = element->Attribute("secret"))
    {
        const QString value = convertAttribute(secret).trimmed().toLower();
        m_bSecret = !value.isEmpty() && value != QLatin1String("0") &&
                    value != QLatin1String("f") && value != QLatin1String("false");
    }

    for (TiXmlElement* child = element->FirstChildElement(); child;
         child = child->NextSiblingElement())
    {
        const QString name = QString::fromUtf8(child->Value()).toLower();
        if (!isSupportedOS(convertAttribute(child->Attribute("os"))))
            continue;
        CActionItem* action = nullptr;
        if (name == QLatin1String("action"))
            action = new CActionItem(this);
        else if (CXmlContainer::m_pStaticWidgetFactory)
            action = CXmlContainer::m_pStaticWidgetFactory->createCustomAction(name, this, error);
        if (!action)
            continue;
        action->setKind(name);
        const int result = action->parse(child, error);
        if (result == ParseSuccess)
        {
            m_lActions.append(action);
            continue;
        }
        delete action;
        if (result == ParseError)
            return ParseError;
    }
    return ParseSuccess;
}

bool CXmlObject::performAction(const QString& /*slot*/, const CActionItem* /*action*/)
{
    return false;
}

void CXmlObject::setValue(const QString& /*value*/) {}

QString CXmlObject::getValue() const
{
    return QString();
}

void CXmlObject::setDefaultValue(const QString& value)
{
    m_sDefaultValue = value;
    m_bHasDefault = true;
}

QString CXmlObject::getDefaultValue() const
{
    return m_sDefaultValue;
}

bool CXmlObject::isEmpty() const
{
    return getValue().isEmpty();
}

CXmlObject::ValueFit CXmlObject::offerValue(const QString& value, QString* reason)
{
    const QString previous = getValue();
    setValue(value);
    if (getValue() == value)
        return ValueTaken;
    setValue(previous);
    if (reason)
    {
        const QString rule = valueRule().m_sText;
        *reason = rule.isEmpty() ? translate("is not taken by the field")
                                 : translate("is not %1").arg(rule);
    }
    return ValueRefused;
}

CValueRule CXmlObject::valueRule() const
{
    return CValueRule();
}

int CXmlObject::initSignal(const QString& /*signal*/, const CActionItem* /*action*/,
                           TiXmlElement* /*element*/, QString& /*error*/)
{
    return ParseSuccess;
}

int CXmlObject::initActions(QString& error)
{
    // Indexed: an action may create or drop objects while it resolves.
    for (int i = 0; i < m_lChildren.size(); ++i)
    {
        if (m_lChildren.at(i)->initActions(error) == ParseError)
            return ParseError;
    }
    return ParseSuccess;
}

void CXmlObject::initValues()
{
    // Still uninitialised here, so applying the default raises no notification.
    if (m_bHasDefault)
        setValue(m_sDefaultValue);
    m_bInitialized = true;
    for (int i = 0; i < m_lChildren.size(); ++i)
        m_lChildren.at(i)->initValues();
}

int CXmlObject::init(QString& error)
{
    const int result = initActions(error);
    if (result == ParseSuccess)
        initValues();
    return result;
}

void CXmlObject::resetChanged(bool recursive)
{
    if (!m_bChanged)
        return;
    m_bChanged = false;
    if (recursive)
    {
        for (int i = 0; i < m_lChildren.size(); ++i)
            m_lChildren.at(i)->resetChanged(true);
    }
}

void CXmlObject::changed()
{
    if (m_bInitialized)
        changeNotification(this, this);
}

void CXmlObject::changeNotification(CXmlObject* /*child*/, CXmlObject* source)
{
    m_bChanged = true;
    if (m_pParent)
        m_pParent->changeNotification(this, source);
}

void CXmlObject::onMouseOverWidgetImpl(const QString& /*text*/) {}

void CXmlObject::detachFromParent()
{
    if (m_pParent)
        m_pParent->m_lChildren.removeAll(this);
    m_pParent = nullptr;
    ++m_gTreeGeneration;
}

void CXmlObject::setName(const QString& name)
{
    m_sName = name;
    ++m_gTreeGeneration;
}

void CXmlObject::discardDefinition()
{
    QList<CActionItem*> actions;
    actions.swap(m_lActions);
    qDeleteAll(actions);
    setName(QString());
    m_sProperty.clear();
    m_sDefaultValue.clear();
    m_bHasDefault = false;
    m_bAllowEmpty = false;
    m_bSecret = false;
    m_bChanged = false;
    m_bInitialized = false;
    m_pLoadedXmlDeprecated.reset();
}

QList<CXmlObject*> CXmlObject::findChildObjects(const QString& name) const
{
    QList<CXmlObject*> found;
    if (!m_pParent && m_sName == name)
        found.append(const_cast<CXmlObject*>(this));
    // Iterative pre-order walk: a hostile tree must not exhaust the stack.
    QStack<const CXmlObject*> pending;
    for (int i = m_lChildren.size() - 1; i >= 0; --i)
        pending.push(m_lChildren.at(i));
    while (!pending.isEmpty())
    {
        const CXmlObject* object = pending.pop();
        if (object->m_sName == name)
            found.append(const_cast<CXmlObject*>(object));
        for (int i = object->m_lChildren.size() - 1; i >= 0; --i)
            pending.push(object->m_lChildren.at(i));
    }
    return found;
}

QList<CXmlObject*> CXmlObject::installationProperties() const
{
    QList<CXmlObject*> found;
    QStack<const CXmlObject*> pending;
    pending.push(this);
    while (!pending.isEmpty())
    {
        const CXmlObject* object = pending.pop();
        if (!object->m_sProperty.isEmpty() && !object->m_sName.isEmpty())
            found.append(const_cast<CXmlObject*>(object));
        for (int i = object->m_lChildren.size() - 1; i >= 0; --i)
            pending.push(object->m_lChildren.at(i));
    }
    return found;
}

QList<CXmlObject*> CXmlObject::findNamedObjects(const QString& name) const
{
    CNameIndex& index = nameIndex();
    if (index.m_pRoot != this || index.m_nGeneration != m_gTreeGeneration)
    {
        index.m_objects.clear();
        index.m_pRoot = nullptr;
        // The order of findChildObjects: depth-first, each object before its children.
        if (!m_pParent)
            index.m_objects[m_sName].append(const_cast<CXmlObject*>(this));
        QStack<const CXmlObject*> pending;
        for (int i = m_lChildren.size() - 1; i >= 0; --i)
            pending.push(m_lChildren.at(i));
        while (!pending.isEmpty())
        {
            const CXmlObject* object = pending.pop();
            index.m_objects[object->m_sName].append(const_cast<CXmlObject*>(object));
            for (int i = object->m_lChildren.size() - 1; i >= 0; --i)
                pending.push(object->m_lChildren.at(i));
        }
        index.m_pRoot = this;
        index.m_nGeneration = m_gTreeGeneration;
    }
    return index.m_objects.value(name);
}

CXmlObject* CXmlObject::rootObject() const
{
    const CXmlObject* object = this;
    while (object->m_pParent)
        object = object->m_pParent;
    return const_cast<CXmlObject*>(object);
}

QString CXmlObject::convertAttribute(const char* value) const
{
    if (!value)
        return QString();
    return QString::fromUtf8(value)
        .replace(QLatin1String("%OS%"), QLatin1String("Mac"))
        .replace(QLatin1String("%LANGUAGE%"), m_sLanguage);
}

QString CXmlObject::convertFileAttribute(const char* value) const
{
    if (!value)
        return QString();
    const QString text =
        QString::fromUtf8(value).replace(QLatin1String("%OS%"), QLatin1String("Mac"));
    const QString current = QString(text).replace(QLatin1String("%LANGUAGE%"), m_sLanguage);
    if (QFileInfo(current).isFile())
        return current;
    const QString english =
        QString(text).replace(QLatin1String("%LANGUAGE%"), QLatin1String("en_US"));
    if (QFileInfo(english).isFile())
        return english;
    return current;
}

QString CXmlObject::translate(const char* text) const
{
    if (!text)
        return QString();
    return QCoreApplication::translate("QObject", text);
}

QByteArray CXmlObject::elementData(TiXmlElement* element) const
{
    const char* text = element ? element->GetText() : nullptr;
    if (!text)
        return QByteArray();
    // Encoded data is often wrapped over lines; the layout is not part of it.
    QByteArray encoded(text);
    encoded.replace(' ', QByteArray()).replace('\t', QByteArray());
    encoded.replace('\n', QByteArray()).replace('\r', QByteArray());
    // Strict decoding: stray characters mean the data is damaged, not to be guessed at.
    const QByteArray::FromBase64Result decoded =
        QByteArray::fromBase64Encoding(encoded, QByteArray::AbortOnBase64DecodingErrors);
    return decoded ? decoded.decoded : QByteArray();
}

int CXmlObject::readPixmap(TiXmlElement* element, QPixmap& pixmap) const
{
    if (!element || !element->GetText())
        return ParseSkip;
    const QByteArray data = elementData(element);
    if (data.isEmpty())
        return ParseError;
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "PNG");
    const QSize size = reader.size();
    if (!size.isValid() || qint64(size.width()) * size.height() > kMaxImagePixels)
        return ParseError;
    const QImage image = reader.read();
    if (image.isNull())
        return ParseError;
    pixmap = QPixmap::fromImage(image);
    return pixmap.isNull() ? ParseError : ParseSuccess;
}

bool CXmlObject::isSupportedOS(const QString& list) const
{
    if (list.isEmpty() || list.compare(QLatin1String("any"), Qt::CaseInsensitive) == 0 ||
        list == QLatin1String("*"))
        return true;
    // White space before a comma goes; white space after one stays with the next item.
    static const QRegularExpression separator(QStringLiteral("\\s*,"));
    const QStringList items = list.toLower().split(separator);
    return items.contains(QLatin1String("mac"));
}

void CXmlObject::setLoadedXmlDeprecated(
    const std::shared_ptr<CustomWidgetObsoleteException>& pException)
{
    m_pLoadedXmlDeprecated = pException;
}

bool CXmlObject::parseBoolean(const QString& value, bool& result)
{
    const QString lower = value.toLower();
    if (lower == QLatin1String("t") || lower == QLatin1String("true"))
    {
        result = true;
        return true;
    }
    if (lower == QLatin1String("f") || lower == QLatin1String("false"))
    {
        result = false;
        return true;
    }
    return false;
}

int CXmlObject::elementDepth(const TiXmlElement* element)
{
    // Counting stops just past the limit: that is all callers need to know.
    int depth = 0;
    for (const TiXmlNode* node = element; node && depth <= m_gMaxElementDepth;
         node = node->Parent())
    {
        if (node->Type() == TiXmlNode::TINYXML_ELEMENT)
            ++depth;
    }
    return depth;
}

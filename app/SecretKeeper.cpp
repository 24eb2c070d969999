#include "SecretKeeper.h"

#include "SecretProperty.h"

#include <XmlObject.h>

#include <QStack>
#include <tinyxml.h>

const char* const CSecretKeeper::OmittedAttribute = "omitted";

namespace
{
QString attribute(const TiXmlElement* element, const char* name)
{
    const char* value = element->Attribute(name);
    return QString::fromUtf8(value ? value : "");
}

// Pre-order, without recursion: trees come from untrusted definitions.
template <typename Visit> void walk(const CXmlObject* tree, Visit visit)
{
    QStack<const CXmlObject*> pending;
    pending.push(tree);
    while (!pending.isEmpty())
    {
        const CXmlObject* const object = pending.pop();
        visit(object);
        const QList<CXmlObject*>& children = object->childObjects();
        for (int i = children.size() - 1; i >= 0; --i)
            pending.push(children.at(i));
    }
}
} // namespace

void CSecretKeeper::reset()
{
    m_bStoreSecrets = false;
    m_lOmitted.clear();
}

bool CSecretKeeper::omitOnSave(const CXmlObject* object, bool storeSecrets)
{
    // An empty secret holds nothing worth hiding and needs no asking for later.
    return !storeSecrets && CSecretProperty::isSecret(object) && !object->getValue().isEmpty();
}

bool CSecretKeeper::isOmitted(const TiXmlElement* property)
{
    return property && property->Attribute(OmittedAttribute) != nullptr;
}

void CSecretKeeper::noteLoaded(const TiXmlElement* root, const CXmlObject* tree,
                               bool adoptStoreChoice)
{
    const TiXmlElement* const properties = root ? root->FirstChildElement("properties") : nullptr;
    if (!properties || !tree)
        return;
    bool holdsSecrets = false;
    for (const TiXmlElement* property = properties->FirstChildElement("property"); property;
         property = property->NextSiblingElement("property"))
    {
        const QString widget = attribute(property, "widget");
        const QString name = attribute(property, "name");
        if (isOmitted(property))
        {
            const QPair<QString, QString> key(widget, name);
            if (!m_lOmitted.contains(key))
                m_lOmitted.append(key);
            continue;
        }
        const char* text = property->Attribute("value");
        if (!text)
            text = property->GetText();
        if (!text || !*text)
            continue;
        for (const CXmlObject* object : tree->findNamedObjects(widget))
            holdsSecrets =
                holdsSecrets || (object->property() == name && CSecretProperty::isSecret(object));
    }
    if (adoptStoreChoice)
        m_bStoreSecrets = holdsSecrets;
}

QList<CXmlObject*> CSecretKeeper::missing(const CXmlObject* tree) const
{
    QList<CXmlObject*> found;
    if (m_lOmitted.isEmpty() || !tree)
        return found;
    walk(tree,
         [&](const CXmlObject* object)
         {
             if (!object->property().isEmpty() &&
                 m_lOmitted.contains(qMakePair(object->name(), object->property())) &&
                 object->getValue().isEmpty())
                 found.append(const_cast<CXmlObject*>(object));
         });
    return found;
}

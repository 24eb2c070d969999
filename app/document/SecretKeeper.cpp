#include "SecretKeeper.h"

#include "SecretProperty.h"

#include "shared/XmlWidgets/XmlObject.h"

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

void CSecretKeeper::noteLoaded(const QList<CCustomizationFile::CEntry>& entries,
                               const CXmlObject* tree, bool adoptStoreChoice)
{
    if (!tree)
        return;
    bool holdsSecrets = false;
    for (const CCustomizationFile::CEntry& entry : entries)
    {
        if (CCustomizationFile::noteOmitted(entry, m_lOmitted))
            continue;
        if (entry.m_sValue.isEmpty())
            continue;
        for (const CXmlObject* object : tree->findNamedObjects(entry.m_sWidget))
            holdsSecrets = holdsSecrets || (object->property() == entry.m_sProperty &&
                                            CSecretProperty::isSecret(object));
    }
    if (adoptStoreChoice)
        m_bStoreSecrets = holdsSecrets;
}

QList<CXmlObject*> CSecretKeeper::missing(const CXmlObject* tree) const
{
    QList<CXmlObject*> found;
    if (m_lOmitted.isEmpty() || !tree)
        return found;
    for (CXmlObject* object : tree->installationProperties())
    {
        if (m_lOmitted.contains(qMakePair(object->name(), object->property())) &&
            object->getValue().isEmpty())
            found.append(object);
    }
    return found;
}

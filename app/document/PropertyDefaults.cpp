#include "PropertyDefaults.h"

#include "shared/XmlWidgets/XmlObject.h"

void CPropertyDefaults::capture(const QMultiMap<QString, CXmlObject*>& properties)
{
    m_values.clear();
    for (auto it = properties.constBegin(); it != properties.constEnd(); ++it)
        m_values.insert(it.value(), it.value()->getValue());
}

bool CPropertyDefaults::differs(const CXmlObject* object) const
{
    const auto found = m_values.constFind(object);
    return found == m_values.constEnd() || found.value() != object->getValue();
}

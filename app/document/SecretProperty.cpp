#include "SecretProperty.h"

#include "app/document/DocumentProperty.h"

#include "shared/XmlWidgets/XmlObject.h"

#include <QCoreApplication>
#include <QStringList>

bool CSecretProperty::nameLooksSecret(const QString& property)
{
    return CDocumentProperty::nameLooksSecret(property);
}

bool CSecretProperty::isSecret(const CXmlObject* object)
{
    return object && (object->isSecret() || nameLooksSecret(object->property()));
}

QString CSecretProperty::shownValue(const QString& value)
{
    return value.isEmpty() ? QCoreApplication::translate("CSecretProperty", "not set")
                           : QCoreApplication::translate("CSecretProperty", "set");
}

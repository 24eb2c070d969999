#include "SecretProperty.h"

#include "shared/XmlWidgets/XmlObject.h"

#include <QCoreApplication>
#include <QStringList>

bool CSecretProperty::nameLooksSecret(const QString& property)
{
    static const char* const words[] = {"TOKEN", "PASSWORD", "PASSWD", "SECRET", "APIKEY"};
    for (const char* word : words)
    {
        if (property.contains(QLatin1String(word), Qt::CaseInsensitive))
            return true;
    }
    return false;
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

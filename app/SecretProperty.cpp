#include "SecretProperty.h"

#include <XmlObject.h>

#include <QCoreApplication>
#include <QStringList>

bool CSecretProperty::nameLooksSecret(const QString& property)
{
    static const QStringList words{QStringLiteral("TOKEN"), QStringLiteral("PASSWORD"),
                                   QStringLiteral("PASSWD"), QStringLiteral("SECRET"),
                                   QStringLiteral("APIKEY")};
    for (const QString& word : words)
    {
        if (property.contains(word, Qt::CaseInsensitive))
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

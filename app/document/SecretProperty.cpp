#include "SecretProperty.h"

#include "shared/XmlWidgets/XmlObject.h"

#include <QCoreApplication>
#include <QStringList>

bool CSecretProperty::nameLooksSecret(const QString& property)
{
    // Long enough to mean a secret wherever they stand in a name.
    static const char* const parts[] = {"TOKEN",  "PASSWORD",   "PASSWD", "PASSPHRASE",
                                        "SECRET", "CREDENTIAL", "APIKEY", "API_KEY"};
    for (const char* part : parts)
    {
        if (property.contains(QLatin1String(part), Qt::CaseInsensitive))
            return true;
    }
    // Short ones only as words of their own ("DB_PWD", not "PWDEBUG"): inside longer
    // words they would hide values that are no secret. Asked for every field shown,
    // so the name is walked, not split.
    static const char* const words[] = {"PWD"};
    int start = 0;
    for (int i = 0; i <= property.size(); ++i)
    {
        if (i < property.size() && property.at(i).isLetterOrNumber())
            continue;
        const QStringRef word = property.midRef(start, i - start);
        for (const char* secret : words)
        {
            if (word.compare(QLatin1String(secret), Qt::CaseInsensitive) == 0)
                return true;
        }
        start = i + 1;
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

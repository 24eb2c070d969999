#pragma once

#include <QString>

class CXmlObject;

// Which installation properties hold secrets (enrollment tokens, passwords, keys),
// and how such a value is shown where it must not be read.
class CSecretProperty
{
public:
    // A name that says it holds a secret: TOKEN, PASSWORD, PASSWD, SECRET or APIKEY,
    // in any letter case, anywhere in the name.
    static bool nameLooksSecret(const QString& property);
    // Marked secret by its element, or named like a secret.
    static bool isSecret(const CXmlObject* object);
    // "set" or "not set", never the value itself.
    static QString shownValue(const QString& value);
};

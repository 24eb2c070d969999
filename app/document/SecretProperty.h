#pragma once

#include <QString>

class CXmlObject;

// Which installation properties hold secrets (enrollment tokens, passwords, keys),
// and how such a value is shown where it must not be read.
class CSecretProperty
{
public:
    // A name that says it holds a secret, in any letter case: TOKEN, PASSWORD,
    // PASSWD, PASSPHRASE, SECRET, CREDENTIAL, APIKEY or API_KEY anywhere in the name,
    // or PWD as a word of its own (between non-alphanumeric characters or the ends).
    static bool nameLooksSecret(const QString& property);
    // Marked secret by its element, or named like a secret.
    static bool isSecret(const CXmlObject* object);
    // "set" or "not set", never the value itself.
    static QString shownValue(const QString& value);
};

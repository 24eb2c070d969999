#pragma once

#include <QByteArray>
#include <QString>

class QNetworkReply;

// One check of a fetched web resource.
class IValidator
{
public:
    virtual ~IValidator();

    // True when the reply passes; otherwise false with a one-line reason in error.
    virtual bool validate(QNetworkReply* reply, const QByteArray& body, QString& error) = 0;
};

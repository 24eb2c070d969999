#pragma once

#include "XmlWellFormedValidator.h"

// Passes when the body is well-formed XML whose root element is "wsdl:definitions".
class WsdlValidator : public XmlWellFormedValidator
{
public:
    WsdlValidator();
    ~WsdlValidator() override;

    bool validate(QNetworkReply* reply, const QByteArray& body, QString& error) override;
};

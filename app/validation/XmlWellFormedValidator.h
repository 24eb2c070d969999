#pragma once

#include "IValidator.h"

#include <memory>

class QDomDocument;

// Passes when the body parses as XML, without a document type definition and
// nested no deeper than MaxDepth; keeps the root element for subclasses.
class XmlWellFormedValidator : public IValidator
{
public:
    static const int MaxDepth = 1024;

    XmlWellFormedValidator();
    ~XmlWellFormedValidator() override;

    bool validate(QNetworkReply* reply, const QByteArray& body, QString& error) override;

    // The root element of the last call's body (with its attributes, without
    // children); empty when that body did not parse.
    const std::shared_ptr<QDomDocument>& document() const { return m_pDocument; }

protected:
    std::shared_ptr<QDomDocument> m_pDocument;
};

#pragma once

#include "IValidator.h"

#include <memory>

class QDomDocument;

// Passes when the body parses as XML; keeps the parsed document for subclasses.
class XmlWellFormedValidator : public IValidator
{
public:
    XmlWellFormedValidator();
    ~XmlWellFormedValidator() override;

    bool validate(QNetworkReply* reply, const QByteArray& body, QString& error) override;

    // The document of the last call; empty when that body did not parse.
    const std::shared_ptr<QDomDocument>& document() const { return m_pDocument; }

protected:
    std::shared_ptr<QDomDocument> m_pDocument;
};

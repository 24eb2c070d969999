#include "XmlWellFormedValidator.h"

#include <QDomDocument>

XmlWellFormedValidator::XmlWellFormedValidator() : m_pDocument(std::make_shared<QDomDocument>()) {}

XmlWellFormedValidator::~XmlWellFormedValidator() = default;

bool XmlWellFormedValidator::validate(QNetworkReply* /*reply*/, const QByteArray& body,
                                      QString& error)
{
    auto document = std::make_shared<QDomDocument>();
    QString message;
    int line = 0;
    int column = 0;
    if (!document->setContent(body, &message, &line, &column))
    {
        m_pDocument = std::make_shared<QDomDocument>();
        error =
            QStringLiteral("Document is not well-formed XML: %1")
                .arg(QStringLiteral("%1 (line %2, column %3)").arg(message).arg(line).arg(column));
        return false;
    }
    m_pDocument = document;
    return true;
}

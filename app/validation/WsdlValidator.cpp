#include "WsdlValidator.h"

#include <QDomDocument>
#include <QDomElement>

WsdlValidator::WsdlValidator() = default;

WsdlValidator::~WsdlValidator() = default;

bool WsdlValidator::validate(QNetworkReply* reply, const QByteArray& body, QString& error)
{
    if (!XmlWellFormedValidator::validate(reply, body, error))
        return false;
    // Service descriptions are recognised by their conventional prefix, as written.
    if (m_pDocument->documentElement().nodeName() != QLatin1String("wsdl:definitions"))
    {
        error = QStringLiteral("Document is well-formed XML, but does not appear to be WSDL.");
        return false;
    }
    return true;
}

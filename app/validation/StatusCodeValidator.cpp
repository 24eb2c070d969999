#include "StatusCodeValidator.h"

#include <QNetworkReply>
#include <QNetworkRequest>

StatusCodeValidator::StatusCodeValidator(StatusGroup group) : m_Group(group) {}

StatusCodeValidator::~StatusCodeValidator() = default;

void StatusCodeValidator::addExpectedCode(int code)
{
    m_lExpectedCodes.append(code);
}

bool StatusCodeValidator::validate(QNetworkReply* reply, const QByteArray& /*body*/, QString& error)
{
    const int status =
        reply ? reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() : 0;
    if ((m_Group == Group2xx && status >= 200 && status <= 299) ||
        m_lExpectedCodes.contains(status))
        return true;
    error = QStringLiteral("Received unexpected HTTP status code: %1").arg(status);
    return false;
}

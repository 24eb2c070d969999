#pragma once

#include "IValidator.h"

#include <QList>

// Passes when the HTTP status is in the 2xx group (when asked for) or one of the
// expected codes.
class StatusCodeValidator : public IValidator
{
public:
    enum StatusGroup
    {
        NoGroup = 0,
        Group2xx = 1
    };

    explicit StatusCodeValidator(StatusGroup group);
    ~StatusCodeValidator() override;

    void addExpectedCode(int code);
    bool validate(QNetworkReply* reply, const QByteArray& body, QString& error) override;

    StatusGroup group() const { return m_Group; }
    const QList<int>& expectedCodes() const { return m_lExpectedCodes; }

private:
    StatusGroup m_Group;
    QList<int> m_lExpectedCodes;
};

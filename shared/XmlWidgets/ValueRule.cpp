#include "ValueRule.h"

#include <QCoreApplication>

CValueRule CValueRule::oneOf(const QStringList& choices)
{
    CValueRule rule;
    rule.m_lChoices = choices;
    QStringList quoted;
    for (const QString& choice : choices)
        quoted << QLatin1Char('"') + choice + QLatin1Char('"');
    rule.m_sText = QCoreApplication::translate("CXmlObject", "one of %1")
                       .arg(quoted.join(QStringLiteral(", ")));
    return rule;
}

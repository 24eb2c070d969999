#include "CheckResults.h"

#include "ValidateWebResource.h"

#include <QCoreApplication>
#include <QUrl>

namespace
{
// Written and read on the GUI thread only.
QString g_sTitle;
QStringList g_lLines;
// A definition cannot grow the list without end by running checks again and again.
const int kMaxLines = 1000;
} // namespace

void CCheckResults::begin(const QString& title)
{
    g_sTitle = title;
    g_lLines.clear();
}

void CCheckResults::record(const QString& name, const QString& address, bool passed,
                           const QString& reason)
{
    if (g_lLines.size() >= kMaxLines)
        return;
    QString line;
    if (!g_sTitle.isEmpty())
        line += g_sTitle + QStringLiteral(": ");
    const QString shown = ValidateWebResource::displayText(QUrl(address));
    line += name.isEmpty() ? shown : name + QStringLiteral(" (") + shown + QLatin1Char(')');
    line += QStringLiteral(": ");
    line += passed ? QCoreApplication::translate("CCheckResults", "passed")
                   : QCoreApplication::translate("CCheckResults", "failed") +
                         (reason.isEmpty() ? QString() : QStringLiteral(": ") + reason);
    g_lLines.append(line);
}

QStringList CCheckResults::lines()
{
    return g_lLines;
}

void CCheckResults::clear()
{
    g_sTitle.clear();
    g_lLines.clear();
}

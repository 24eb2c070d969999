#include "CommandLine.h"

#include <QFileInfo>

namespace
{
// On Unix an absolute path also begins with "/": an argument that names an
// existing file or directory is the file to open, not an option.
bool isExistingPath(const QString& argument)
{
    return argument.size() > 1 && QFileInfo::exists(argument);
}
} // namespace

CCommandLine::CCommandLine(const QStringList& arguments)
{
    for (const QString& argument : arguments)
    {
        if (argument.startsWith(QLatin1Char('-')))
            m_lOptions.append(argument.toLower().remove(QLatin1Char('-')));
        else if (argument.startsWith(QLatin1Char('/')) && !isExistingPath(argument))
            m_lOptions.append(argument.toLower().remove(QLatin1Char('/')));
        else
            m_sFile = argument;
    }
}

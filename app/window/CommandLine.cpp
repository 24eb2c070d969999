#include "CommandLine.h"

#include <QFileInfo>

namespace
{
// On Unix an absolute path also begins with "/": an argument that names an
// existing file or directory is the file to open, not an option; so is one that
// is plainly a path (a folder part, or the suffix of a file the program opens),
// so that a missing file is reported as such instead of being taken as an option.
bool isPath(const QString& argument)
{
    if (argument.size() > 1 && QFileInfo::exists(argument))
        return true;
    const int slash = argument.indexOf(QLatin1Char('/'), 1);
    if (slash > 0 && slash + 1 < argument.size())
        return true;
    static const QStringList suffixes{QStringLiteral("xml"), QStringLiteral("pkg"),
                                      QStringLiteral("mpkg"), QStringLiteral("dmg"),
                                      QStringLiteral("package")};
    return suffixes.contains(QFileInfo(argument).suffix().toLower());
}
} // namespace

CCommandLine::CCommandLine(const QStringList& arguments)
{
    for (const QString& argument : arguments)
    {
        if (argument.startsWith(QLatin1Char('-')))
            m_lOptions.append(argument.toLower().remove(QLatin1Char('-')));
        else if (argument.startsWith(QLatin1Char('/')) && !isPath(argument))
            m_lOptions.append(argument.toLower().remove(QLatin1Char('/')));
        else
            m_sFile = argument;
    }
}

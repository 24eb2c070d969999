#include "LanguageCode.h"

#include <QRegularExpression>
#include <cstdlib>

namespace Localization
{

QString LanguageCode::normalize(const QString& localeName)
{
    QString name = localeName.trimmed();
    // Modifier ("@euro") and encoding (".UTF-8") are not part of the language.
    const int at = name.indexOf(QLatin1Char('@'));
    if (at >= 0)
        name.truncate(at);
    const int dot = name.indexOf(QLatin1Char('.'));
    if (dot >= 0)
        name.truncate(dot);
    if (name.isEmpty() || name == QLatin1String("C") || name == QLatin1String("POSIX"))
        return QString();

    static const QRegularExpression pattern(
        QStringLiteral("^([A-Za-z]{2,3})(?:[_-]([A-Za-z]{2}|[0-9]{3}))?$"));
    const QRegularExpressionMatch match = pattern.match(name);
    if (!match.hasMatch())
        return QString();
    QString code = match.captured(1).toLower();
    if (!match.captured(2).isEmpty())
        code += QLatin1Char('_') + match.captured(2).toUpper();
    return code;
}

QString LanguageCode::fromEnvironment()
{
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"})
    {
        const char* value = std::getenv(variable);
        if (value && *value)
        {
            // The first variable that is set decides, as for the C library.
            const QString code = normalize(QString::fromLocal8Bit(value));
            return code.isEmpty() ? QString::fromLatin1(DefaultCode) : code;
        }
    }
    return QString::fromLatin1(DefaultCode);
}

QStringList LanguageCode::fallbackChain(const QString& code)
{
    QStringList chain;
    if (code.isEmpty())
        return chain;
    chain << code;
    const int underscore = code.indexOf(QLatin1Char('_'));
    if (underscore > 0)
        chain << code.left(underscore);
    return chain;
}

} // namespace Localization

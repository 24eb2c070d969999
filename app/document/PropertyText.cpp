#include "PropertyText.h"

bool CPropertyText::isPublished(const QString& name)
{
    return !name.startsWith(QLatin1String("$PKG_")) && !name.startsWith(QLatin1String("$AI_"));
}

bool CPropertyText::isShellName(const QString& name)
{
    if (name.isEmpty())
        return false;
    for (int i = 0; i < name.size(); ++i)
    {
        const ushort c = name.at(i).unicode();
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
        const bool digit = c >= '0' && c <= '9';
        if (!letter && !(digit && i > 0))
            return false;
    }
    return true;
}

QStringList CPropertyText::invalidShellNames(const Properties& properties)
{
    QStringList names;
    for (const QPair<QString, QString>& property : properties)
    {
        if (!isShellName(property.first) && !names.contains(property.first))
            names.append(property.first);
    }
    return names;
}

QString CPropertyText::shellQuoted(const QString& value)
{
    QString quoted = value;
    quoted.replace(QLatin1Char('\''), QLatin1String("'\"'\"'"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

QString CPropertyText::shellText(const Properties& properties)
{
    QString text;
    for (const QPair<QString, QString>& property : properties)
    {
        if (!isShellName(property.first))
            continue;
        text += QStringLiteral("export ") + property.first + QLatin1Char('=') +
                shellQuoted(property.second) + QLatin1Char('\n');
    }
    return text;
}

QString CPropertyText::javaScriptEscaped(const QString& value)
{
    QString escaped;
    escaped.reserve(value.size() + 8);
    for (const QChar ch : value)
    {
        const ushort c = ch.unicode();
        switch (c)
        {
        case '\\':
            escaped += QLatin1String("\\\\");
            break;
        case '"':
            escaped += QLatin1String("\\\"");
            break;
        case '\n':
            escaped += QLatin1String("\\n");
            break;
        case '\r':
            escaped += QLatin1String("\\r");
            break;
        case '\t':
            escaped += QLatin1String("\\t");
            break;
        default:
            // Line terminators end a string literal; "<", ">" and "&" could close the
            // script element or start markup in the XML around it; other control
            // characters are not allowed in an XML document at all.
            if (c < 0x20 || c == 0x7f || c == 0x2028 || c == 0x2029 || c == '<' || c == '>' ||
                c == '&')
                escaped += QStringLiteral("\\u%1").arg(c, 4, 16, QLatin1Char('0'));
            else
                escaped += ch;
        }
    }
    return escaped;
}

QString CPropertyText::javaScriptText(const Properties& properties)
{
    QString text = QStringLiteral("var ts_properties = new Array();\n");
    for (const QPair<QString, QString>& property : properties)
        text += QStringLiteral("ts_properties[\"") + javaScriptEscaped(property.first) +
                QStringLiteral("\"] = \"") + javaScriptEscaped(property.second) +
                QStringLiteral("\";\n");
    return text;
}

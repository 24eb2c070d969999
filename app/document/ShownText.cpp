#include "ShownText.h"

#include <QCoreApplication>

bool CShownText::needsEscape(QChar c)
{
    const ushort code = c.unicode();
    if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
        return true;
    // Line and paragraph separators break lines as a line feed does.
    return code == 0x2028 || code == 0x2029;
}

QString CShownText::escaped(const QString& text)
{
    QString result;
    result.reserve(text.size());
    for (const QChar c : text)
    {
        if (!needsEscape(c))
        {
            result += c;
            continue;
        }
        switch (c.unicode())
        {
        case '\n':
            result += QLatin1String("\\n");
            break;
        case '\r':
            result += QLatin1String("\\r");
            break;
        case '\t':
            result += QLatin1String("\\t");
            break;
        default:
            result += c.unicode() < 0x100
                          ? QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'))
                          : QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
            break;
        }
    }
    return result;
}

QString CShownText::quoted(const QString& value)
{
    if (value.size() <= QuoteLimit)
        return QLatin1Char('"') + escaped(value) + QLatin1Char('"');
    int cut = QuoteLimit;
    // Never between the halves of a surrogate pair.
    if (value.at(cut - 1).isHighSurrogate())
        --cut;
    return QLatin1Char('"') + escaped(value.left(cut)) + QLatin1Char('"') +
           QCoreApplication::translate("CShownText", "... (%1 characters in all)")
               .arg(value.size());
}

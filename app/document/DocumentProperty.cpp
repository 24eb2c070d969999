#include "DocumentProperty.h"

#include <QCoreApplication>
#include <algorithm>

namespace
{
// A line edit holds at most this many characters (QLineEdit's own limit).
const int kLineMaximum = 32767;

QString tr(const char* text)
{
    return QCoreApplication::translate("CDocumentProperty", text);
}

bool isControl(QChar c)
{
    return c.category() == QChar::Other_Control;
}

// Whether c may stand at an input position of an input mask.
bool fitsMask(QChar position, QChar c)
{
    switch (position.toLatin1())
    {
    case 'A':
    case 'a':
        return c.isLetter();
    case 'N':
    case 'n':
        return c.isLetterOrNumber();
    case 'X':
    case 'x':
        return c.isPrint() && !c.isSpace();
    case '9':
    case '0':
        return c.isDigit();
    case 'D':
    case 'd':
        return c.isDigit() && c != QLatin1Char('0');
    case '#':
        return c.isDigit() || c == QLatin1Char('+') || c == QLatin1Char('-');
    case 'H':
    case 'h':
        return QStringLiteral("0123456789abcdefABCDEF").contains(c);
    case 'B':
    case 'b':
        return c == QLatin1Char('0') || c == QLatin1Char('1');
    default:
        return false;
    }
}

bool isMaskInput(QChar c)
{
    return QStringLiteral("AaNnXx90Dd#HhBb").contains(c);
}

// Bits of a bit mask value; a value that is no decimal integer has none.
qlonglong bits(const QString& value)
{
    bool ok = false;
    const qlonglong number = value.toLongLong(&ok, 10);
    return ok ? number : 0;
}
} // namespace

QString CDocumentProperty::kindName(Kind kind)
{
    switch (kind)
    {
    case Text:
        return QStringLiteral("lineedit");
    case Number:
        return QStringLiteral("numberedit");
    case MultiLine:
        return QStringLiteral("textedit");
    case Spin:
        return QStringLiteral("spinbox");
    case Choice:
        return QStringLiteral("combobox");
    case Check:
        return QStringLiteral("checkbox");
    case Group:
        return QStringLiteral("buttongroup");
    case Mask:
        return QStringLiteral("bitmask");
    case Other:
        break;
    }
    return QStringLiteral("other");
}

QString CDocumentProperty::initialValue() const
{
    switch (m_kind)
    {
    case Spin:
        return QString::number(qBound(m_iMinimum, 0, qMax(m_iMinimum, m_iMaximum)));
    case Choice:
        return m_lChoices.value(0);
    case Check:
        return m_sUncheckValue;
    case Group:
        // With nothing checked a group stands for its default.
        return m_sDefault;
    case Mask:
        return QStringLiteral("0");
    case Text:
    case Number:
        return masked(QString());
    case MultiLine:
    case Other:
        break;
    }
    return m_sValue;
}

QString CDocumentProperty::masked(const QString& value) const
{
    if (m_sInputMask.isEmpty())
        return value.left(kLineMaximum);
    // The mask's own blank character ("...;_") is not part of it.
    QString mask = m_sInputMask;
    const int blank = mask.lastIndexOf(QLatin1Char(';'));
    if (blank >= 0 && blank == mask.size() - 2)
        mask.truncate(blank);
    // The positions of the mask: a literal, or an input class with its case.
    struct CPosition
    {
        QChar m_char;
        bool m_bLiteral;
        int m_iCase; // 1 upper, -1 lower
    };
    QList<CPosition> positions;
    int caseMode = 0;
    for (int i = 0; i < mask.size(); ++i)
    {
        const QChar m = mask.at(i);
        if (m == QLatin1Char('>') || m == QLatin1Char('<') || m == QLatin1Char('!'))
            caseMode = m == QLatin1Char('>') ? 1 : m == QLatin1Char('<') ? -1 : 0;
        else if (m == QLatin1Char('\\') && i + 1 < mask.size())
            positions.append({mask.at(++i), true, 0});
        else
            positions.append({m, !isMaskInput(m), caseMode});
    }
    // As a line edit takes text: characters that fit no position are dropped, a
    // literal typed where it stands is taken as it.
    QString result;
    int filled = 0;
    int at = 0;
    for (const QChar c : value)
    {
        bool consumed = false;
        while (at < positions.size() && positions.at(at).m_bLiteral)
        {
            const QChar literal = positions.at(at++).m_char;
            result += literal;
            if (literal == c)
            {
                consumed = true;
                filled = result.size();
                break;
            }
        }
        if (consumed)
            continue;
        if (at >= positions.size())
            break;
        const CPosition& position = positions.at(at);
        if (!fitsMask(position.m_char, c))
            continue;
        result += position.m_iCase > 0 ? c.toUpper() : position.m_iCase < 0 ? c.toLower() : c;
        filled = result.size();
        ++at;
    }
    return result.left(filled);
}

bool CDocumentProperty::setValue(const QString& value)
{
    switch (m_kind)
    {
    case Text:
    case Number:
        m_sValue = masked(value);
        break;
    case MultiLine:
    {
        // A text document keeps lines, not the characters that ended them.
        QString text = value;
        text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
        text.replace(QChar(QChar::LineSeparator), QLatin1Char('\n'));
        text.replace(QChar(QChar::ParagraphSeparator), QLatin1Char('\n'));
        text.replace(QChar(QChar::Nbsp), QLatin1Char(' '));
        m_sValue = text;
        break;
    }
    case Spin:
    {
        bool ok = false;
        const int number = value.toInt(&ok, 10);
        if (ok)
            m_sValue = QString::number(qBound(m_iMinimum, number, qMax(m_iMinimum, m_iMaximum)));
        break;
    }
    case Choice:
    case Group:
        if (m_lChoices.contains(value))
            m_sValue = value;
        break;
    case Check:
        if (value == m_sCheckValue)
            m_sValue = m_sCheckValue;
        else if (value == m_sUncheckValue)
            m_sValue = m_sUncheckValue;
        break;
    case Mask:
    {
        const qlonglong mask = bits(value);
        qlonglong result = 0;
        for (const QString& box : qAsConst(m_lChoices))
        {
            if (mask & bits(box))
                result |= bits(box);
        }
        m_sValue = QString::number(result);
        break;
    }
    case Other:
        break;
    }
    return m_sValue == value;
}

bool CDocumentProperty::accepts(const QString& value, QString* reason) const
{
    QString why;
    switch (m_kind)
    {
    case Text:
        if (!m_sInputMask.isEmpty() && masked(value) != value)
            why = tr("does not fit the input mask \"%1\"").arg(m_sInputMask);
        else if (m_sInputMask.isEmpty() && std::any_of(value.begin(), value.end(), isControl))
            why = tr("holds control characters");
        else if (value.size() > kLineMaximum)
            why = tr("is longer than %1 characters").arg(kLineMaximum);
        break;
    case Number:
    {
        bool ok = false;
        value.toInt(&ok, 10);
        if (!value.isEmpty() && (!ok || value.trimmed() != value))
            why = tr("is not a whole number");
        break;
    }
    case Spin:
    {
        bool ok = false;
        const int number = value.toInt(&ok, 10);
        if (!ok)
            why = tr("is not a whole number");
        else if (number < m_iMinimum || number > m_iMaximum)
            why = tr("is outside %1").arg(constraint());
        break;
    }
    case Choice:
    case Group:
    case Check:
        if (!constraint().isEmpty() &&
            !(m_kind == Check ? (value == m_sCheckValue || value == m_sUncheckValue)
                              : m_lChoices.contains(value)))
            why = tr("is not %1").arg(constraint());
        break;
    case Mask:
    {
        bool ok = false;
        const qlonglong mask = value.toLongLong(&ok, 10);
        qlonglong all = 0;
        for (const QString& box : m_lChoices)
            all |= bits(box);
        if (!ok || (mask & ~all) != 0)
            why = tr("is not %1").arg(constraint());
        break;
    }
    case MultiLine:
    case Other:
        break;
    }
    if (reason)
        *reason = why;
    return why.isEmpty();
}

QString CDocumentProperty::constraint() const
{
    QStringList quoted;
    switch (m_kind)
    {
    case Spin:
        return tr("%1 to %2").arg(m_iMinimum).arg(m_iMaximum);
    case Choice:
    case Group:
        for (const QString& choice : m_lChoices)
            quoted << QLatin1Char('"') + choice + QLatin1Char('"');
        return tr("one of %1").arg(quoted.join(QStringLiteral(", ")));
    case Check:
        return tr("\"%1\" (checked) or \"%2\" (unchecked)").arg(m_sCheckValue, m_sUncheckValue);
    case Mask:
        return tr("a sum of %1").arg(m_lChoices.join(QStringLiteral(", ")));
    case Text:
        return m_sInputMask.isEmpty() ? QString() : tr("input mask \"%1\"").arg(m_sInputMask);
    case Number:
        return tr("a whole number");
    case MultiLine:
    case Other:
        break;
    }
    return QString();
}

bool CDocumentProperty::nameLooksSecret(const QString& property)
{
    static const char* const words[] = {"TOKEN", "PASSWORD", "PASSWD", "SECRET", "APIKEY"};
    for (const char* word : words)
    {
        if (property.contains(QLatin1String(word), Qt::CaseInsensitive))
            return true;
    }
    return false;
}

bool CDocumentProperty::secretAttribute(const QString& value)
{
    const QString lower = value.trimmed().toLower();
    return !lower.isEmpty() && lower != QLatin1String("0") && lower != QLatin1String("f") &&
           lower != QLatin1String("false");
}

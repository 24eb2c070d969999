#include "StringsTable.h"

#include <QFile>
#include <QtDebug>
#include <cctype>

namespace Localization
{
namespace
{

// Decodes UTF-8 strictly up to the first invalid sequence. Returns the byte offset
// of that sequence, or -1 when everything decoded.
int decodeUtf8(const QByteArray& data, int start, QString& text)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.constData());
    const int size = data.size();
    int i = start;
    text.reserve(size - start);
    while (i < size)
    {
        const unsigned char lead = bytes[i];
        char32_t codePoint = 0;
        int length = 0;
        if (lead < 0x80)
        {
            codePoint = lead;
            length = 1;
        }
        else if (lead >= 0xC2 && lead <= 0xDF)
        {
            codePoint = lead & 0x1F;
            length = 2;
        }
        else if (lead >= 0xE0 && lead <= 0xEF)
        {
            codePoint = lead & 0x0F;
            length = 3;
        }
        else if (lead >= 0xF0 && lead <= 0xF4)
        {
            codePoint = lead & 0x07;
            length = 4;
        }
        else
            return i;
        if (i + length > size)
            return i;
        for (int k = 1; k < length; ++k)
        {
            const unsigned char next = bytes[i + k];
            if ((next & 0xC0) != 0x80)
                return i;
            codePoint = (codePoint << 6) | (next & 0x3F);
        }
        // Overlong forms, surrogates and values past Unicode are not text.
        if ((length == 3 && codePoint < 0x800) || (length == 4 && codePoint < 0x10000) ||
            (codePoint >= 0xD800 && codePoint <= 0xDFFF) || codePoint > 0x10FFFF)
            return i;
        const uint ucs4 = static_cast<uint>(codePoint);
        text.append(QString::fromUcs4(&ucs4, 1));
        i += length;
    }
    return -1;
}

// Decodes UTF-16 code units after the byte-order mark up to the first unpaired
// surrogate or odd trailing byte. Returns the byte offset of the fault or -1.
int decodeUtf16(const QByteArray& data, bool bigEndian, QString& text)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.constData());
    const int size = data.size();
    int i = 2;
    text.reserve((size - 2) / 2);
    auto unitAt = [&](int offset) -> ushort
    {
        return bigEndian ? static_cast<ushort>((bytes[offset] << 8) | bytes[offset + 1])
                         : static_cast<ushort>((bytes[offset + 1] << 8) | bytes[offset]);
    };
    while (i + 1 < size)
    {
        const ushort unit = unitAt(i);
        if (QChar::isHighSurrogate(unit))
        {
            if (i + 3 >= size || !QChar::isLowSurrogate(unitAt(i + 2)))
                return i;
            text.append(QChar(unit));
            text.append(QChar(unitAt(i + 2)));
            i += 4;
            continue;
        }
        if (QChar::isLowSurrogate(unit))
            return i;
        text.append(QChar(unit));
        i += 2;
    }
    return i < size ? i : -1;
}

bool hasUnpairedSurrogate(const QString& text)
{
    for (int i = 0; i < text.size(); ++i)
    {
        if (text.at(i).isHighSurrogate())
        {
            if (i + 1 >= text.size() || !text.at(i + 1).isLowSurrogate())
                return true;
            ++i;
        }
        else if (text.at(i).isLowSurrogate())
            return true;
    }
    return false;
}

// Recursive-descent reader over the decoded text; stops at the first fault.
class Parser
{
public:
    explicit Parser(const QString& text) : m_text(text) {}

    // Adds every complete entry to strings; returns the fault, empty when none.
    QString parse(std::map<std::wstring, std::wstring>& strings)
    {
        while (true)
        {
            if (!skipSpaceAndComments())
                return m_error;
            if (atEnd())
                return QString();
            QString key;
            if (!readString(key, "key"))
                return m_error;
            if (!skipSpaceAndComments())
                return m_error;
            QString value = key;
            if (!atEnd() && current() == QLatin1Char('='))
            {
                ++m_pos;
                if (!skipSpaceAndComments())
                    return m_error;
                if (!readString(value, "value"))
                    return m_error;
                if (!skipSpaceAndComments())
                    return m_error;
            }
            if (atEnd() || current() != QLatin1Char(';'))
                return fail("expected ';' after the entry for \"" + key + "\"");
            ++m_pos;
            strings[key.toStdWString()] = value.toStdWString();
        }
    }

private:
    bool atEnd() const { return m_pos >= m_text.size(); }
    QChar current() const { return m_text.at(m_pos); }

    int lineAt(int pos) const { return m_text.leftRef(pos).count(QLatin1Char('\n')) + 1; }

    QString fail(const QString& reason, int pos = -1)
    {
        m_error = QStringLiteral("line %1: %2").arg(lineAt(pos < 0 ? m_pos : pos)).arg(reason);
        return m_error;
    }

    bool skipSpaceAndComments()
    {
        while (!atEnd())
        {
            const QChar c = current();
            if (c.isSpace())
            {
                ++m_pos;
            }
            else if (c == QLatin1Char('/') && m_pos + 1 < m_text.size() &&
                     m_text.at(m_pos + 1) == QLatin1Char('*'))
            {
                const int end = m_text.indexOf(QLatin1String("*/"), m_pos + 2);
                if (end < 0)
                {
                    fail(QStringLiteral("unterminated comment"));
                    return false;
                }
                m_pos = end + 2;
            }
            else if (c == QLatin1Char('/') && m_pos + 1 < m_text.size() &&
                     m_text.at(m_pos + 1) == QLatin1Char('/'))
            {
                const int end = m_text.indexOf(QLatin1Char('\n'), m_pos);
                m_pos = end < 0 ? m_text.size() : end + 1;
            }
            else
                return true;
        }
        return true;
    }

    static bool isBareChar(QChar c)
    {
        const ushort u = c.unicode();
        return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') ||
               u == '_' || u == '$' || u == '+' || u == '/' || u == ':' || u == '.' || u == '-';
    }

    bool readString(QString& out, const char* what)
    {
        out.clear();
        if (atEnd())
        {
            fail(QStringLiteral("unexpected end of table, expected a %1").arg(what));
            return false;
        }
        if (current() != QLatin1Char('"'))
        {
            const int start = m_pos;
            while (!atEnd() && isBareChar(current()))
                ++m_pos;
            if (m_pos == start)
            {
                fail(QStringLiteral("unexpected character '%1', expected a %2")
                         .arg(current())
                         .arg(what));
                return false;
            }
            out = m_text.mid(start, m_pos - start);
            return true;
        }
        const int start = m_pos++;
        while (true)
        {
            if (atEnd())
            {
                fail(QStringLiteral("unterminated quoted %1").arg(what), start);
                return false;
            }
            const QChar c = m_text.at(m_pos++);
            if (c == QLatin1Char('"'))
                break;
            if (c != QLatin1Char('\\'))
            {
                out.append(c);
                continue;
            }
            if (!readEscape(out))
                return false;
        }
        if (hasUnpairedSurrogate(out))
        {
            fail(QStringLiteral("unpaired surrogate in %1").arg(what), start);
            return false;
        }
        return true;
    }

    bool readEscape(QString& out)
    {
        if (atEnd())
        {
            fail(QStringLiteral("unterminated escape"));
            return false;
        }
        const QChar e = m_text.at(m_pos++);
        switch (e.unicode())
        {
        case 'n':
            out.append(QLatin1Char('\n'));
            return true;
        case 't':
            out.append(QLatin1Char('\t'));
            return true;
        case 'r':
            out.append(QLatin1Char('\r'));
            return true;
        case 'a':
            out.append(QLatin1Char('\a'));
            return true;
        case 'b':
            out.append(QLatin1Char('\b'));
            return true;
        case 'f':
            out.append(QLatin1Char('\f'));
            return true;
        case 'v':
            out.append(QLatin1Char('\v'));
            return true;
        case 'U':
        case 'u':
        {
            if (m_pos + 4 > m_text.size())
            {
                fail(QStringLiteral("\\%1 needs four hexadecimal digits").arg(e));
                return false;
            }
            const QString digits = m_text.mid(m_pos, 4);
            bool ok = true;
            for (const QChar d : digits)
                ok = ok && d.unicode() < 0x80 && std::isxdigit(d.unicode());
            const ushort unit = ok ? digits.toUShort(&ok, 16) : 0;
            if (!ok)
            {
                fail(QStringLiteral("\\%1 needs four hexadecimal digits, not \"%2\"")
                         .arg(e)
                         .arg(digits));
                return false;
            }
            out.append(QChar(unit));
            m_pos += 4;
            return true;
        }
        default:
            break;
        }
        if (e >= QLatin1Char('0') && e <= QLatin1Char('7'))
        {
            // Up to three octal digits.
            int value = e.unicode() - '0';
            for (int k = 0; k < 2 && !atEnd() && current() >= QLatin1Char('0') &&
                            current() <= QLatin1Char('7');
                 ++k)
                value = value * 8 + (m_text.at(m_pos++).unicode() - '0');
            out.append(QChar(static_cast<ushort>(value)));
            return true;
        }
        // \" \\ \' and any other character stand for themselves.
        out.append(e);
        return true;
    }

    const QString& m_text;
    int m_pos = 0;
    QString m_error;
};

} // namespace

StringsTable StringsTable::fromData(const QByteArray& data, QString* error)
{
    StringsTable table;
    QString text;
    int fault = -1;
    QString encoding;
    if (data.startsWith("\xFF\xFE"))
    {
        encoding = QStringLiteral("UTF-16LE");
        fault = decodeUtf16(data, false, text);
    }
    else if (data.startsWith("\xFE\xFF"))
    {
        encoding = QStringLiteral("UTF-16BE");
        fault = decodeUtf16(data, true, text);
    }
    else
    {
        encoding = QStringLiteral("UTF-8");
        fault = decodeUtf8(data, data.startsWith("\xEF\xBB\xBF") ? 3 : 0, text);
    }

    Parser parser(text);
    QString parseError = parser.parse(table.m_lStrings);
    QString message;
    if (fault >= 0)
    {
        // The entry cut off by the bad bytes is incomplete and never reached the table.
        message = QStringLiteral("invalid %1 at byte %2").arg(encoding).arg(fault);
    }
    else
        message = parseError;
    if (error)
        *error = message;
    return table;
}

StringsTable StringsTable::fromFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
    {
        qWarning().noquote() << "Localization: cannot read string table" << path << "-"
                             << file.errorString();
        return StringsTable();
    }
    QString error;
    StringsTable table = fromData(file.readAll(), &error);
    if (!error.isEmpty())
        qWarning().noquote() << "Localization: malformed string table" << path << "-" << error
                             << "- the strings after it stay untranslated";
    return table;
}

const std::wstring* StringsTable::find(const std::wstring& key) const
{
    const auto it = m_lStrings.find(key);
    return it == m_lStrings.end() ? nullptr : &it->second;
}

} // namespace Localization

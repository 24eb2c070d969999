#include "XmlDefinitionReader.h"

#include "XmlObject.h"

#include "utils/TinyXmlText.h"

#include <QCoreApplication>
#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstring>
#include <tinyxml.h>

namespace
{
// The scanner below follows TinyXML's own reading rules, so that the depth it
// finds is the depth TinyXML would recurse to. Where TinyXML would stop with an
// error the scan may go on; it then only over-counts, which is safe.
class DepthScanner
{
public:
    DepthScanner(const char* data, size_t size) : m_p(data), m_end(data + size) {}

    int run()
    {
        while (m_p < m_end)
        {
            if (*m_p != '<')
            {
                // Text: TinyXML reads it up to the next '<', a character at a time.
                step();
                continue;
            }
            markup();
        }
        return m_maxDepth;
    }

private:
    bool startsWith(const char* text, bool ignoreCase = false) const
    {
        const size_t length = std::strlen(text);
        if (size_t(m_end - m_p) < length)
            return false;
        for (size_t i = 0; i < length; ++i)
        {
            const unsigned char a = static_cast<unsigned char>(m_p[i]);
            const unsigned char b = static_cast<unsigned char>(text[i]);
            if (ignoreCase ? std::tolower(a) != std::tolower(b) : a != b)
                return false;
        }
        return true;
    }

    void skipPast(const char* terminator)
    {
        const size_t length = std::strlen(terminator);
        while (m_p < m_end && !startsWith(terminator))
            ++m_p;
        m_p = size_t(m_end - m_p) >= length ? m_p + length : m_end;
    }

    // Steps over one character of text as TinyXML does: a UTF-8 lead byte takes as
    // many bytes as it announces, whatever they are, so a '<' or a quote right after
    // a stray lead byte belongs to the character and ends nothing.
    void step()
    {
        const int length = TiXmlBase::utf8ByteTable[static_cast<unsigned char>(*m_p)];
        m_p += std::min<std::ptrdiff_t>(std::max(length, 1), m_end - m_p);
    }

    static bool isSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
    // TinyXML takes every byte above 127 for a letter (UTF-8 names).
    static bool isNameStart(char c)
    {
        const unsigned char u = static_cast<unsigned char>(c);
        return u >= 127 || std::isalpha(u) || c == '_';
    }
    static bool isNameChar(char c)
    {
        const unsigned char u = static_cast<unsigned char>(c);
        return u >= 127 || std::isalnum(u) || c == '_' || c == '-' || c == '.' || c == ':';
    }

    void skipSpace()
    {
        while (m_p < m_end && isSpace(*m_p))
            ++m_p;
    }

    // An attribute value: quoted up to the matching quote, otherwise up to white
    // space, '/' or '>'.
    void attributeValue()
    {
        if (m_p < m_end && (*m_p == '"' || *m_p == '\''))
        {
            const char quote = *m_p++;
            while (m_p < m_end && *m_p != quote)
                step();
            if (m_p < m_end)
                ++m_p;
            return;
        }
        while (m_p < m_end && !isSpace(*m_p) && *m_p != '/' && *m_p != '>')
            ++m_p;
    }

    void attribute()
    {
        while (m_p < m_end && isNameChar(*m_p))
            ++m_p;
        skipSpace();
        if (m_p < m_end && *m_p == '=')
        {
            ++m_p;
            skipSpace();
            attributeValue();
        }
    }

    void declaration()
    {
        m_p += 5;
        while (m_p < m_end)
        {
            skipSpace();
            if (m_p >= m_end)
                return;
            if (*m_p == '>')
            {
                ++m_p;
                return;
            }
            if (startsWith("version", true) || startsWith("encoding", true) ||
                startsWith("standalone", true))
            {
                attribute();
                continue;
            }
            while (m_p < m_end && *m_p != '>' && !isSpace(*m_p))
                ++m_p;
        }
    }

    void element()
    {
        ++m_p; // '<'
        while (m_p < m_end && isNameChar(*m_p))
            ++m_p;
        while (m_p < m_end)
        {
            skipSpace();
            if (m_p >= m_end)
                return;
            if (*m_p == '/')
            {
                // Empty element: one level deeper, but nothing nests inside it.
                m_p = m_p + 1 < m_end && m_p[1] == '>' ? m_p + 2 : m_p + 1;
                if (m_depth + 1 > m_maxDepth)
                    m_maxDepth = m_depth + 1;
                return;
            }
            if (*m_p == '>')
            {
                ++m_p;
                if (++m_depth > m_maxDepth)
                    m_maxDepth = m_depth;
                return;
            }
            const char* before = m_p;
            attribute();
            if (m_p == before)
                ++m_p; // a stray character TinyXML would reject; do not stall
        }
    }

    void markup()
    {
        if (startsWith("</"))
        {
            if (m_depth > 0)
                --m_depth;
            skipPast(">");
        }
        else if (startsWith("<?xml", true))
            declaration();
        else if (startsWith("<!--"))
            skipPast("-->");
        else if (startsWith("<![CDATA["))
            skipPast("]]>");
        else if (startsWith("<!"))
            skipPast(">");
        else if (m_p + 1 < m_end && isNameStart(m_p[1]))
            element();
        else
            skipPast(">");
    }

    const char* m_p;
    const char* const m_end;
    int m_depth = 0;
    int m_maxDepth = 0;
};
} // namespace

int CXmlDefinitionReader::read(const QByteArray& bytes, TiXmlDocument& document, QString& error)
{
    document.Clear();
    const int depth = nestingDepth(bytes);
    if (depth > m_gMaxElementDepth)
    {
        error = QCoreApplication::translate("CXmlDefinitionReader",
                                            "Elements are nested deeper than %1 levels.")
                    .arg(m_gMaxElementDepth);
        return CXmlObject::ParseError;
    }
    TiXmlBase::SetCondenseWhiteSpace(true);
    // TinyXML reads up to a NUL; the bytes are copied so that NULs always end them.
    const std::string text = orbilib::utils::tinyXmlText(bytes.constData(), size_t(bytes.size()));
    document.Parse(text.c_str(), nullptr, TIXML_ENCODING_UTF8);
    if (document.Error())
    {
        error = QCoreApplication::translate("CXmlDefinitionReader",
                                            "XML error at line %1, column %2: %3")
                    .arg(document.ErrorRow())
                    .arg(document.ErrorCol())
                    .arg(QString::fromUtf8(document.ErrorDesc()));
        document.Clear();
        return CXmlObject::ParseError;
    }
    if (!document.RootElement())
    {
        error = QCoreApplication::translate("CXmlDefinitionReader",
                                            "The page definition has no root element.");
        return CXmlObject::ParseError;
    }
    return CXmlObject::ParseSuccess;
}

int CXmlDefinitionReader::nestingDepth(const QByteArray& bytes)
{
    return DepthScanner(bytes.constData(), size_t(bytes.size())).run();
}
